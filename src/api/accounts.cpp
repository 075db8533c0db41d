// The e-mail account store through the API: its records as the store has
// loaded them, in its order, changes saved whole, and the incoming-server
// account of the registry.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "api/folder_files.h"
#include "api/handset.h"
#include "common/field_codec.h"
#include "email/email_accounts.h"
#include "email/email_internal.h"
#include "msgstore/text.h"

namespace msgstore {

// The account store keeps one array per process: threads take turns on it.
std::recursive_mutex& api::AccountArrayLock() {
  static std::recursive_mutex lock;
  return lock;
}

api::AccountSession::~AccountSession() {
  if (opened_ && !saved_ && (loaded_ || EmailAccMsgStore_Open(nullptr) == 0))
    email::AccountArray() = std::move(kept_);
}

bool api::AccountSession::Open() {
  opened_ = true;
  kept_ = std::move(email::AccountArray());  // the store's open drops it in any case
  loaded_ = EmailAccMsgStore_Open(&store_) != 0;
  if (loaded_) kept_ = email::AccountArray();
  return loaded_;
}

bool api::AccountSession::Save() { return saved_ = EmailMsgStore_Close(store_) != 0; }

namespace {

using api::Fail;

std::recursive_mutex& ArrayLock() { return api::AccountArrayLock(); }

Account ToAccount(const EmailAccountRecord& record) {
  Account a;
  a.id = record.dwAccountId;
  a.folder = record.dwFolder;
  a.data = record.dwData;
  a.data1 = record.wData1;
  a.data2 = record.wData2;
  size_t length = 0;
  while (length < AccountStore().textUnits && record.szText[length] != 0) ++length;
  a.text.assign(record.szText, length);
  return a;
}

struct Loaded {
  Result result;
  HANDLE store = nullptr;
  std::vector<Account> accounts;
  bool sound = true;  // the file holds exactly what the store read of it
};

// Loads the account database into the store's array; a missing one holds no
// accounts. The caller holds ArrayLock, or session when it is to change the
// accounts.
Loaded Load(api::AccountSession* session = nullptr) {
  const WCHAR* database = AccountStore().database;
  Loaded out;
  const DWORD attributes = GetFileAttributesW(database);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    out.result = Fail<Result>(Status::kFailed, Refusal::kNone,
                              "the account database cannot be opened (not a file)");
    return out;
  }
  api::AccountSession reading;  // for a caller that only reads
  if (session == nullptr) session = &reading;
  const bool read = session->Open();
  out.store = session->store();
  if (!read && attributes != INVALID_FILE_ATTRIBUTES) {
    out.result =
        Fail<Result>(Status::kFailed, Refusal::kNone, "the account database cannot be read");
    return out;
  }
  const EmailAccountArray& array = email::AccountArray();
  for (long i = 0; i < array.GetSize(); ++i) out.accounts.push_back(ToAccount(array[i]));
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    WIN32_FIND_DATAW data = {};
    const HANDLE find = FindFirstFileW(database, &data);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    const uint64_t size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    out.sound = size == 0 || size == api::DatabaseBytes(out.accounts);
  }
  return out;
}

// Loads the database for a change: the phone tree must hold it, and the
// store must have read it whole, so that saving it loses nothing.
Loaded LoadForChange(api::AccountSession* session) {
  std::u16string dir = AccountStore().database;
  dir = dir.substr(0, dir.rfind(u'\\'));
  const DWORD attributes = GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    Loaded out;
    out.result = Fail<Result>(Status::kNotFound, Refusal::kNone,
                              "the message tree of the phone memory has not been made "
                              "(initializing the device makes it)");
    return out;
  }
  Loaded out = Load(session);
  if (out.result && !out.sound)
    out.result = Fail<Result>(Status::kFailed, Refusal::kNone,
                              "the account database is damaged (the store reads less than the "
                              "file holds): nothing changed");
  return out;
}

// A save that fails leaves the array to be loaded again when session ends.
Result Save(api::AccountSession* session) {
  if (EmailAccMsgStore_Create() != 0 && session->Save()) return {};
  return Fail<Result>(Status::kFailed, Refusal::kNone, "could not save the account database");
}

const Account* Lookup(const std::vector<Account>& accounts, DWORD id) {
  for (const Account& a : accounts)
    if (a.id == id) return &a;
  return nullptr;
}

