// The import of any file through the imaging library, as a job does it: the size from the
// header first (a picture over a small bound is not decoded here), then the import itself,
// which converts what the BMP reader does not take. Runs in a private directory, which holds
// the import's own temporary directories too and is removed on every way out: at exit, and
// by a watcher process once the fuzzer has ended in any way (a crash, a timeout, a kill).
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "quillet/imaging.h"
#include "quillet/import.h"
#include "quillet/pipeline.h"

namespace {

std::string inputName;
char privateDir[] = "/tmp/quillet-fuzz-import-XXXXXX";

void RemovePrivateDir() {
  std::error_code ignored;
  std::filesystem::remove_all(privateDir, ignored);
}

// A child that waits for the end of a pipe the fuzzer alone holds open, which comes however
// the fuzzer ends, and then removes the directory. It outlives a Ctrl-C or a SIGTERM sent to
// the whole process group.
void WatchPrivateDir() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) __builtin_trap();
  const pid_t watcher = fork();
  if (watcher < 0) __builtin_trap();
  if (watcher == 0) {
    for (int ignored : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(ignored, SIG_IGN);
    close(ends[1]);
    char byte;
    while (read(ends[0], &byte, 1) != 0 && errno == EINTR) {
    }
    RemovePrivateDir();
    _exit(0);
  }
  close(ends[0]);  // the writing end stays open, unused, until the fuzzer ends
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char* dir = mkdtemp(privateDir);
  if (!dir) __builtin_trap();
  std::atexit(RemovePrivateDir);
  WatchPrivateDir();
  if (chdir(dir) != 0) __builtin_trap();
  setenv("TMPDIR", dir, 1);
  // The library's own bounds, read when it starts: no input makes it decode a huge picture
  // or start threads of its own.
  setenv("MAGICK_WIDTH_LIMIT", "4096", 1);
  setenv("MAGICK_HEIGHT_LIMIT", "4096", 1);
  setenv("MAGICK_AREA_LIMIT", "16MP", 1);
  setenv("MAGICK_MEMORY_LIMIT", "256MiB", 1);
  setenv("MAGICK_THREAD_LIMIT", "1", 1);
  inputName = std::string(dir) + "/input";
  if (!quillet::LoadImagingLibrary().available) __builtin_trap();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(inputName.c_str(), "wb");
  if (!file) __builtin_trap();
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) __builtin_trap();

  const quillet::ImagingApi& imaging = quillet::LoadImagingLibrary();
  quillet::ImportSetup setup;
  setup.imaging = &imaging;
  const quillet::ImageImporter importer = quillet::ImporterFor(setup);
  quillet::InputReport report;
  if (importer.inspect(importer.context, inputName.c_str(), report) &&
      (!quillet::FitsEnlargement(report.width, report.height) || report.width * report.height > 256 * 256))
    return 0;
  quillet::AppState app;
  if (quillet::ImportImage(app, imaging, quillet::ErrorDisplay{}, inputName.c_str()) && !quillet::HasImage24(app.workingBitmap))
    __builtin_trap();
  return 0;
}
