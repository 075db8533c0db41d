#include "api/folder_files.h"

#include <algorithm>
#include <set>

#include "api/handset.h"
#include "common/msg_str.h"
#include "email/email_accounts.h"
#include "msgstore/msgstore.h"
#include "msgstore/text.h"

namespace msgstore {
namespace api {
namespace {

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

const char* StorageName(bool card) { return card ? "memory card" : "phone memory"; }

bool CardIn() { return GetPlatform().CardInserted(); }

std::string FolderName(const StoreDescription& s, DWORD folder) {
  const FolderDescription* f = s.Folder(folder);
  return f != nullptr ? f->name : std::to_string(folder);
}

// "phone inbox", "card spam"
std::string Where(const StoreDescription& s, bool card, DWORD folder) {
  return std::string(card ? "card " : "phone ") + FolderName(s, folder);
}

// "message 5 in phone inbox"
std::string What(const StoreDescription& s, const Location& at) {
  return "message " + std::to_string(at.id) + " in " + Where(s, at.card, at.folder);
}

bool OnStorage(const FolderDescription& f, bool card) { return !card || f.onCard(); }

bool IsDirectory(const std::u16string& path) {
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The directory of the folder's message files; empty when the storage has
// none. A folder reached by file path only has the directory of its files.
std::u16string FolderDir(const StoreDescription& s, bool card, DWORD folder) {
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr || !OnStorage(*f, card)) return u"";
  const Handset& h = HandsetOf(s.kind);
  WCHAR path[MAX_PATH] = {};
  if (f->hasFolderPath) return h.folderPath(card, folder, path) != 0 ? path : u"";
  if (h.filePath({card, folder, 1, 0}, path) == 0) return u"";
  const std::u16string file = path;
  return file.substr(0, file.rfind(u'\\'));
}

// Whether the store names a file for messages of the folder: not the
// e-mail store's none folder, whose messages are read by their place.
bool NamesFiles(const StoreDescription& s, bool card, DWORD folder, DWORD account) {
  WCHAR path[MAX_PATH] = {};
  return HandsetOf(s.kind).filePath({card, folder, 1, account}, path) != 0;
}

// The identifier a name gives ("5", "-5" for 4294967291) as the store writes
// it; 0 for any other name.
DWORD IdOfName(const std::u16string& stem) {
  const DWORD id = LeadingNumber(stem.c_str());
  return id != 0 && DecimalU16(id) == stem ? id : 0;
}

std::vector<FolderEntry> FolderEntries(const StoreDescription& s, bool card, DWORD folder) {
  std::vector<FolderEntry> entries;
  const std::u16string dir = FolderDir(s, card, folder);
  const FolderDescription* f = s.Folder(folder);
  if (dir.empty() || f == nullptr) return entries;
  const size_t extension = std::u16string(s.extension).size();
  Find(dir + u"\\*" + s.extension, [&](const WIN32_FIND_DATAW& data) {
    const std::u16string wide = data.cFileName;
    const std::string name = Utf16ToUtf8(wide);
    const std::u16string stem = wide.substr(0, wide.size() - std::min(extension, wide.size()));
    DWORD id = 0, account = 0;
    const size_t bar = stem.find(u'_');
    if (!f->perAccount) {
      id = IdOfName(stem);
    } else if (bar != std::u16string::npos) {
      account = IdOfName(stem.substr(0, bar));
      id = account < s.firstAccountFolder ? 0 : IdOfName(stem.substr(bar + 1));
      if (id == 0) account = 0;
    }
    entries.push_back({name, data.dwFileAttributes, data.nFileSizeLow, id, account});
  });
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.id != b.id ? a.id < b.id : a.name < b.name;
  });
  return entries;
}

std::u16string IndexPath(const StoreDescription& s, DWORD folder, DWORD account) {
  const std::u16string prefix = account != 0 ? DecimalU16(account) + u"_" : u"";
  return FolderDir(s, false, folder) + u"\\" + prefix + s.indexName;
}

std::vector<DWORD> AccountsOnDevice(const StoreDescription& s, DWORD folder) {
  std::set<DWORD> ids;
  for (bool card : {false, true}) {
    if (card && !CardIn()) continue;
    for (const FolderEntry& e : FolderEntries(s, card, folder))
      if (e.account != 0) ids.insert(e.account);
  }
  Find(FolderDir(s, false, folder) + u"\\*_" + s.indexName, [&](const WIN32_FIND_DATAW& data) {
    const std::u16string name = data.cFileName;
    const DWORD id = IdOfName(name.substr(0, name.find(u'_')));
    if (id >= s.firstAccountFolder) ids.insert(id);
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

namespace {

// The file the device API names for a message.
std::u16string MessagePath(const StoreDescription& s, const Location& at) {
  const std::string name =
      (at.account != 0 ? std::to_string(at.account) + "_" : "") + std::to_string(at.id);
  return FolderDir(s, at.card, at.folder) + u"\\" + Utf8ToUtf16(name) + s.extension;
}

}  // namespace

bool IsFile(const StoreDescription& s, const Location& at) {
  const DWORD attributes = GetFileAttributesW(MessagePath(s, at).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Openable(const StoreDescription& s, const Location& at) {
  const std::u16string path = MessagePath(s, at);
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

std::string DamagedDatabase(const std::string& name, DWORD bytes,
                            const std::vector<Account>& read) {
  return "the account database " + name + "is damaged (" + std::to_string(bytes) +
         " bytes, of which the account store reads " + std::to_string(DatabaseBytes(read)) + ")";
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

std::string StoreDescription::CounterFileName() const { return api::FileName(counterFile); }
}  // namespace msgstore