// The registry key's DWORD value; false when it cannot be read.
bool RegistryNumber(const std::u16string& key, const WCHAR* value, DWORD* number) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &handle) != ERROR_SUCCESS) return false;
  uint8_t bytes[4] = {};
  DWORD type = 0, size = sizeof bytes;
  const bool read = RegQueryValueExW(handle, value, nullptr, &type, bytes, &size) == ERROR_SUCCESS;
  RegCloseKey(handle);
  *number = read ? DecodeU32(bytes) : 0;
  return read;
}

bool SetRegistryValue(const std::u16string& key, const WCHAR* value, DWORD type, const BYTE* data,
                      DWORD size) {
  WCHAR noClass[] = u"";
  HKEY handle = nullptr;
  DWORD disposition = 0;
  const bool set =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &handle, &disposition) == ERROR_SUCCESS &&
      RegSetValueExW(handle, value, 0, type, data, size) == ERROR_SUCCESS;
  if (handle != nullptr) {
    RegFlushKey(handle);
    RegCloseKey(handle);
  }
  return set;
}

}  // namespace

namespace api {

bool AccountExists(DWORD id) {
  std::lock_guard<std::recursive_mutex> held(ArrayLock());
  const Loaded loaded = Load();
  return loaded.result && Lookup(loaded.accounts, id) != nullptr;
}

}  // namespace api

AccountListResult Accounts::List() const {
  std::lock_guard<std::recursive_mutex> held(ArrayLock());
  Loaded loaded = Load();
  AccountListResult r;
  if (!loaded.result)
    return Fail<AccountListResult>(loaded.result.status, loaded.result.refusal,
                                   loaded.result.error);
  r.accounts = std::move(loaded.accounts);
  return r;
}

AccountDatabase Accounts::Database() const {
  std::lock_guard<std::recursive_mutex> held(ArrayLock());
  AccountDatabase r;
  const AccountStoreDescription& d = AccountStore();
  DWORD counter = 0;
  if (RegistryNumber(d.registryKey, d.counterValue, &counter)) r.counter = counter;
  WIN32_FIND_DATAW data = {};
  const HANDLE find = FindFirstFileW(d.database, &data);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  r.present =
      find != INVALID_HANDLE_VALUE && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (!r.present) return r;
  r.bytes = data.nFileSizeLow;
  Loaded loaded = Load();
  // A database the store cannot read leaves it no accounts, as a file of none.
  r.whole = loaded.result ? loaded.sound : r.bytes == api::DatabaseBytes({});
  if (!r.whole) r.problem = api::DamagedDatabase("", r.bytes, loaded.accounts);
  if (!loaded.result) {
    static_cast<Result&>(r) = loaded.result;
    return r;
  }
  // The store loads each folder's records in reverse and saves its array in
  // order: the file holds each folder's run of the array reversed.
  std::vector<Account>& accounts = loaded.accounts;
  for (size_t begin = 0; begin < accounts.size();) {
    size_t end = begin;
    while (end < accounts.size() && accounts[end].folder == accounts[begin].folder) ++end;
    std::reverse(accounts.begin() + static_cast<long>(begin),
                 accounts.begin() + static_cast<long>(end));
    begin = end;
  }
  r.accounts = std::move(accounts);
  return r;
}

AccountResult Accounts::Get(DWORD id) const {
  std::lock_guard<std::recursive_mutex> held(ArrayLock());
  const Loaded loaded = Load();
  if (!loaded.result)
    return Fail<AccountResult>(loaded.result.status, loaded.result.refusal, loaded.result.error);
  const Account* found = Lookup(loaded.accounts, id);
  if (found == nullptr)
    return Fail<AccountResult>(Status::kNotFound, Refusal::kNone,
                               "no account " + std::to_string(id));
  AccountResult r;
  r.account = *found;
  return r;
}

