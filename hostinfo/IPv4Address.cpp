#include "IPv4Address.h"
