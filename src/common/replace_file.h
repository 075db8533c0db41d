// Files are never rewritten in place: the new content is written whole under
// a temporary name beside the file and then renamed over it (the platform's
// FileReplacement), so that another process, or a writer that dies half-way,
// sees the old file or the new one.
// A write that fails (full disk, I/O error, file size limit) drops the new
// content and leaves the old file as it was.
#ifndef MSGSTORE_COMMON_REPLACE_FILE_H_
#define MSGSTORE_COMMON_REPLACE_FILE_H_

#include <cstdio>
#include <memory>
#include <string>

#include "msgstore/platform.h"
#include "msgstore/types.h"

namespace msgstore {

// A write stream (MsgFile_Open mode 2) that replaces path when it is closed.
// The content goes through MsgFile_Write as with a plain stream. As with
// MsgFile_Open, the file is named by the low bytes of path's characters.
class ReplacingStream {
 public:
  // Opens the temporary file; fails when path is empty. A directory in
  // path's place is found when the new file is put there (Commit fails and
  // TargetIsDirectory tells why).
  explicit ReplacingStream(const WCHAR* path);
  // Closes the stream and puts the new file in place (Commit).
  ~ReplacingStream();
  ReplacingStream(const ReplacingStream&) = delete;
  ReplacingStream& operator=(const ReplacingStream&) = delete;

  explicit operator bool() const { return get() != nullptr; }
  FILE* get() const { return replacement_ ? replacement_->stream() : nullptr; }

  // Closes the stream; when every write reached the file, renames it over
  // the target, else removes it. True when the target now holds the new
  // content.
  bool Commit();
  // True when path names a directory, which no file can replace: writers
  // report it as a file that could not be opened.
  bool TargetIsDirectory() const;

 private:
  std::u16string path_;
  std::unique_ptr<FileReplacement> replacement_;
};

// Replaces path with size bytes of data through the platform's file
// functions. False, with path unchanged, when anything fails; *created (when
// given) tells whether the new file could be created at all, which is what
// writers that do not look at single writes report.
bool ReplaceFileWhole(const WCHAR* path, const void* data, DWORD size, bool* created = nullptr);

// Removes the temporary files in the tree under dir (dir included) whose
// writer no longer runs; returns how many were removed.
size_t RemoveStaleTempFiles(const std::u16string& dir);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_REPLACE_FILE_H_
