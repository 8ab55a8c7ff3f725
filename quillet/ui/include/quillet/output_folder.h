// The folder a job's frames go to, looked at before the job runs, so that a job whose
// frames could not be written fails before any work.
#pragma once

#include "quillet/files.h"

namespace quillet {

// Whether c ends a folder's name in a path: '/', and on Windows '\\' too.
bool IsPathSeparator(char c);

// Whether path names an existing folder (through a link too).
bool IsFolder(const char* path);

// Whether files can be made in folder: it exists, is a folder and may be written. False with
// the reason, as the platform words it.
bool CanWriteInto(const char* folder, char (&reason)[kFailureReasonChars]);

// Whether path names an existing file (not a folder) that may be written.
bool CanWriteFile(const char* path);

}  // namespace quillet
