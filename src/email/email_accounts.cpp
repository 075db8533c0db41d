// The e-mail account store: the process's account array, its database file
// "EmailAccMsgStore.db" and the registry counter of account identifiers.
//
// Database: the record count N (4 bytes), then N records of dwData (4),
// dwFolder (4), wData1 (2), wData2 (2), dwAccountId (4) and the text with its
// terminator, all little-endian and unaligned. A file of length 0 holds no
// records.
//
// A record always goes in front of the first record of its folder, or at
// the end when its folder has none, so a folder's records stand together,
// newest first, and a load turns each folder's saved order round.
#include "email/email_accounts.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "common/field_codec.h"
#include "common/msg_str.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "common/whole_file.h"
#include "email/email_description.h"
#include "msgstore/email.h"
#include "msgstore/platform.h"

namespace msgstore {
namespace email {
namespace {

static_assert(sizeof(EmailAccountRecord) == 16 + 2 * (kAccountTextUnits + 1),
              "the account record is its five numbers and the inline text");

// A stored 0 (no identifier handed out yet) counts as this value, so the
// first identifier is the account store's first.
constexpr DWORD kNoAccountIdYet = kAccountStore.firstId - 1;

std::optional<EmailAccountArray>& Slot() {
  static std::optional<EmailAccountArray> slot;
  return slot;
}

// Length of the record's text, never past its inline array.
size_t TextLength(const EmailAccountRecord& record) {
  size_t length = 0;
  while (length < kAccountTextUnits && record.szText[length] != 0) ++length;
  return length;
}

// The caller's record as an array element; a longer text keeps its first
// 255 code units, a null text is empty. The caller's identifier is not read.
EmailAccountRecord FromProps(const tagEMAILACCOUNTPROPS& props) {
  EmailAccountRecord record{};
  record.dwData = props.dwData;
  record.dwFolder = props.dwFolder;
  record.wData1 = props.wData1;
  record.wData2 = props.wData2;
  const size_t length = std::min(WStrLen(props.pszText), kAccountTextUnits);
  if (length > 0) std::memcpy(record.szText, props.pszText, length * sizeof(WCHAR));
  return record;
}

void ToProps(const EmailAccountRecord& record, tagEMAILACCOUNTPROPS* props) {
  props->dwData = record.dwData;
  props->dwFolder = record.dwFolder;
  props->wData1 = record.wData1;
  props->wData2 = record.wData2;
  props->dwAccountId = record.dwAccountId;
  props->pszText = MsgStr_Duplicate(record.szText);
}

// Position of the first record of folder; the array's size when it has none.
long FirstOfFolder(const EmailAccountArray& accounts, DWORD folder) {
  const long size = accounts.GetSize();
  long at = 0;
  while (at < size && accounts[at].dwFolder != folder) ++at;
  return at;
}

long FirstWithId(const EmailAccountArray& accounts, DWORD accountId) {
  const long size = accounts.GetSize();
  long at = 0;
  while (at < size && accounts[at].dwAccountId != accountId) ++at;
  return at;
}

// In front of the first record of its folder, or appended.
void Place(EmailAccountArray& accounts, const EmailAccountRecord& record) {
  const long size = accounts.GetSize();
  const long at = FirstOfFolder(accounts, record.dwFolder);
  accounts.SetSize(size + 1);
  for (long i = size; i > at; --i) accounts[i] = accounts[i - 1];
  accounts[at] = record;
}

// One record of the database; false, with out untouched, when the data ends
// before the record does. A text longer than a record holds keeps its first
// 255 code units.
bool ReadRecord(FieldReader& reader, EmailAccountRecord* out) {
  EmailAccountRecord record{};
  if (!reader.U32(&record.dwData) || !reader.U32(&record.dwFolder) || !reader.U16(&record.wData1) ||
      !reader.U16(&record.wData2) || !reader.U32(&record.dwAccountId))
    return false;
  size_t length = 0;
  for (WORD unit = 0; reader.U16(&unit);) {
    if (unit == 0) {
      *out = record;
      return true;
    }
    if (length < kAccountTextUnits) record.szText[length++] = unit;
  }
  return false;
}

// The records of a database image in the order that placing them one by one
// into an empty array gives: folders in the order of their first record in
// the file, each folder's records in reverse file order. Built by sorting
// rather than by inserting, so that a long file costs no quadratic shifting.
// A count that promises more records than the data holds keeps the complete
// records before the end.
EmailAccountArray Load(const std::vector<uint8_t>& image) {
  FieldReader reader(image.data(), image.size());
  DWORD count = 0;
  reader.U32(&count);
  std::vector<EmailAccountRecord> records;
  EmailAccountRecord record;
  for (DWORD i = 0; i < count && ReadRecord(reader, &record); ++i) records.push_back(record);

  std::map<DWORD, size_t> rank;  // folder -> place of its first record in the file
  for (const EmailAccountRecord& r : records) rank.emplace(r.dwFolder, rank.size());
  std::reverse(records.begin(), records.end());
  std::stable_sort(records.begin(), records.end(),
                   [&rank](const EmailAccountRecord& a, const EmailAccountRecord& b) {
                     return rank.at(a.dwFolder) < rank.at(b.dwFolder);
                   });
  EmailAccountArray accounts;
  accounts.SetSize(static_cast<long>(records.size()));
  for (size_t i = 0; i < records.size(); ++i) accounts[static_cast<long>(i)] = records[i];
  return accounts;
}

void Put16(std::vector<uint8_t>& out, WORD value) {
  uint8_t bytes[2];
  EncodeU16(bytes, value);
  out.insert(out.end(), bytes, bytes + 2);
}

void Put32(std::vector<uint8_t>& out, DWORD value) {
  uint8_t bytes[4];
  EncodeU32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

std::vector<uint8_t> Save(const EmailAccountArray& accounts) {
  std::vector<uint8_t> image;
  Put32(image, static_cast<DWORD>(accounts.GetSize()));
  for (long i = 0; i < accounts.GetSize(); ++i) {
    const EmailAccountRecord& r = accounts[i];
    Put32(image, r.dwData);
    Put32(image, r.dwFolder);
    Put16(image, r.wData1);
    Put16(image, r.wData2);
    Put32(image, r.dwAccountId);
    const size_t length = TextLength(r);
    for (size_t u = 0; u < length; ++u) Put16(image, r.szText[u]);
    Put16(image, 0);
  }
  return image;
}

// The next account identifier from "AccoutnId": the stored value plus 1,
// 0x30000003 when none is stored (wrapping at 2^32). 0 when the key can be
// neither opened nor created, or when the new value cannot be written back:
// an identifier that the counter does not keep would be handed out again.
DWORD AllocateAccountId() {
  NamedLock held(kAccountStore.counterMutex, false);
  HKEY key = nullptr;
  uint8_t stored[4] = {0, 0, 0, 0};
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAccountStore.registryKey, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    // Any type will do; a value that is missing or will not fit counts as 0.
    DWORD type = 0, size = sizeof stored;
    if (RegQueryValueExW(key, kAccountStore.counterValue, nullptr, &type, stored, &size) !=
        ERROR_SUCCESS)
      std::memset(stored, 0, sizeof stored);
  } else {
    WCHAR noClass[] = u"";
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAccountStore.registryKey, 0, noClass,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
      return 0;
  }
  const DWORD last = DecodeU32(stored);
  const DWORD next = (last == 0 ? kNoAccountIdYet : last) + 1;
  uint8_t bytes[4];
  EncodeU32(bytes, next);
  const bool saved = RegSetValueExW(key, kAccountStore.counterValue, 0, REG_DWORD, bytes,
                                    sizeof bytes) == ERROR_SUCCESS;
  RegFlushKey(key);
  RegCloseKey(key);
  return saved ? next : 0;
}

}  // namespace

EmailAccountArray& AccountArray() {
  std::optional<EmailAccountArray>& slot = Slot();
  if (!slot) slot.emplace();
  return *slot;
}

void ConstructAccountArray() { Slot().emplace(); }

void DestroyAccountArray() { Slot().reset(); }

void UnloadAccounts() {
  DestroyAccountArray();
  ConstructAccountArray();
}

}  // namespace email
}  // namespace msgstore