AccountResult Accounts::Add(const Account& account) {
  api::AccountSession session;
  const size_t maxText = AccountStore().textUnits;
  if (account.text.size() > maxText || account.text.find(u'\0') != std::u16string::npos)
    return Fail<AccountResult>(Status::kRefused, Refusal::kInvalid,
                               "an account's text is at most " + std::to_string(maxText) +
                                   " UTF-16 code units, without NUL: account not added");
  Loaded loaded = LoadForChange(&session);
  if (!loaded.result)
    return Fail<AccountResult>(loaded.result.status, loaded.result.refusal, loaded.result.error);
  // The store hands out the counter's next identifier even when an account
  // has it already.
  const AccountStoreDescription& d = AccountStore();
  DWORD last = 0;
  RegistryNumber(d.registryKey, d.counterValue, &last);
  const DWORD next = (last == 0 ? d.firstId - 1 : last) + 1;
  if (Lookup(loaded.accounts, next) != nullptr)
    return Fail<AccountResult>(Status::kFailed, Refusal::kNone,
                               "the registry's account counter is behind the accounts: the next "
                               "identifier, " +
                                   std::to_string(next) + ", is taken: nothing changed");
  std::u16string text = account.text;
  tagEMAILACCOUNTPROPS props = {};
  props.dwData = account.data;
  props.dwFolder = account.folder;
  props.wData1 = account.data1;
  props.wData2 = account.data2;
  props.pszText = text.empty() ? nullptr : &text[0];
  const DWORD id = EmailMsgStore_WriteAccountData(loaded.store, &props, 0);
  if (id == 0)
    return Fail<AccountResult>(Status::kFailed, Refusal::kNone,
                               "the registry gave no account identifier: account not added");
  const Result saved = Save(&session);
  if (!saved) return Fail<AccountResult>(saved.status, saved.refusal, saved.error);
  AccountResult r;
  r.account = account;
  r.account.id = id;
  return r;
}

Result Accounts::Remove(DWORD id) {
  api::AccountSession session;
  Loaded loaded = LoadForChange(&session);
  if (!loaded.result) return loaded.result;
  if (Lookup(loaded.accounts, id) == nullptr)
    return Fail<Result>(Status::kNotFound, Refusal::kNone, "no account " + std::to_string(id));
  if (EmailMsgStore_DeleteAccount(loaded.store, id) == 0)
    return Fail<Result>(Status::kFailed, Refusal::kNone,
                        "could not remove account " + std::to_string(id));
  return Save(&session);
}

std::string Accounts::IncomingServerName() const {
  const DWORD bytes = AccountStore().nameBytes;
  std::vector<WCHAR> name(bytes / sizeof(WCHAR) + 1, 0);  // the store's terminator kept
  if (!email::GetIncomingServerAccount(name.data(), bytes)) return "";
  return Utf16ToUtf8(name.data());
}

DWORD Accounts::IncomingServer() const {
  DWORD id = 0;
  return email::PlainInboxAccount(&id) ? id : 0;
}

namespace api {

Result IncomingServerName(DWORD id, std::string* name) {
  if (name->empty()) {
    static const char kHex[] = "0123456789ABCDEF";
    *name = "Account";
    for (int shift = 28; shift >= 0; shift -= 4) name->push_back(kHex[(id >> shift) & 0xF]);
  }
  // The store reads so many bytes of the name, its terminator among them.
  const size_t maxName = AccountStore().nameBytes / sizeof(WCHAR) - 1;
  bool ok = name->size() <= maxName;
  for (char c : *name)
    ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '_' || c == '-');
  if (!ok)
    return Fail<Result>(Status::kRefused, Refusal::kInvalid,
                        "account name '" + *name + "' must be 1 to " + std::to_string(maxName) +
                            " letters, digits, '_' or '-'");
  return {};
}

Result WriteIncomingServer(DWORD id, const std::string& name) {
  const AccountStoreDescription& d = AccountStore();
  const std::u16string wide(name.begin(), name.end());
  uint8_t number[4];
  EncodeU32(number, id);
  if (!SetRegistryValue(std::u16string(d.registryKey) + u"\\" + wide, d.idValue, REG_DWORD, number,
                        4) ||
      !SetRegistryValue(d.incomingKey, d.incomingValue, REG_SZ,
                        reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>(2 * (wide.size() + 1))))
    return Fail<Result>(Status::kFailed, Refusal::kNone,
                        "could not write the registry values of the incoming-server account");
  DWORD found = 0;
  if (!email::PlainInboxAccount(&found) || found != id)
    return Fail<Result>(Status::kFailed, Refusal::kNone,
                        "the store does not find account " + std::to_string(id) +
                            " through the registry values just written");
  return {};
}

}  // namespace api

Result Accounts::SetIncomingServer(DWORD id, const std::string& nameText) {
  std::lock_guard<std::recursive_mutex> held(ArrayLock());
  std::string name = nameText;
  const Result named = api::IncomingServerName(id, &name);
  if (!named) return named;
  const AccountResult found = Get(id);
  if (!found) return Fail<Result>(found.status, found.refusal, found.error);
  return api::WriteIncomingServer(id, name);
}

}  // namespace msgstore
