// Files the jobs write: outputs that appear under their names only when complete, and the
// job's temporary files, private to it and removed on every way out.
#pragma once

#include <cstddef>

#include "pixeltools/output_file.h"
#include "pixeltools/temporaries.h"

namespace quillet {

// Room for a temporary file's path with its terminator.
inline constexpr std::size_t kTempPathChars = 1024;
using pixeltools::kFailureReasonChars;

// The writer both programs share (pixeltools/output_file.h): kReplace for the user's outputs,
// kCreateNew for the job's temporary files.
using pixeltools::ByteRange;
using pixeltools::OutputMode;

// Why the last write of this thread failed, as the platform words it, and the file it was
// writing; both empty when none failed since the last ClearOutputFailure.
struct OutputFailure {
  char path[kTempPathChars] = {};
  char reason[kFailureReasonChars] = {};
};
const OutputFailure& LastOutputFailure();
bool OutputFailed();
void ClearOutputFailure();

// Writes the parts one after the other as the file name; every write and the close are
// checked. False when anything failed (see LastOutputFailure); the file under name is then
// as it was, unless it was written in place.
bool WriteOutputFile(const char* name, const ByteRange* parts, std::size_t count,
                     OutputMode mode = OutputMode::kReplace);
bool WriteOutputFile(const char* name, const void* data, std::size_t size,
                     OutputMode mode = OutputMode::kReplace);

// The temporary files of one job, in a directory of their own made for the job in the
// system's temporary location. The destructor removes the files and the directory.
struct JobTemporaries {
  JobTemporaries() = default;
  JobTemporaries(const JobTemporaries&) = delete;
  JobTemporaries& operator=(const JobTemporaries&) = delete;
  ~JobTemporaries();

  bool created = false;
  char directory[kTempPathChars] = {};  // the job's directory; before it exists, where it was asked for
  char enlargeName[kTempPathChars] = {};     // "_temp.bmp": each smart 2x step
  char importTiffName[kTempPathChars] = {};  // "temp24.tif": the import's first conversion
  char importBmpName[kTempPathChars] = {};   // "temp24.bmp": the import's second conversion
  char inputCopyName[kTempPathChars] = {};   // "input": a copy of an input that can be read once
  int slots[5] = {-1, -1, -1, -1, -1};       // registrations for RemoveTemporariesNow
};

// Makes the job's directory (readable by its owner alone), sets the names and registers them
// for RemoveTemporariesNow; false with LastOutputFailure set when the directory cannot be
// made or the registry cannot take them (nothing is left behind then).
bool CreateJobTemporaries(JobTemporaries& temporaries);

// Removes the files and the directory of the job; also done by the destructor.
void RemoveJobTemporaries(JobTemporaries& temporaries);

// Removes every temporary file and directory of the process that exists at this moment,
// outputs half-written beside their targets included. Safe to call from a signal handler
// or from another thread just before the process ends.
using pixeltools::RemoveTemporariesNow;

// The directory part of a path, without its last separator; "." when it has none.
void DirectoryOf(const char* path, char (&directory)[kTempPathChars]);

}  // namespace quillet
