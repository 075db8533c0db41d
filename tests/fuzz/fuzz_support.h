// What every file-reader harness shares: a scratch device root of its own
// per process, a way to put the fuzz input where a reader looks for it, and a
// check that stops the run (a finding) when a reader breaks a promise.
//
// A harness for a new reader is a few lines:
//
//   extern "C" int LLVMFuzzerInitialize(int*, char***) {
//     msgstore_fuzz::UseScratchRoot("mms_read");
//     return 0;
//   }
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
//     msgstore_fuzz::PutDeviceFile(u"\\DiskOnChip\\...\\1.mms", data, size);
//     ... call the reader, FUZZ_CHECK what it promises, free what it returns ...
//     return 0;
//   }
//
// plus msgstore_add_fuzzer(mms_read) in CMakeLists.txt and a few valid files
// from make_seeds.cpp.
#ifndef MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "msgstore/platform.h"

// Reports a broken promise of a reader and aborts, which libFuzzer records as
// a crash with the input that caused it.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace msgstore_fuzz {

namespace detail {
inline std::string& Root() {
  static std::string root;
  return root;
}
inline void RemoveRoot() {
  std::error_code ec;
  if (!Root().empty()) std::filesystem::remove_all(Root(), ec);
}
}  // namespace detail

// Makes an empty device root for this process under $TMPDIR (or /tmp), makes
// it the device root and removes it when the process exits normally. A
// crashing run leaves it behind for a look. Call once, from
// LLVMFuzzerInitialize.
inline const std::string& UseScratchRoot(const char* name) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
  std::string pattern = base + "/msgstore-fuzz-" + name + "-XXXXXX";
  if (::mkdtemp(&pattern[0]) == nullptr) {
    std::perror("msgstore fuzz: mkdtemp");
    std::exit(1);
  }
  detail::Root() = pattern;
  msgstore::SetDeviceRoot(pattern);
  std::atexit(detail::RemoveRoot);
  return detail::Root();
}

inline const std::string& ScratchRoot() { return detail::Root(); }

// Replaces the host file at hostPath with exactly size bytes of data; the
// parent directory must exist.
inline void PutHostFile(const std::string& hostPath, const uint8_t* data, size_t size) {
  // Overwritten in place and cut to length afterwards: truncating to zero
  // first makes ext4 push the new blocks to disk on close, which slows every
  // run down many times over.
  int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::perror(hostPath.c_str());
    std::abort();  // not a finding of the reader, but nothing can be tested
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      std::perror(hostPath.c_str());
      std::abort();
    }
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    std::perror(hostPath.c_str());
    std::abort();
  }
  ::close(fd);
}

// The same for the file that a device path ("\DiskOnChip\...") names.
inline void PutDeviceFile(const std::u16string& devicePath, const uint8_t* data, size_t size) {
  PutHostFile(msgstore::HostPath(devicePath), data, size);
}

// Reads a whole host file; false when it cannot be opened.
inline bool GetHostFile(const std::string& hostPath, std::string* out) {
  FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (file == nullptr) return false;
  out->clear();
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, n);
  std::fclose(file);
  return true;
}

// A zero-terminated wide string as a u16string; empty for null.
inline std::u16string Wide(const WCHAR* text) { return text != nullptr ? text : u""; }

inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// State files of the platform under the scratch root, where the registry and
// the simulated handset keep them.
inline std::string HandsetStateFile() { return ScratchRoot() + "/.platform/handset/state"; }
// The registry value the e-mail account store counts its accounts with: the
// key "\Software\Corvane\Email\Accounts" is a directory per component, the
// value a file, both named in lower case.
constexpr const WCHAR* kAccountsKey = u"Software\\Corvane\\Email\\Accounts";
constexpr const WCHAR* kAccountIdValue = u"AccoutnId";
inline std::string AccountIdValueFile() {
  return ScratchRoot() +
         "/.platform/registry/HKLM/k.software/k.corvane/k.email/k.accounts/v.accoutnid";
}

}  // namespace msgstore_fuzz

#endif  // MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
