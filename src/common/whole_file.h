// Reading a file in one piece through the platform's file functions, as
// every reader of the stores does.
#ifndef MSGSTORE_COMMON_WHOLE_FILE_H_
#define MSGSTORE_COMMON_WHOLE_FILE_H_

#include <vector>

#include "msgstore/types.h"

namespace msgstore {

enum class ReadResult {
  kOk,
  kOpenFailed,  // the file could not be opened (missing, a directory, ...)
  kTooSmall,    // the size is minSize or less
  kReadFailed,  // the size query, allocation or ReadFile failed
};

// Opens path (read access, shared read, open existing), checks that the size
// is larger than minSize, and reads the whole file into out (zero-filled,
// exactly the file's size). The handle is always closed.
ReadResult ReadWholeFile(const WCHAR* path, DWORD minSize, std::vector<uint8_t>* out);

// Reads the head of a file whose length is stored in the file itself: the
// little-endian 32-bit value at offset lengthAt, plus extra, is how many
// bytes from the start are read (never more than the file holds). Fails as
// ReadWholeFile does for a missing or empty file, and when the file is too
// short to hold the length.
ReadResult ReadFileHead(const WCHAR* path, DWORD lengthAt, DWORD extra, std::vector<uint8_t>* out);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_WHOLE_FILE_H_
