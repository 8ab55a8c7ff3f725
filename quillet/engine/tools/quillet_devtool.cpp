// Runs one engine stage on a BMP file so that its output can be checked from outside.
//   quillet_devtool enlarge IN.bmp OUT.bmp
//   quillet_devtool render IN.bmp OUT.bmp ANGLE SCALE [THREADS]
// ANGLE is the engine's own angle: degrees, positive turns the picture clockwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quillet/app_state.h"
#include "quillet/bitmap.h"
#include "quillet/enlarge.h"
#include "quillet/render.h"

namespace {

int Usage() {
  std::fputs(
      "usage: quillet_devtool enlarge IN.bmp OUT.bmp\n"
      "       quillet_devtool render IN.bmp OUT.bmp ANGLE SCALE [THREADS]\n",
      stderr);
  return 2;
}

bool Load(const char* name, quillet::WorkingBitmap& bitmap) {
  const std::int32_t rows = quillet::LoadBitmapFile(name, bitmap);
  const int bits = quillet::HeaderBitCount(bitmap.header.get());
  if (rows == 0 || bits != 24) {
    std::fprintf(stderr, "%s: not a 24-bit BMP (rows %d, bit count %d)\n", name, rows, bits);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  quillet::AppState& app = quillet::TheAppState();
  if (std::strcmp(argv[1], "enlarge") == 0 && argc == 4) {
    if (!Load(argv[2], app.workingBitmap)) return 1;
    if (!quillet::EnlargeStep(app.workingBitmap, argv[3])) {
      std::fprintf(stderr, "%s: could not write\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (std::strcmp(argv[1], "render") == 0 && (argc == 6 || argc == 7)) {
    if (!Load(argv[2], app.workingBitmap)) return 1;
    const double angle = std::strtod(argv[4], nullptr);
    const double scale = std::strtod(argv[5], nullptr);
    const int threads = argc == 7 ? std::atoi(argv[6]) : 0;
    if (!quillet::RenderFrame(quillet::ProgressOf(app), app.workingBitmap, angle, scale, argv[3], threads)) {
      std::fprintf(stderr, "%s: could not write\n", argv[3]);
      return 1;
    }
    return 0;
  }
  return Usage();
}
