#include "AlohaUDP.h"
