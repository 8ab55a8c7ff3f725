// mostel: enlarges a PNG three times with the edge-rule scaler.
#include <cstdio>
#include <cstring>
#include <new>

#include "run.h"

namespace {

const char kHelp[] =
    "Usage: mostel INPUT.png OUTPUT.png\n"
    "       mostel -cells WxH INPUT.png OUTPUT.png\n"
    "       mostel [-cells WxH] [-overwrite yes] [-quiet] -outdir DIR FILE|FOLDER...\n"
    "Enlarges a PNG picture three times, keeping the hard edges of pixel art.\n"
    "Every output pixel is a colour of the input, alpha included.\n"
    "\n"
    "  -outdir DIR     every file named and every PNG below each folder, enlarged into\n"
    "                  DIR/NAME.png (folders mirrored); existing outputs are kept\n"
    "  -overwrite yes  a batch replaces outputs that exist\n"
    "  -cells WxH      each WxH cell of a sheet enlarged on its own\n"
    "  -quiet          a batch shows no progress line\n"
    "  -h, --help      print this help and end\n"
    "      --version   print the version and end\n"
    "\n"
    "Exit status: 0 when the output (every output of a batch) was written; a batch: 6 when\n"
    "some inputs were skipped, 7 when some failed; see mostel(1) for the others.\n";

const char kVersion[] = "mostel " PIXELTOOLS_VERSION "\n";

// Writes text to standard output; 0 when it got there, 1 otherwise (a closed or full output).
int Answer(const char* text) {
  const bool written = std::fputs(text, stdout) >= 0;
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A first argument that asks about the program is answered instead of running it, whatever
  // follows; every other command line goes to the scaler's driver as it is.
  if (argc >= 2) {
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) return Answer(kHelp);
    if (std::strcmp(argv[1], "--version") == 0) return Answer(kVersion);
  }
  // An allocation of the standard library that fails anywhere in the run ends it here.
  try {
    return mostel::RunMostel(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fputs("ERR: memory exhausted\n", stderr);
    return -1;
  }
}
