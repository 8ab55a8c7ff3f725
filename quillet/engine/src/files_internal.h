// Pieces shared by the platform files of the job's files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "pixeltools/temporaries.h"
#include "quillet/files.h"

namespace quillet {

// The registry of temporaries and the unique names, shared by both programs.
using pixeltools::RegisterTemporary;
using pixeltools::RegistrationRefusal;
using pixeltools::ReleaseTemporary;
using pixeltools::RemoveDirectoryNow;
using pixeltools::RemoveFileNow;
using pixeltools::UniqueSeed;
using pixeltools::UniqueSuffix;

// Sets LastOutputFailure.
void RecordOutputFailure(const char* path, const char* reason);

// Platform: the system's temporary location, without a trailing separator.
bool SystemTempDirectory(char (&directory)[kTempPathChars]);
// Platform: a new directory inside parent that only this user may enter; its path.
bool MakePrivateDirectory(const char* parent, char (&directory)[kTempPathChars]);
// Platform: the separator that joins a directory and a name.
char PathSeparator();
// Platform: a new file of that path (never through a link), open for writing and reading
// back, that only this process can reach and that is gone once it is closed or the process
// ends, however it ends. Null, with LastOutputFailure set, when it cannot be made.
std::FILE* OpenScratchFile(const char* path);
// Platform: moves a scratch file's position to offset bytes from its start, past 2 GiB too;
// false with errno set when it could not.
bool SeekScratchFile(std::FILE* file, std::uint64_t offset);

}  // namespace quillet
