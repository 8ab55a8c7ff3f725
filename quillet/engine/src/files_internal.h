// Pieces shared by the platform files of the job's files.
#pragma once

#include <cstdio>
#include <string>

#include "quillet/files.h"

namespace quillet {

// Keeps path for RemoveTemporariesNow until released; -1 when no slot is free or the path
// does not fit (the file is then only removed by its owner).
int RegisterTemporary(const char* path, bool directory);
void ReleaseTemporary(int slot);

// Eight characters of [a-z0-9] for a name that no other call or process picks at the same
// moment: UniqueSeed mixed with a count of the calls.
std::string UniqueSuffix();
// Platform: the clock and the process number, mixed.
unsigned long long UniqueSeed();

// Sets LastOutputFailure.
void RecordOutputFailure(const char* path, const char* reason);

// Platform: the system's temporary location, without a trailing separator.
bool SystemTempDirectory(char (&directory)[kTempPathChars]);
// Platform: a new directory inside parent that only this user may enter; its path.
bool MakePrivateDirectory(const char* parent, char (&directory)[kTempPathChars]);
// Platform: removal calls that are safe in a signal handler; failures are ignored.
void RemoveFileNow(const char* path);
void RemoveDirectoryNow(const char* path);
// Platform: the separator that joins a directory and a name.
char PathSeparator();
// Platform: a new file of that path (never through a link), open for writing and reading
// back, that only this process can reach and that is gone once it is closed or the process
// ends, however it ends. Null, with LastOutputFailure set, when it cannot be made.
std::FILE* OpenScratchFile(const char* path);

}  // namespace quillet
