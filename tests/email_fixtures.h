// Fixtures shared by the e-mail message store tests: a device with both
// e-mail trees, the incoming-server account in the registry, messages put
// straight into files, and readers of the files, indexes and counter that do
// not go through the library.
#ifndef MSGSTORE_TESTS_EMAIL_FIXTURES_H_
#define MSGSTORE_TESTS_EMAIL_FIXTURES_H_

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/index_file.h"
#include "msgstore/email.h"
#include "msgstore/platform.h"
#include "test_support.h"

namespace msgstore_test {

using Bytes = std::vector<uint8_t>;

// Little-endian byte builder for expected files, independent of the library.
struct Builder {
  Bytes b;
  Builder& U16(uint16_t v) { return Raw({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
  Builder& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(v >> 16); }
  Builder& Time(FILETIME t) { return U32(t.dwLowDateTime).U32(t.dwHighDateTime); }
  Builder& Str(const WCHAR* s) {
    for (; s && *s; ++s) U16(*s);
    return U16(0);
  }
  Builder& Raw(const Bytes& raw) {
    b.insert(b.end(), raw.begin(), raw.end());
    return *this;
  }
  uint32_t size() const { return static_cast<uint32_t>(b.size()); }
  // Patches a 32-bit value in at offset.
  Builder& Patch(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
};

inline uint32_t LoadU32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

// Puts a value into the registry of the device as the e-mail application
// would.
inline void SetRegistryValue(const std::u16string& key, const WCHAR* name, DWORD type,
                             const void* data, DWORD size) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &handle, &disposition));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(handle);
}
inline void SetIncomingServerName(const std::u16string& name) {
  SetRegistryValue(u"\\Software\\Corvane\\Email\\Preferences", u"IncomingServerAccount", REG_SZ,
                   name.c_str(), static_cast<DWORD>((name.size() + 1) * 2));
}
inline void SetAccountUniqueId(const std::u16string& name, DWORD id) {
  SetRegistryValue(u"\\Software\\Corvane\\Email\\Accounts\\" + name, u"AccountUniqueID", REG_DWORD,
                   &id, 4);
}

class EmailTest : public DeviceTest {
 protected:
  using Entries = std::vector<std::pair<DWORD, DWORD>>;             // (oid, byFolder)
  using Records = std::vector<std::tuple<DWORD, DWORD, uint64_t>>;  // (folder, oid, time)
  static constexpr DWORD kInbox = EMAIL_FOLDER_INBOX, kDraft = EMAIL_FOLDER_DRAFT,
                         kSent = EMAIL_FOLDER_SENT, kUnsent = EMAIL_FOLDER_UNSENT,
                         kReport = EMAIL_FOLDER_REPORT, kSpam = EMAIL_FOLDER_SPAM,
                         kNone = EMAIL_FOLDER_NONE;
  // The first identifier that the account store hands out, and another
  // account whose low 8 bits differ.
  static constexpr DWORD kAccount = 805306371, kOther = 805306629;

  // A message read by the library (INBOX messages through the Inbox twin),
  // released on the way out.
  struct Record {
    Record() : props{}, email{} {}
    Record(bool card, DWORD folder, DWORD oid, DWORD account = kAccount) : props{}, email{} {
      ok = folder == kInbox
               ? EmailMsgStore_ReadFolderMessageInbox(card, account, -1, oid, true, &props, &email)
               : EmailMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &props, &email);
    }
    ~Record() { EmailMsgStore_FreeMsgProps(&props, &email); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    std::u16string Subject() const { return props.pszSubject ? props.pszSubject : u""; }
    tagMSGPROPS props;
    tagEMAILMSGPROPS email;
    int ok = 0;
  };

  // A record whose strings are the caller's literals.
  static tagMSGPROPS Message(DWORD folder, DWORD time, BOOL read = 0, const WCHAR* subject = u"s") {
    tagMSGPROPS props = {};
    props.dwFolder = folder;
    props.bRead = read;
    props.ftIndexTime = {time, 0};
    props.pszSubject = const_cast<WCHAR*>(subject);
    return props;
  }
  static tagEMAILMSGPROPS Email(DWORD account = kAccount) {
    tagEMAILMSGPROPS email = {};
    email.dwAccountId = account;
    email.wQuickValue = 0x5150;
    return email;
  }

