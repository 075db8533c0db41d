// Whole-file replacement through a temporary file and a rename.
#include "common/replace_file.h"

#include <vector>

#include "common/msg_file.h"
#include "common/msg_str.h"
#include "common/scoped.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace {

bool IsDirectoryPath(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The store trees are a few levels deep; the bound keeps a directory link
// that points back up from sending the walk round in circles.
constexpr int kMaxDepth = 8;

size_t RemoveStaleUnder(const std::u16string& dir, int depth) {
  // Names are gathered first so that deleting does not disturb the search.
  std::vector<std::u16string> stale, subdirs;
  WIN32_FIND_DATAW data{};
  {
    ScopedFind find(FindFirstFileW(JoinPath(dir, u"*").c_str(), &data));
    if (!find.valid()) return 0;
    do {
      data.cFileName[MAX_PATH - 1] = 0;
      const std::u16string name = data.cFileName;
      DWORD writer = 0;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (name != u"." && name != u"..") subdirs.push_back(name);
      } else if (IsTempFileName(name, &writer) && !IsProcessRunning(writer)) {
        stale.push_back(name);
      }
    } while (FindNextFileW(find.get(), &data));
  }
  size_t removed = 0;
  for (const std::u16string& name : stale)
    if (DeleteFileW(JoinPath(dir, name).c_str())) ++removed;
  for (const std::u16string& name : subdirs)
    if (depth < kMaxDepth) removed += RemoveStaleUnder(JoinPath(dir, name), depth + 1);
  return removed;
}

}  // namespace

ReplacingStream::ReplacingStream(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return;
  path_ = path;
  temp_ = TempPathFor(path_);
  stream_ = MsgFile_Open(temp_.c_str(), MSGFILE_MODE_WRITE);
  // The file goes out in the few writes its writer makes, unbuffered.
  if (stream_ != nullptr) std::setvbuf(stream_, nullptr, _IONBF, 0);
}

ReplacingStream::~ReplacingStream() { Commit(); }

bool ReplacingStream::Commit() {
  if (stream_ == nullptr) return false;
  // A write or flush that failed leaves the stream's error mark; the final
  // flush is checked by the close.
  const bool written = std::ferror(stream_) == 0;
  const bool closed = MsgFile_Close(stream_) == 0;
  stream_ = nullptr;
  if (written && closed && MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  DeleteFileW(temp_.c_str());
  return false;
}

bool ReplacingStream::TargetIsDirectory() const { return IsDirectoryPath(path_.c_str()); }

bool ReplaceFileWhole(const WCHAR* path, const void* data, DWORD size, bool* created) {
  if (created != nullptr) *created = false;
  if (path == nullptr || path[0] == 0) return false;
  const std::u16string temp = TempPathFor(path);
  bool written = false;
  {
    ScopedFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    if (created != nullptr) *created = true;
    DWORD done = 0;
    written = WriteFile(file.get(), data, size, &done, nullptr) && done == size;
  }
  if (written && MoveFileExW(temp.c_str(), path, MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileW(temp.c_str());
  // A directory in the file's place refuses it as creating it would have.
  if (created != nullptr && IsDirectoryPath(path)) *created = false;
  return false;
}

size_t RemoveStaleTempFiles(const std::u16string& dir) { return RemoveStaleUnder(dir, 0); }

}  // namespace msgstore
