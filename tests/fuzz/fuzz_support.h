// What the harnesses (fuzzer.cpp), the seed maker (make_seeds.cpp) and the
// message file tests share: a scratch device root per process, host file
// access, the platform's state files, and each store's files as they reach them.
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

#include "email/email_internal.h"
#include "ems/ems_internal.h"
#include "mms/mms_internal.h"
#include "msgstore/email.h"
#include "msgstore/ems.h"
#include "msgstore/mms.h"
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

// The first account the account store hands out: its INBOX index is fuzzed.
constexpr DWORD kAccount = msgstore::email::kAccountStore.firstId;

enum Kind { kEms, kMms, kEmail, kNone };  // of store: kStores[kind], or none

// A store's message files and index: the message file lies in msgFolder, the
// fuzzed index is that of indexFolder, and the records added to it are of
// addFolder (the EMS ones SIM copies).
struct Store {
  const char* name;  // of its harnesses: "ems" for ems_read, ems_index, ...
  const msgstore::StoreOps& ops;
  DWORD msgFolder, indexFolder, addFolder;
  int (*createDir)(bool);
  void (*add)(DWORD oid, DWORD folder, FILETIME);
  void (*remove)(DWORD oid, DWORD folder);
  DWORD (*list)(CArray<tagOidArray, tagOidArray>&, DWORD folder);
  size_t smallest[3];  // no shorter file is read: current layout, old layout, quick read
};
// clang-format off
inline const Store kStores[] = {
    {"ems", msgstore::ems::kStoreOps, EMS_FOLDER_INBOX, EMS_FOLDER_INBOX, EMS_FOLDER_SIM_INBOX,
     EMSMsgStore_CreateDir, EMSMsgStore_AddMsgToIni, EMSMsgStore_DeleteMsgFromIni,
     EMSMsgStore_GetQuickMsgList, {33, 1, 33}},
    {"mms", msgstore::mms::kStoreOps, MMS_FOLDER_INBOX, MMS_FOLDER_INBOX, MMS_FOLDER_INBOX,
     MMSMsgStore_CreateDir, MMSMsgStore_AddMsgToIni, MMSMsgStore_DeleteMsgFromIni,
     MMSMsgStore_GetQuickMsgList, {88, 82, 46}},
    {"email", msgstore::email::kStoreOps, EMAIL_FOLDER_DRAFT, kAccount, kAccount,
     EmailMsgStore_CreateDir, EmailMsgStore_AddMsgToIni, EmailMsgStore_DeleteMsgFromIni,
     EmailMsgStore_GetQuickMsgList, {90, 84, 36}}};
// clang-format on

struct Extra {  // the store's own part of a record
  tagMMSMSGPROPS mms{};
  tagEMAILMSGPROPS email{};
};

// A message file of store kind in the current layout or the old one.
inline int WriteFile(Kind kind, bool old, WCHAR* path, tagMSGPROPS* m, Extra* x) {
  if (kind == kEms) return (old ? EMSMsgStore_WriteToFileOld : EMSMsgStore_WriteToFile)(path, m);
  if (kind == kMms)
    return (old ? MMSMsgStore_WriteToFileOld : MMSMsgStore_WriteToFile)(path, m, &x->mms);
  return (old ? EmailMsgStore_WriteToFileOld : EmailMsgStore_WriteToFile)(path, m, &x->email);
}
inline int ReadFile(Kind kind, bool old, WCHAR* path, tagMSGPROPS* m, Extra* x, bool withBody) {
  if (kind == kEms)
    return (old ? EMSMsgStore_ReadFromFileOld : EMSMsgStore_ReadFromFile)(path, m, withBody);
  if (kind == kEmail)
    return (old ? EmailMsgStore_ReadFromFileOld : EmailMsgStore_ReadFromFile)(path, m, &x->email,
                                                                              withBody);
  return old ? MMSMsgStore_ReadFromFileOld(path, m, &x->mms, withBody)
             : MMSMsgStore_ReadFromFile(path, m, &x->mms, withBody);
}
inline void Release(Kind kind, tagMSGPROPS* m, Extra* x) {
  if (kind == kEms) return EMSMsgStore_FreeMsgProps(m);
  if (kind == kMms) return MMSMsgStore_FreeMsgProps(m, &x->mms);
  EmailMsgStore_FreeMsgProps(m, &x->email);
}

}  // namespace msgstore_fuzz

#endif  // MSGSTORE_TESTS_FUZZ_FUZZ_SUPPORT_H_
