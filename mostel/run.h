// One run of mostel: arguments in, PNG out, messages on the console. The job itself goes
// through the pixeltools library.
#pragma once

namespace mostel {

// argv[1] is the input PNG, argv[2] the output PNG; any other count of arguments gets the usage
// text (and, for more than two, a hint on standard error) and nothing is read or written.
// Returns the exit status: 0 when the output was written; 1 when the input could not be
// decoded; 2 after the usage text; 3 when the output could not be encoded or written; -1 when
// memory ran out.
int RunMostel(int argc, const char* const* argv);

}  // namespace mostel
