#include "HostInfo.h"
