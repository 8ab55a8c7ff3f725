// The system's words for a Win32 error code, as messages quote them.
#pragma once

#include <string>

namespace pixeltools {

// FormatMessage's text for error without its trailing full stop and line break, or
// "error N" when the system has none.
std::string SystemErrorText(unsigned long error);

}  // namespace pixeltools