  void SetUp() override {
    DeviceTest::SetUp();
    Reset();
  }
  // Starts over on an empty device with both trees, kAccount the
  // incoming-server account.
  void Reset() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ + "/SD Card");
    std::filesystem::create_directories(root_ + "/DiskOnChip/User");
    msgstore::SetDeviceRoot(root_);
    EmailMsgStore_CreateDir(false);
    EmailMsgStore_CreateDir(true);
    SetIncomingServer(kAccount);
    platform_.posted.clear();
    platform_.volumesAsked.clear();
  }
  static void SetIncomingServer(DWORD account) {
    const std::u16string name = u"acct" + std::u16string(1, u'A' + account % 26);
    SetIncomingServerName(name);
    SetAccountUniqueId(name, account);
  }

  // Stores a message file under oid, bypassing the write path and the index.
  void Put(bool card, DWORD folder, DWORD oid, DWORD time, BOOL read = 0, DWORD account = kAccount,
           const WCHAR* subject = u"s") {
    tagMSGPROPS props = Message(folder, time, read, subject);
    tagEMAILMSGPROPS email = Email(account);
    props.dwOid = oid;
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(1, folder == kInbox ? EmailMsgStore_GetFilePathInbox(card, oid, account, path)
                                  : EmailMsgStore_GetFilePath(card, oid, folder, path));
    ASSERT_EQ(1, EmailMsgStore_WriteToFile(path, &props, &email));
  }
  // Stores count (over 50) messages numbered from 1001 in phone memory, 3001
  // on the card; the oldest is number + 50, neither the lowest, the highest
  // nor the first written. Phone messages get their index in one write.
  void Fill(bool card, DWORD folder, DWORD count, DWORD account = kAccount) {
    const DWORD first = card ? 3001 : 1001;
    const DWORD key = folder == kInbox ? account : folder;
    std::vector<msgstore::IndexRecord> records;
    for (DWORD i = 0; i < count; ++i) {
      const DWORD time = 100 + (i + count - 50) % count;
      Put(card, folder, first + i, time, 0, account);
      records.push_back({key, first + i, {time, 0}});
    }
    std::sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
      return a.time.dwLowDateTime > b.time.dwLowDateTime;
    });
    if (!card) msgstore::WriteIndex(IndexDevicePath(key).c_str(), records);
  }
  // A new message through the write path; its identifier.
  DWORD Write(bool card, DWORD folder, DWORD time, BOOL read = 0, DWORD account = kAccount,
              const WCHAR* subject = u"subject") {
    tagMSGPROPS props = Message(folder, time, read, subject);
    tagEMAILMSGPROPS email = Email(account);
    const DWORD oid = EmailMsgStore_WriteMessage(card, &props, &email, 0, nullptr);
    EXPECT_NE(0u, oid);
    return oid;
  }

  static const char* FolderName(DWORD folder) {
    static const char* const kNames[] = {"",       "INBOX", "DRAFT", "SENT", "UNSENT",
                                         "REPORT", "SPAM",  "",      "NONE"};
    return folder < 9 ? kNames[folder] : "";
  }
  // Host paths; CreateDir spells the store directory "Email".
  std::string Dir(bool card, DWORD folder) const {
    return Host(std::string(card ? "SD Card" : "DiskOnChip") + "/User/MESSAGING/Email/" +
                FolderName(folder));
  }
  std::string File(bool card, DWORD folder, DWORD oid, DWORD account = kAccount) const {
    const std::string id = std::to_string(static_cast<int>(oid));
    return Dir(card, folder) + "/" +
           (folder == kInbox ? std::to_string(static_cast<int>(account)) + "_" + id : id) +
           ".email";
  }
  bool Exists(bool card, DWORD folder, DWORD oid, DWORD account = kAccount) const {
    return std::filesystem::exists(File(card, folder, oid, account));
  }
  // ".email" files of a directory whose name starts with prefix, by name.
  size_t Files(bool card, DWORD folder, const std::string& prefix = "") const {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(Dir(card, folder))) {
      const std::string name = e.path().filename().string();
      n += name.size() > 6 && name.compare(name.size() - 6, 6, ".email") == 0 &&
           name.compare(0, prefix.size(), prefix) == 0;
    }
    return n;
  }
  size_t AccountFiles(bool card, DWORD account) const {
    return Files(card, kInbox, std::to_string(account) + "_");
  }

  // The phone index file of a folder (1 to 6) or an account.
  static std::u16string IndexDevicePath(DWORD key) {
    static const char16_t* const kNames[] = {u"",       u"INBOX",  u"DRAFT", u"SENT",
                                             u"UNSENT", u"REPORT", u"SPAM"};
    const std::u16string root = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\";
    if (key < 7) return root + kNames[key] + u"\\EmailIni";
    std::u16string digits;
    for (char c : std::to_string(key)) digits += static_cast<char16_t>(c);
    return root + u"INBOX\\" + digits + u"_EmailIni";
  }
  std::string IndexFile(DWORD key) const {
    return key < 7 ? Dir(false, key) + "/EmailIni"
                   : Dir(false, kInbox) + "/" + std::to_string(key) + "_EmailIni";
  }
  // The records of an index file, read from its bytes.
  Records Index(DWORD key) const {
    const Bytes b = Load(IndexFile(key));
    Records out;
    for (size_t at = 0; at + 16 <= b.size(); at += 16)
      out.emplace_back(LoadU32(b, at), LoadU32(b, at + 4),
                       uint64_t{LoadU32(b, at + 12)} << 32 | LoadU32(b, at + 8));
    return out;
  }
  bool Indexed(DWORD key, DWORD oid) const {
    const Records index = Index(key);
    return std::any_of(index.begin(), index.end(), [&](const auto& r) {
      return std::get<0>(r) == key && std::get<1>(r) == oid;
    });
  }
  Entries QuickList(DWORD key) {
    CMsgList list;
    EmailMsgStore_GetQuickMsgList(list, key);
    Entries out;
    for (long i = 0; i < list.GetSize(); ++i) out.push_back({list[i].dwOid, list[i].byFolder});
    return out;
  }

  std::string CounterFile() const { return Host("DiskOnChip/User/MESSAGING/Email/EmailDB.ini"); }
  Bytes Counter() const { return Load(CounterFile()); }
  void SetCounter(DWORD value) { Store(Builder().U32(value).b, CounterFile()); }

  static Bytes Load(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Store(const Bytes& bytes, const std::string& hostPath) {
    std::ofstream(hostPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_EMAIL_FIXTURES_H_
