#include "colour.h"

namespace mostel {

ChannelMaskTable ChannelMasks = {0x000000FFu, 0x0000FF00u, 0x00FF0000u};

void WriteChannelMasks() { ChannelMasks = {0x000000FFu, 0x0000FF00u, 0x00FF0000u}; }

}  // namespace mostel
