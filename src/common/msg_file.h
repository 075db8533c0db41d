// Buffered stream helpers through which every message and index file is
// written. Result codes never leave the library.
#ifndef MSGSTORE_COMMON_MSG_FILE_H_
#define MSGSTORE_COMMON_MSG_FILE_H_

#include <cstdio>
#include <string>

#include "msgstore/types.h"

namespace msgstore {

constexpr int32_t MSGFILE_E_NOMEMORY = static_cast<int32_t>(0xFFF5F5F8);
constexpr int32_t MSGFILE_E_BADPATH = static_cast<int32_t>(0xFFF5F5F9);
constexpr int32_t MSGFILE_E_BADHANDLE = static_cast<int32_t>(0xFFF5F5FA);
constexpr int32_t MSGFILE_E_SEEK = static_cast<int32_t>(0xFFF5FAF5);
constexpr int32_t MSGFILE_E_CLOSE = static_cast<int32_t>(0xFFF5FAF8);
constexpr DWORD MSGFILE_WRITE_FAILED = 0xFFFFFFFFu;

// Open modes: 0 "rb", 1 "rb+", 2 "wb", 3 "wb+", 4 "ab", 5 "ab+".
constexpr int MSGFILE_MODE_WRITE = 2;

// Stores a calloc'd narrow copy of path (low byte of each code unit) through
// narrowPath; the caller frees it.
int32_t MsgFile_NarrowPath(char** narrowPath, const WCHAR* path);
// The device path that a stream of path is opened on: the low byte of each
// code unit, as MsgFile_NarrowPath forms it.
std::u16string MsgFile_DevicePath(const WCHAR* path);
FILE* MsgFile_Open(const WCHAR* path, int mode);
// Number of items written, or MSGFILE_WRITE_FAILED. Flushes all output
// streams after a complete write.
DWORD MsgFile_Write(const void* buffer, DWORD itemSize, DWORD itemCount, FILE* stream);
int32_t MsgFile_Seek(FILE* stream, int32_t offset, DWORD origin);
int32_t MsgFile_Close(FILE* stream);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_MSG_FILE_H_
