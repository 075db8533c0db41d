// What the harnesses (fuzzer.cpp) and the seed maker (make_seeds.cpp) share:
// a scratch device root per process, host file access and the places where
// the platform keeps its state files.
#ifndef MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "email/email_description.h"
#include "msgstore/platform.h"

// A broken promise of a reader: libFuzzer records the abort as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace msgstore_fuzz {

inline std::string& Root() {
  static std::string root;
  return root;
}

// Makes an empty device root under $TMPDIR (or /tmp), removed at a normal
// exit; a crashing run leaves it behind for a look.
inline void UseScratchRoot(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  Root() = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/msgstore-fuzz-" + name +
           "-XXXXXX";
  FUZZ_CHECK(::mkdtemp(&Root()[0]) != nullptr);
  msgstore::SetDeviceRoot(Root());
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(Root(), ec);
  });
}

// Overwritten in place and cut to length afterwards: truncating to zero
// first makes ext4 flush the new blocks on close, many times slower.
inline void PutHostFile(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  FUZZ_CHECK(fd >= 0);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
  FUZZ_CHECK(::ftruncate(fd, static_cast<off_t>(size)) == 0 && ::close(fd) == 0);
}

inline bool GetHostFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  out->assign(std::istreambuf_iterator<char>(in), {});
  return in.is_open();
}

inline std::u16string Wide(const WCHAR* text) { return text != nullptr ? text : u""; }

inline uint32_t LoadU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline std::string HandsetStateFile() { return Root() + "/.platform/handset/state"; }
// The registry value the e-mail account store counts its accounts with, and
// the file the registry keeps it in.
constexpr const WCHAR* kAccountsKey = msgstore::email::kAccountStore.registryKey;
constexpr const WCHAR* kAccountIdValue = msgstore::email::kAccountStore.counterValue;
inline std::string AccountIdValueFile() {
  std::string file = Root() + "/.platform/registry/HKLM/";
  for (const WCHAR* c = kAccountsKey; *c != 0; ++c)
    file += *c == u'\\' ? std::string(c == kAccountsKey ? "k." : "/k.")
                        : std::string(1, static_cast<char>(std::tolower(*c)));
  file += "/v.";
  for (const WCHAR* c = kAccountIdValue; *c != 0; ++c) file += static_cast<char>(std::tolower(*c));
  return file;
}

}  // namespace msgstore_fuzz

#endif  // MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
