// Process-wide settings of the XCP driver, set by main from the command line.
#pragma once

// With option -i, relayed XCP requests are answered from the model instead
// of being forwarded to the UPS.
extern bool g_bUseInternalXCP;
