#include "AlohaMessages.h"