using msgstore::EmailAccountArray;
using msgstore::EmailAccountRecord;
using msgstore::email::AccountArray;
const WCHAR* const kAccountDatabase = msgstore::email::kAccountStore.database;

int EmailAccMsgStore_Create() {
  if (GetFileAttributesW(kAccountDatabase) != INVALID_FILE_ATTRIBUTES) return 1;
  // The directory is not made here: phone memory's message tree must exist.
  msgstore::ScopedFile file(CreateFileW(kAccountDatabase, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() ? 1 : 0;
}

int EmailAccMsgStore_Open(HANDLE* store) {
  // What the array held is dropped, and the handle given out, whatever the
  // file holds.
  EmailAccountArray& accounts = AccountArray();
  accounts = EmailAccountArray();
  if (store != nullptr) *store = &accounts;
  std::vector<uint8_t> image;
  switch (msgstore::ReadWholeFile(kAccountDatabase, 0, &image)) {
    case msgstore::ReadResult::kOk:
      break;
    case msgstore::ReadResult::kTooSmall:
      return 1;  // an empty file holds no records
    case msgstore::ReadResult::kOpenFailed:
    case msgstore::ReadResult::kReadFailed:
      return 0;
  }
  try {
    accounts = msgstore::email::Load(image);
  } catch (const std::bad_alloc&) {
    return 0;  // more records than memory holds: nothing is loaded
  }
  return 1;
}

int EmailMsgStore_Close(HANDLE /*store*/) {
  // Replaced whole: 1 once the new database stands complete; a save that
  // fails anywhere leaves the old file as it was and returns 0.
  const std::vector<uint8_t> image = msgstore::email::Save(AccountArray());
  if (image.size() > 0xFFFFFFFFu) return 0;
  return msgstore::ReplaceFileWhole(kAccountDatabase, image.data(),
                                    static_cast<DWORD>(image.size()))
             ? 1
             : 0;
}

DWORD EmailMsgStore_WriteAccountData(HANDLE /*store*/, tagEMAILACCOUNTPROPS* account,
                                     DWORD accountId) {
  if (account == nullptr) return 0;
  EmailAccountRecord record = msgstore::email::FromProps(*account);
  // An identifier given is used as it is, even when a record has it already.
  // A new account whose identifier cannot be had is not added.
  record.dwAccountId = accountId != 0 ? accountId : msgstore::email::AllocateAccountId();
  if (record.dwAccountId == 0) return 0;
  msgstore::email::Place(AccountArray(), record);
  return record.dwAccountId;
}

DWORD EmailMsgStore_GetAccountMessageCount(HANDLE /*store*/, DWORD folder) {
  const EmailAccountArray& accounts = AccountArray();
  DWORD count = 0;
  for (long i = 0; i < accounts.GetSize(); ++i)
    if (accounts[i].dwFolder == folder) ++count;
  return count;
}

int EmailMsgStore_ReadFolderAccount(HANDLE /*store*/, DWORD folder, DWORD index,
                                    tagEMAILACCOUNTPROPS* account) {
  const EmailAccountArray& accounts = AccountArray();
  // Folders stand together, so indexes below the folder's count reach its
  // records; a larger one reaches a following folder's, and one past the
  // end of the array reaches nothing. A folder without records starts at
  // the end.
  const long first = msgstore::email::FirstOfFolder(accounts, folder);
  if (account == nullptr) return 0;
  const uint64_t at = static_cast<uint64_t>(first) + index;
  if (at >= static_cast<uint64_t>(accounts.GetSize())) return 0;
  msgstore::email::ToProps(accounts[static_cast<long>(at)], account);
  return 1;
}

int EmailMsgStore_ReadFolderAccount(HANDLE /*store*/, DWORD accountId,
                                    tagEMAILACCOUNTPROPS* account) {
  const EmailAccountArray& accounts = AccountArray();
  const long at = msgstore::email::FirstWithId(accounts, accountId);
  if (account == nullptr || at == accounts.GetSize()) return 0;
  msgstore::email::ToProps(accounts[at], account);
  return 1;
}

int EmailMsgStore_EmptyFolderAccount(HANDLE /*store*/, DWORD folder) {
  EmailAccountArray& accounts = AccountArray();
  for (long i = accounts.GetSize() - 1; i >= 0; --i)
    if (accounts[i].dwFolder == folder) accounts.RemoveAt(i);
  return 1;
}

int EmailMsgStore_SetFolderCount(HANDLE /*store*/, DWORD accountId, WORD /*count*/) {
  // Only tells whether the account exists; no record keeps a count.
  const EmailAccountArray& accounts = AccountArray();
  return msgstore::email::FirstWithId(accounts, accountId) < accounts.GetSize() ? 1 : 0;
}

int EmailMsgStore_DeleteAccount(HANDLE /*store*/, DWORD accountId) {
  // Of several records with the identifier, the one nearest the end goes.
  EmailAccountArray& accounts = AccountArray();
  for (long i = accounts.GetSize() - 1; i >= 0; --i) {
    if (accounts[i].dwAccountId == accountId) {
      accounts.RemoveAt(i);
      return 1;
    }
  }
  return 0;
}
