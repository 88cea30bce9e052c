#include "MyActivityLog.h"
