// One run of mostel: arguments in, PNG out, messages on the console.
#pragma once

namespace mostel {

// argv[1] is the input PNG, argv[2] the output PNG; further arguments are ignored. Returns the
// exit status: 0 when the output was written; 1 when the input could not be decoded; 2 after
// the usage text; 3 when the output could not be encoded or written; -1 when memory ran out.
int RunMostel(int argc, const char* const* argv);

}  // namespace mostel
