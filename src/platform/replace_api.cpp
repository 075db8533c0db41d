// The one way files are replaced: the new content is written whole under a
// temporary name beside the file ("<name>.<process id>.<serial>.tmp", see
// TempPathFor) and renamed over it; whatever fails removes the temporary
// file and leaves the old one. Message files, indexes, counters, the account
// database, the registry and the handset state all go through here.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_files.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

// A stdio stream over a descriptor whose reads, writes, seeks and close go
// through the platform's system-call table.
ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  for (;;) {
    const ssize_t n = Sys().read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t StreamWrite(void* cookie, const char* data, size_t size) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  size_t done = 0;
  while (done < size) {
    const ssize_t n = Sys().write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;  // marks the stream's error
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  const off_t at = Sys().lseek(fd, static_cast<off_t>(*offset), whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int StreamClose(void* cookie) {
  return Sys().close(static_cast<int>(reinterpret_cast<intptr_t>(cookie)));
}

int OpenTempFd(const std::string& host) {
  int fd;
  do {
    fd = Sys().open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A stream on the temporary file fd, unbuffered: each write of the writer
// reaches the file (or fails) at once.
FILE* TempStream(int descriptor) {
  UniqueFd fd(descriptor);
  if (!fd.valid()) return nullptr;
  FILE* stream = OpenStream(fd.get(), "wb");
  if (stream == nullptr) return nullptr;
  fd.Release();
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

// Closes the stream; true when every write reached the file.
bool CloseTemp(FILE* stream) {
  const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  return std::fclose(stream) == 0 && written;
}

}  // namespace

FILE* OpenStream(int fd, const char* mode) {
  const cookie_io_functions_t functions = {StreamRead, StreamWrite, StreamSeek, StreamClose};
  return ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), mode, functions);
}

FILE* OpenHostStream(const std::string& host, const char* mode) {
  // The flags fopen gives each mode: r, r+, w, w+, a, a+ ('b' changes nothing).
  const bool plus = std::strchr(mode, '+') != nullptr;
  int flags = O_CLOEXEC | (plus ? O_RDWR : (mode[0] == 'r' ? O_RDONLY : O_WRONLY));
  if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;
  const int fd = Sys().open(host.c_str(), flags, 0666);
  if (fd < 0) return nullptr;
  FILE* stream = OpenStream(fd, mode);
  if (stream == nullptr) Sys().close(fd);
  return stream;
}

std::string TempHostPathFor(const std::string& host) { return ToUtf8(TempPathFor(ToUtf16(host))); }

bool ReplaceHostFile(const std::string& host, const std::string& bytes) {
  const std::string temp = TempHostPathFor(host);
  FILE* stream = TempStream(OpenTempFd(temp));
  if (stream == nullptr) return false;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
  if (CloseTemp(stream) && Sys().rename(temp.c_str(), host.c_str()) == 0) return true;
  Sys().unlink(temp.c_str());
  return false;
}

}  // namespace platform

FileReplacement::FileReplacement(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return;
  path_ = path;
  temp_ = TempPathFor(path_);
  stream_ = platform::TempStream(
      platform::OnHostPath(temp_, platform::PathUse::kCreate, platform::OpenTempFd));
}

FileReplacement::~FileReplacement() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    DeleteFileW(temp_.c_str());
  }
}

bool FileReplacement::Commit() {
  if (stream_ == nullptr) return false;
  const bool written = platform::CloseTemp(stream_);
  stream_ = nullptr;
  if (written && MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(temp_.c_str());
  return false;
}

bool ReplaceFileContents(const WCHAR* path, const void* data, DWORD size, bool* opened) {
  FileReplacement replacement(path);
  if (opened != nullptr) *opened = replacement.stream() != nullptr;
  if (replacement.stream() == nullptr) return false;
  if (size > 0) std::fwrite(data, 1, size, replacement.stream());
  return replacement.Commit();
}

namespace {

// The store trees are a few levels deep, the registry's keys some more; the
// bound keeps a directory link that points back up from sending the walk
// round in circles.
constexpr int kMaxDepth = 12;

void CollectStaleTemps(const std::u16string& dir, int depth, std::vector<std::u16string>* out) {
  // Names are gathered first so that the caller's deletions do not disturb
  // the search.
  std::vector<std::u16string> subdirs;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((dir + u"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    data.cFileName[MAX_PATH - 1] = 0;
    const std::u16string name = data.cFileName;
    DWORD writer = 0;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      subdirs.push_back(name);
    else if (IsTempFileName(name, &writer) && !IsProcessRunning(writer))
      out->push_back(dir + u"\\" + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  if (depth < kMaxDepth)
    for (const std::u16string& sub : subdirs) CollectStaleTemps(dir + u"\\" + sub, depth + 1, out);
}

}  // namespace

std::vector<std::u16string> FindStaleTempFiles(const std::u16string& dir) {
  std::vector<std::u16string> found;
  CollectStaleTemps(dir == u"\\" ? std::u16string() : dir, 0, &found);
  return found;
}

}  // namespace msgstore
