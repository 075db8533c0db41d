// Whole-file replacement through a temporary file and a rename.
#include "common/replace_file.h"

#include "common/msg_file.h"

#include "msgstore/platform.h"

namespace msgstore {
namespace {

bool IsDirectoryPath(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

ReplacingStream::ReplacingStream(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return;
  // The file is made under the name a message stream opens (the low byte of
  // each code unit), so that a path with wider characters still gets its file.
  path_ = MsgFile_DevicePath(path);
  replacement_ = std::make_unique<FileReplacement>(path_.c_str());
}

ReplacingStream::~ReplacingStream() { Commit(); }

bool ReplacingStream::Commit() {
  if (!replacement_ || replacement_->stream() == nullptr) return false;
  return replacement_->Commit();
}

bool ReplacingStream::TargetIsDirectory() const { return IsDirectoryPath(path_.c_str()); }

bool ReplaceFileWhole(const WCHAR* path, const void* data, DWORD size, bool* created) {
  if (created != nullptr) *created = false;
  if (path == nullptr || path[0] == 0) return false;
  if (ReplaceFileContents(path, data, size, created)) return true;
  // A directory in the file's place refuses it as creating it would have.
  if (created != nullptr && IsDirectoryPath(path)) *created = false;
  return false;
}

size_t RemoveStaleTempFiles(const std::u16string& dir) {
  size_t removed = 0;
  for (const std::u16string& path : FindStaleTempFiles(dir))
    if (DeleteFileW(path.c_str())) ++removed;
  return removed;
}

}  // namespace msgstore
