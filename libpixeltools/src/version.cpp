#include "pixeltools.h"

extern "C" const char* pxt_version(void) { return PIXELTOOLS_VERSION; }
