// Shared by the e-mail tests (with the sample record of the MMS ones): a device
// with both e-mail trees, kAccount the incoming-server account, messages put
// straight into files, and readers of the files, indexes and counter that do
// not go through the library.
#ifndef MSGSTORE_TESTS_EMAIL_FIXTURES_H_
#define MSGSTORE_TESTS_EMAIL_FIXTURES_H_

#include "mms_fixtures.h"
#include "msgstore/email.h"

namespace msgstore_test {

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
  SetRegistryValue(msgstore::AccountStore().incomingKey, msgstore::AccountStore().incomingValue,
                   REG_SZ, name.c_str(), static_cast<DWORD>((name.size() + 1) * 2));
}
inline void SetAccountUniqueId(const std::u16string& name, DWORD id) {
  SetRegistryValue(msgstore::AccountStore().registryKey + (u"\\" + name),
                   msgstore::AccountStore().idValue, REG_DWORD, &id, 4);
}

class EmailTest : public DeviceTest {
 protected:
  EmailTest() { store_ = &msgstore::EmailStore(); }
  using Records = IndexRecords;
  static constexpr DWORD kInbox = EMAIL_FOLDER_INBOX, kDraft = EMAIL_FOLDER_DRAFT,
                         kSent = EMAIL_FOLDER_SENT, kSpam = EMAIL_FOLDER_SPAM,
                         kNone = EMAIL_FOLDER_NONE;
  // The first account identifier handed out, and another account.
  static constexpr DWORD kAccount = 805306371, kOther = 805306629;

  // A message read by the library (INBOX ones through the Inbox twin), by
  // identifier or (oid 0) by position.
  struct Record {
    Record(bool card, DWORD folder, DWORD oid, DWORD account = kAccount, int at = -1) {
      ok = folder == kInbox
               ? EmailMsgStore_ReadFolderMessageInbox(card, account, at, oid, true, &props, &email)
               : EmailMsgStore_ReadFolderMessage(card, folder, at, oid, true, &props, &email);
    }
    ~Record() { EmailMsgStore_FreeMsgProps(&props, &email); }

    tagMSGPROPS props{};
    tagEMAILMSGPROPS email{};
    int ok = 0;
  };

  static tagEMAILMSGPROPS Email(DWORD account = kAccount) {
    tagEMAILMSGPROPS email = {};
    email.dwAccountId = account, email.wQuickValue = 0x5150;
    return email;
  }

  void SetUp() override {
    DeviceTest::SetUp();
    std::filesystem::create_directories(root_ + "/DiskOnChip/User");
    EmailMsgStore_CreateDir(false);
    EmailMsgStore_CreateDir(true);
    SetIncomingServerName(u"acct");
    SetAccountUniqueId(u"acct", kAccount);
  }

  // A message file under oid, bypassing the write path and the index.
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
  // count (over 50) messages numbered from 1001 (3001 on the card: FillWith),
  // indexed on the phone.
  void Fill(bool card, DWORD folder, DWORD count, DWORD account = kAccount) {
    const Bytes index =
        FillWith(folder == kInbox ? account : folder, card ? 3001 : 1001, count,
                 [&](DWORD oid, DWORD time) { Put(card, folder, oid, time, 0, account); });
    if (!card) Store(index, IndexFile(folder == kInbox ? account : folder));
  }
  // Writes props with the extension of account over existing (0: a new one).
  static DWORD WriteProps(bool card, tagMSGPROPS props, DWORD account = kAccount,
                          DWORD existing = 0, int* storage = nullptr) {
    tagEMAILMSGPROPS email = Email(account);
    return EmailMsgStore_WriteMessage(card, &props, &email, existing, storage);
  }
  DWORD Write(bool card, DWORD folder, DWORD time, BOOL read = 0, DWORD account = kAccount) {
    const DWORD oid = WriteProps(card, Message(folder, time, read), account);
    EXPECT_NE(0u, oid);
    return oid;
  }

  std::string File(bool card, DWORD folder, DWORD oid, DWORD account = kAccount) const {
    const std::string name = FileName(msgstore::EmailStore(), oid);
    return Dir(card, folder) + "/" +
           (folder == kInbox ? std::to_string(static_cast<int>(account)) + "_" + name : name);
  }
  bool Exists(bool card, DWORD folder, DWORD oid, DWORD account = kAccount) const {
    return std::filesystem::exists(File(card, folder, oid, account));
  }
  std::string IndexFile(DWORD key) const {
    const std::string name = Ascii(msgstore::EmailStore().indexName);
    return key < msgstore::EmailStore().firstAccountFolder
               ? Dir(false, key) + "/" + name
               : Dir(false, kInbox) + "/" + std::to_string(key) + "_" + name;
  }
  Records Index(DWORD key) const { return LoadIndex(IndexFile(key)); }
  bool Indexed(DWORD key, DWORD oid) const {
    const Records index = Index(key);
    return std::count_if(index.begin(), index.end(), [&](auto& r) { return r[1] == oid; });
  }
};

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_EMAIL_FIXTURES_H_
