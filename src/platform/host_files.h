// Whole host files and directory trees for the platform's own state (the
// registry, the handset state, the device root), through the system-call
// table like every other file access.
#ifndef MSGSTORE_PLATFORM_HOST_FILES_H_
#define MSGSTORE_PLATFORM_HOST_FILES_H_

#include <cstdio>
#include <string>

namespace msgstore {
namespace platform {

// A stdio stream on fd whose I/O goes through the system-call table; it owns
// fd once made. nullptr when it cannot be made (fd is then the caller's).
FILE* OpenStream(int fd, const char* mode);
// A stdio stream on a host file opened as fopen opens it with mode, through
// the system-call table; nullptr (errno set) when it cannot be opened.
FILE* OpenHostStream(const std::string& host, const char* mode);
// The temporary name beside a host file (the scheme of TempPathFor).
std::string TempHostPathFor(const std::string& host);
// Replaces the host file whole with bytes (temporary file, then rename).
bool ReplaceHostFile(const std::string& host, const std::string& bytes);
// The whole content of a host file; false when it cannot be read.
bool ReadHostFile(const std::string& host, std::string* bytes);
// What is at a host path: nothing, a directory, something else.
enum class HostKind { kMissing, kDirectory, kOther };
HostKind HostPathKind(const std::string& host);
// Makes the directory and its missing parents; true when it is there.
bool MakeHostDirs(const std::string& dir);
// Removes a file or a directory tree; true when nothing is left of it.
bool RemoveHostTree(const std::string& path);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_HOST_FILES_H_
