#include "xcp/driver/Settings.h"

bool g_bUseInternalXCP = false;
