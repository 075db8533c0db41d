// Buffered stream helpers: every message and index file is written through
// these, with a flush of all output streams after each complete write.
#include "common/msg_file.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "msgstore/platform.h"
#include "platform/host_files.h"
#include "platform/host_path.h"

namespace msgstore {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

const char* ModeString(int mode) {
  switch (mode) {
    case 0:
      return "rb";
    case 1:
      return "rb+";
    case 2:
      return "wb";
    case 3:
      return "wb+";
    case 4:
      return "ab";
    case 5:
      return "ab+";
    default:
      return nullptr;
  }
}

}  // namespace

int32_t MsgFile_NarrowPath(char** narrowPath, const WCHAR* path) {
  if (path == nullptr) {
    if (narrowPath != nullptr) *narrowPath = nullptr;
    return MSGFILE_E_BADPATH;
  }
  if (narrowPath == nullptr) return MSGFILE_E_BADPATH;
  size_t count = 0;
  while (path[count] != 0) ++count;
  if (count == 0) {
    *narrowPath = nullptr;
    return MSGFILE_E_BADPATH;
  }
  char* buffer = static_cast<char*>(std::calloc(count + 1, 1));
  if (buffer == nullptr) {
    *narrowPath = nullptr;
    return MSGFILE_E_NOMEMORY;
  }
  *narrowPath = buffer;
  for (size_t i = 0; i < count; ++i) buffer[i] = static_cast<char>(path[i] & 0xFF);
  buffer[count] = 0;
  return 0;
}

std::u16string MsgFile_DevicePath(const WCHAR* path) {
  std::u16string device;
  for (const WCHAR* p = path; p != nullptr && *p != 0; ++p) device.push_back(*p & 0xFF);
  return device;
}

FILE* MsgFile_Open(const WCHAR* path, int mode) {
  if (path == nullptr) return nullptr;
  char* raw = nullptr;
  if (MsgFile_NarrowPath(&raw, path) != 0) return nullptr;
  std::unique_ptr<char, FreeDeleter> narrow(raw);
  const char* modeString = ModeString(mode);
  if (modeString == nullptr) return nullptr;
  // The narrow name is a device path; the stream is opened on the host file
  // that stands for it.
  std::u16string device;
  for (const char* p = narrow.get(); *p != 0; ++p) {
    device.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
  }
  narrow.reset();
  FILE* stream = nullptr;
  const auto use =
      mode == 0 || mode == 1 ? platform::PathUse::kExisting : platform::PathUse::kCreate;
  platform::OnHostPath(device, use, [&](const std::string& host) {
    stream = platform::OpenHostStream(host, modeString);
    return stream != nullptr ? 0 : -1;
  });
  return stream;
}

DWORD MsgFile_Write(const void* buffer, DWORD itemSize, DWORD itemCount, FILE* stream) {
  if (buffer == nullptr || stream == nullptr) return MSGFILE_WRITE_FAILED;
  size_t written = std::fwrite(buffer, itemSize, itemCount, stream);
  if (written < itemCount) return MSGFILE_WRITE_FAILED;
  std::fflush(nullptr);
  return static_cast<DWORD>(written);
}

int32_t MsgFile_Seek(FILE* stream, int32_t offset, DWORD origin) {
  if (stream == nullptr) return MSGFILE_E_BADHANDLE;
  int whence;
  switch (origin) {
    case 0:
      whence = SEEK_SET;
      break;
    case 1:
      whence = SEEK_CUR;
      break;
    case 2:
      whence = SEEK_END;
      break;
    default:
      return MSGFILE_E_BADHANDLE;
  }
  if (std::fseek(stream, offset, whence) != 0) return MSGFILE_E_SEEK;
  return 0;
}

int32_t MsgFile_Close(FILE* stream) {
  if (stream == nullptr) return MSGFILE_E_BADHANDLE;
  if (std::fclose(stream) != 0) return MSGFILE_E_CLOSE;
  return 0;
}

}  // namespace msgstore
