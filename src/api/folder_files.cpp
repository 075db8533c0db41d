#include "api/folder_files.h"

#include <algorithm>
#include <set>

#include "common/msg_str.h"
#include "email/email_accounts.h"
#include "msgstore/msgstore.h"
#include "msgstore/text.h"

namespace msgstore {
namespace api {
namespace {

// The identifier a file name's number gives, as the stores read it: a
// decimal int32 without leading zeros; 0 for anything else.
DWORD IdOfName(const std::string& stem) {
  const size_t digits = !stem.empty() && stem[0] == '-' ? 1 : 0;
  if (stem.size() <= digits || stem.size() > digits + 10 || stem[digits] == '0') return 0;
  for (size_t i = digits; i < stem.size(); ++i)
    if (stem[i] < '0' || stem[i] > '9') return 0;
  long long value = 0;
  for (size_t i = digits; i < stem.size(); ++i) value = value * 10 + (stem[i] - '0');
  if (digits != 0) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<DWORD>(static_cast<int32_t>(value));
}

bool CardInserted() { return (GetPlatform().xGetSDCardState() & 1) != 0; }

// Every name matching pattern, with what the platform finds of it.
template <class Visit>
void Find(const std::u16string& pattern, Visit visit) {
  WIN32_FIND_DATAW data = {};
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do visit(data);
  while (FindNextFileW(find, &data) != 0);
  FindClose(find);
}

}  // namespace

std::u16string FolderDir(const StoreDescription& s, bool card, DWORD folder) {
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr || (card && f->card == OnCard::kNone)) return u"";
  return std::u16string(card && f->card == OnCard::kOwn ? s.cardRoot : s.phoneRoot) + u"\\" +
         f->dir;
}

std::vector<FolderEntry> FolderEntries(const StoreDescription& s, bool card, DWORD folder) {
  std::vector<FolderEntry> entries;
  const std::u16string dir = FolderDir(s, card, folder);
  const FolderDescription* f = s.Folder(folder);
  if (dir.empty() || f == nullptr) return entries;
  const size_t extension = std::u16string(s.extension).size();
  Find(dir + u"\\*" + s.extension, [&](const WIN32_FIND_DATAW& data) {
    const std::string name = Utf16ToUtf8(data.cFileName);
    const std::string stem = name.substr(0, name.size() - std::min(extension, name.size()));
    DWORD id = 0, account = 0;
    const size_t bar = stem.find('_');
    if (!f->perAccount) {
      id = IdOfName(stem);
    } else if (bar != std::string::npos) {
      account = IdOfName(stem.substr(0, bar));
      id = account < AccountStore().firstId ? 0 : IdOfName(stem.substr(bar + 1));
      if (id == 0) account = 0;
    }
    entries.push_back({name, data.dwFileAttributes, data.nFileSizeLow, id, account});
  });
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.id != b.id ? a.id < b.id : a.name < b.name;
  });
  return entries;
}

std::vector<DWORD> AccountsOnDevice(const StoreDescription& s, DWORD folder) {
  std::set<DWORD> ids;
  for (bool card : {false, true}) {
    if (card && !CardInserted()) continue;
    for (const FolderEntry& e : FolderEntries(s, card, folder))
      if (e.account != 0) ids.insert(e.account);
  }
  Find(FolderDir(s, false, folder) + u"\\*_" + s.indexName, [&](const WIN32_FIND_DATAW& data) {
    const std::string name = Utf16ToUtf8(data.cFileName);
    const DWORD id = IdOfName(name.substr(0, name.find('_')));
    if (id >= AccountStore().firstId) ids.insert(id);
  });
  return std::vector<DWORD>(ids.begin(), ids.end());
}

void MakeTree(StoreKind store, bool card) {
  switch (store) {
    case StoreKind::kSms:
      EMSMsgStore_CreateDir(card);
      break;
    case StoreKind::kMms:
      MMSMsgStore_CreateDir(card);
      break;
    case StoreKind::kEmail:
      EmailMsgStore_CreateDir(card);
      break;
  }
}

bool NamesFiles(const StoreDescription& s, DWORD folder) {
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr) return false;
  if (f->perAccount) return true;
  WCHAR path[MAX_PATH] = {};
  switch (s.kind) {
    case StoreKind::kSms:
      return EMSMsgStore_GetFilePath(false, 1, folder, path) != 0;
    case StoreKind::kMms:
      return MMSMsgStore_GetFilePath(false, 1, folder, path) != 0;
    case StoreKind::kEmail:
      return EmailMsgStore_GetFilePath(false, 1, folder, path) != 0;
  }
  return false;
}

bool Openable(const StoreDescription& s, const Location& at) {
  const std::string name =
      (at.account != 0 ? std::to_string(at.account) + "_" : "") + std::to_string(at.id);
  const std::u16string path =
      FolderDir(s, at.card, at.folder) + u"\\" + Utf8ToUtf16(name) + s.extension;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

DWORD DatabaseBytes(const std::vector<Account>& accounts) {
  DWORD bytes = 4;
  for (const Account& a : accounts) bytes += 16 + 2 * static_cast<DWORD>(a.text.size() + 1);
  return bytes;
}

DWORD AccountCounter() {
  const AccountStoreDescription& a = AccountStore();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, a.registryKey, 0, 0, &key) != ERROR_SUCCESS) return 0;
  DWORD type = 0, size = sizeof(DWORD), number = 0;
  if (RegQueryValueExW(key, a.counterValue, nullptr, &type, reinterpret_cast<BYTE*>(&number),
                       &size) != ERROR_SUCCESS)
    number = 0;
  RegCloseKey(key);
  return number;
}

bool RaiseAccountCounter(DWORD value) {
  const AccountStoreDescription& a = AccountStore();
  HANDLE mutex = CreateMutexW(nullptr, FALSE, a.counterMutex);
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  bool ok = AccountCounter() >= value;
  if (!ok) {
    WCHAR noClass[] = u"";
    HKEY key = nullptr;
    DWORD disposition = 0;
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, a.registryKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                         KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS &&
         RegSetValueExW(key, a.counterValue, 0, REG_DWORD, bytes, 4) == ERROR_SUCCESS;
    if (key != nullptr) RegFlushKey(key), RegCloseKey(key);
  }
  if (mutex != nullptr) ReleaseMutex(mutex), CloseHandle(mutex);
  return ok;
}

// The counter file's value; false when it is missing or not 4 bytes.
bool ReadCounterFile(const StoreDescription& s, DWORD* value) {
  HANDLE file = CreateFileW(s.counterFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BYTE bytes[4] = {};
  DWORD got = 0;
  const bool ok =
      GetFileSize(file, nullptr) == 4 && ReadFile(file, bytes, 4, &got, nullptr) != 0 && got == 4;
  CloseHandle(file);
  if (ok) *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
  return ok;
}

// Sets the counter to at least value, under the store's own counter mutex so
// that no message written meanwhile draws an identifier from the old value.
bool RaiseCounter(const StoreDescription& s, DWORD value) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, s.counterMutex);
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  DWORD current = 0;
  bool ok = ReadCounterFile(s, &current) && current >= value;
  if (!ok) {
    const DWORD v = std::max(value, current);
    const BYTE bytes[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                           static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
    ok = ReplaceFileContents(s.counterFile, bytes, 4);
  }
  if (mutex != nullptr) ReleaseMutex(mutex), CloseHandle(mutex);
  return ok;
}

std::string FileName(const WCHAR* path) {
  const std::u16string p = path;
  return Utf16ToUtf8(p.substr(p.find_last_of(u'\\') + 1));
}

}  // namespace api
}  // namespace msgstore
