// The registry of files and folders that are there only while a job runs: whatever a
// terminating signal (or the end of the process) meets in it is removed.
#pragma once

#include <cstddef>
#include <string>

namespace pixeltools {

// Room for a registered path with its terminator: any path the system opens, and the hidden
// name written beside it.
inline constexpr std::size_t kRegisteredPathChars = 4096 + 64;
// Registrations held at once by every job of the process together.
inline constexpr int kTemporarySlots = 64;

// Keeps path for RemoveTemporariesNow until released; -1 when no slot is free or the path
// does not fit. A caller that gets -1 must not create the file: nothing would remove it.
int RegisterTemporary(const char* path, bool directory);
void ReleaseTemporary(int slot);

// Why RegisterTemporary refused path, in words for a message.
const char* RegistrationRefusal(const char* path);

// Removes every registered file, then every registered folder, that exists at this moment.
// Safe to call from a signal handler or from another thread just before the process ends.
void RemoveTemporariesNow();

// Eight characters of [a-z0-9] for a name that no other call or process picks at the same
// moment: UniqueSeed mixed with a count of the calls.
std::string UniqueSuffix();

// Platform: the clock and the process number, mixed.
unsigned long long UniqueSeed();
// Platform: removal calls that are safe in a signal handler; failures are ignored.
void RemoveFileNow(const char* path);
void RemoveDirectoryNow(const char* path);

}  // namespace pixeltools
