#include "store.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "output.h"
#include "text.h"

namespace tool {
namespace {

// A platform handle, closed by Close when it goes.
template <BOOL (*Close)(HANDLE)>
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) Close(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

const WCHAR kCounterPath[] = u"\\DiskOnChip\\User\\MESSAGING\\EMS\\EmsDB.ini";
// The store advances the counter under this mutex.
const WCHAR kCounterMutex[] = u"MUTEX_NEXTOID";

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The identifier of "5.sms" or "-5.sms" (4294967291), as the store names
// files; 0 for any other name.
DWORD OidOfName(const std::string& name) {
  std::string stem = name.substr(0, name.size() - 4);
  size_t digits = !stem.empty() && stem[0] == '-' ? 1 : 0;
  if (stem.size() <= digits || stem.size() > digits + 10 || stem[digits] == '0') return 0;
  for (size_t i = digits; i < stem.size(); ++i)
    if (stem[i] < '0' || stem[i] > '9') return 0;
  long long value = std::stoll(stem);
  if (value < INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<DWORD>(static_cast<int32_t>(value));
}

}  // namespace

void OpenDevice(Context* ctx) {
  std::string root = ctx->root;
  if (root.empty()) {
    const char* env = std::getenv("MSGSTORE_ROOT");
    if (env != nullptr && *env != '\0') root = env;
  }
  if (root.empty()) {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data != nullptr && *data != '\0')
      root = std::string(data) + "/msgstore/device";
    else if (home != nullptr && *home != '\0')
      root = std::string(home) + "/.local/share/msgstore/device";
    else
      throw UsageError("no device root: give --root DIR or set MSGSTORE_ROOT");
  }
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  if (ec) throw Failure("cannot create the device root " + root + ": " + ec.message());
  if (!std::filesystem::is_directory(root, ec))
    throw Failure("cannot use '" + root + "' as the device root: not a directory");
  ctx->root = root;
  msgstore::SetDeviceRoot(root);
}

const std::vector<EmsFolder>& EmsFolders() {
  static const std::vector<EmsFolder> kFolders = {
      {EMS_FOLDER_INBOX, "inbox"},
      {EMS_FOLDER_DRAFT, "draft"},
      {EMS_FOLDER_SENT, "sent"},
      {EMS_FOLDER_UNSENT, "unsent"},
      {EMS_FOLDER_REPORT, "report"},
      {EMS_FOLDER_SPAM, "spam"},
      {EMS_FOLDER_SIM_INBOX, "sim-inbox"},
      {EMS_FOLDER_SIM_SENT, "sim-sent"},
      {EMS_FOLDER_SIM_UNSENT, "sim-unsent"},
      {EMS_FOLDER_NONE, "none"},
  };
  return kFolders;
}

std::string FolderName(DWORD folder) {
  for (const auto& f : EmsFolders())
    if (f.id == folder) return f.name;
  return std::to_string(folder);
}

DWORD ParseFolder(const std::string& text) {
  std::string key;
  for (char c : text) key.push_back(c == '_' ? '-' : static_cast<char>(std::tolower(c)));
  uint64_t number = 0;
  bool numeric = ParseUnsigned(key, 0xFFFFFFFFu, &number);
  for (const auto& f : EmsFolders())
    if (key == f.name || (numeric && number == f.id)) return f.id;
  throw Failure("unknown folder '" + text +
                "' (folders: inbox, draft, sent, unsent, report, spam, sim-inbox, sim-sent, "
                "sim-unsent, none, or their numbers 1-8, 12, 13)");
}

DWORD ParseMessageId(const std::string& text) {
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id) || id == 0)
    throw UsageError("'" + text + "' is not a message identifier (1 to 4294967295)");
  return static_cast<DWORD>(id);
}

const char* StorageKey(bool card) { return card ? "card" : "phone"; }
const char* StorageName(bool card) { return card ? "memory card" : "phone memory"; }
std::string Where(bool card, DWORD folder) {
  return std::string(StorageKey(card)) + " " + FolderName(folder);
}

bool CardInserted() { return (msgstore::GetPlatform().xGetSDCardState() & 1) != 0; }

void RequireCard() {
  if (!CardInserted()) throw Failure("no memory card is inserted (see 'msgstore card insert')");
}

bool FolderOnStorage(bool card, DWORD folder) {
  // The store resolves NONE on the card to the phone's directory; the card
  // has no NONE of its own.
  if (card && folder == EMS_FOLDER_NONE) return false;
  WCHAR path[MAX_PATH] = {};
  return EMSMsgStore_GetFolderPath(card, folder, path) != 0;
}

void RequireFolder(bool card, DWORD folder) {
  if (!FolderOnStorage(card, folder))
    throw Failure("folder " + FolderName(folder) + " does not exist on the " + StorageName(card));
}

std::u16string FolderPath(bool card, DWORD folder) {
  WCHAR path[MAX_PATH] = {};
  EMSMsgStore_GetFolderPath(card, folder, path);
  return path;
}

void RequireIntactFolder(bool card, DWORD folder) {
  DWORD attributes = GetFileAttributesW(FolderPath(card, folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes))
    throw Failure("the " + Where(card, folder) + " folder is damaged (not a directory)");
}

void RequireTree(bool card, DWORD folder) {
  std::u16string path = FolderPath(card, folder);
  if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    throw Failure(std::string("the message tree of the ") + StorageName(card) +
                  " has not been made (run 'msgstore init')");
  RequireIntactFolder(card, folder);
}

bool TreeMade(bool card) {
  return IsDirectory(GetFileAttributesW(FolderPath(card, EMS_FOLDER_INBOX).c_str()));
}

bool FindPath(const std::u16string& path, WIN32_FIND_DATAW* data) {
  Handle<FindClose> find(FindFirstFileW(path.c_str(), data));
  return find.valid();
}

std::vector<FolderEntry> FolderEntries(bool card, DWORD folder) {
  std::vector<FolderEntry> entries;
  std::u16string path = FolderPath(card, folder);
  if (path.empty()) return entries;
  WIN32_FIND_DATAW data = {};
  Handle<FindClose> find(FindFirstFileW((path + u"\\*.sms").c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data) != 0) {
    std::string name = WideToUtf8(data.cFileName);
    entries.push_back({name, data.dwFileAttributes, data.nFileSizeLow, OidOfName(name)});
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.oid != b.oid ? a.oid < b.oid : a.name < b.name;
  });
  return entries;
}

std::string OddName(const FolderEntry& entry) {
  return "file " + entry.name + " (not named by a message identifier)";
}

std::string IdCounter::State() const {
  std::string state = !present ? "missing"
                      : !sound ? "damaged (not 4 bytes)"
                               : "last identifier " + std::to_string(value);
  state +=
      highest == 0 ? ", no messages" : ", highest identifier in use " + std::to_string(highest);
  return Ok() ? "ok: " + state : sound ? "behind: " + state : state;
}

IdCounter ReadIdCounter() {
  IdCounter counter{GetFileAttributesW(kCounterPath) != INVALID_FILE_ATTRIBUTES, false, 0, 0};
  for (const Location& at : AllMessages()) counter.highest = std::max(counter.highest, at.oid);
  Handle<CloseHandle> file(CreateFileW(kCounterPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BYTE bytes[4] = {};
  DWORD got = 0;
  counter.sound = file.valid() && GetFileSize(file.get(), nullptr) == 4 &&
                  ReadFile(file.get(), bytes, 4, &got, nullptr) != 0 && got == 4;
  if (counter.sound)
    counter.value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
  return counter;
}

bool RepairIdCounter(const IdCounter& counter) {
  // Under the store's own counter mutex, so that no message written meanwhile
  // draws an identifier from the old value; the file is replaced whole.
  Handle<CloseHandle> mutex(CreateMutexW(nullptr, FALSE, kCounterMutex));
  if (mutex.valid()) WaitForSingleObject(mutex.get(), INFINITE);
  DWORD v = std::max(counter.highest, ReadIdCounter().value);
  const BYTE bytes[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                         static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
  const std::u16string temp = msgstore::TempPathFor(kCounterPath);
  bool written = false;
  {
    Handle<CloseHandle> file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    written = file.valid() && WriteFile(file.get(), bytes, 4, &done, nullptr) != 0 && done == 4;
  }
  bool placed = written && MoveFileExW(temp.c_str(), kCounterPath, MOVEFILE_REPLACE_EXISTING);
  if (!placed) DeleteFileW(temp.c_str());
  if (mutex.valid()) ReleaseMutex(mutex.get());
  return placed;
}

namespace {

void CollectStaleTempFiles(const std::u16string& dir, int depth, std::vector<std::u16string>* out) {
  WIN32_FIND_DATAW data = {};
  Handle<FindClose> find(FindFirstFileW((dir + u"\\*").c_str(), &data));
  std::vector<std::u16string> subdirs;
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data) != 0) {
    std::u16string name = data.cFileName;
    DWORD writer = 0;
    if (IsDirectory(data.dwFileAttributes))
      subdirs.push_back(name);
    else if (msgstore::IsTempFileName(name, &writer) && !IsProcessRunning(writer))
      out->push_back(dir + u"\\" + name);
  }
  if (depth < 8)
    for (const auto& sub : subdirs) CollectStaleTempFiles(dir + u"\\" + sub, depth + 1, out);
}

}  // namespace

std::vector<std::u16string> StaleTempFiles() {
  std::vector<std::u16string> found;
  for (const char16_t* root : {u"\\DiskOnChip\\User\\MESSAGING", u"\\SD Card\\User\\MESSAGING"})
    CollectStaleTempFiles(root, 0, &found);
  std::sort(found.begin(), found.end());
  return found;
}

void RequireIdCounter() {
  IdCounter counter = ReadIdCounter();
  if (!counter.Ok())
    throw Failure(
        "the identifier counter EmsDB.ini is damaged or behind the stored messages (highest "
        "identifier in use " +
        std::to_string(counter.highest) + "); 'msgstore check --fix' repairs it");
}

void RequireCardTakes(bool card) {
  int state = msgstore::GetPlatform().xGetSDCardState();
  if (card && (state & 6) != 0)
    throw Failure("the memory card cannot take messages now (card state " + std::to_string(state) +
                  ")");
}

std::vector<DWORD> ListFolder(bool card, DWORD folder) {
  CMsgList list;
  EMSMsgStore_GetMessageList(card, folder, list);
  std::vector<DWORD> ids;
  for (long i = 0; i < list.GetSize(); ++i) ids.push_back(list[i].dwOid);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<Location> AllMessages() {
  std::vector<Location> all;
  for (bool card : {false, true}) {
    if (card && !CardInserted()) continue;
    for (const auto& f : EmsFolders())
      if (FolderOnStorage(card, f.id))
        for (DWORD oid : ListFolder(card, f.id)) all.push_back({card, f.id, oid});
  }
  return all;
}

std::vector<DWORD> SearchOrder(bool card) {
  if (card)
    return {EMS_FOLDER_INBOX, EMS_FOLDER_DRAFT, EMS_FOLDER_SENT, EMS_FOLDER_UNSENT,
            EMS_FOLDER_SPAM};
  return {EMS_FOLDER_INBOX, EMS_FOLDER_SIM_INBOX, EMS_FOLDER_SIM_SENT, EMS_FOLDER_SIM_UNSENT,
          EMS_FOLDER_DRAFT, EMS_FOLDER_SENT,      EMS_FOLDER_UNSENT,   EMS_FOLDER_REPORT,
          EMS_FOLDER_SPAM,  EMS_FOLDER_NONE};
}

namespace {

bool FindIn(bool card, DWORD oid, Location* at) {
  for (DWORD folder : SearchOrder(card)) {
    std::vector<DWORD> ids = ListFolder(card, folder);
    if (std::binary_search(ids.begin(), ids.end(), oid)) {
      *at = {card, folder, oid};
      return true;
    }
  }
  return false;
}

}  // namespace

Location Locate(bool card, DWORD oid) {
  if (card) RequireCard();
  Location at{};
  if (FindIn(card, oid, &at)) return at;
  std::string message = "no message " + std::to_string(oid) + " in " + StorageName(card);
  if (!card && CardInserted() && FindIn(true, oid, &at))
    message += " (it is on the memory card: add --card)";
  throw Failure(message);
}

void ReadWhole(const Location& at, bool withContent, Message* out) {
  if (EMSMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, withContent, out->get()) == 0)
    throw Failure("message " + std::to_string(at.oid) + " in " + Where(at.card, at.folder) + " " +
                  ReadProblem(at));
}

bool ReadRecord(const Location& at, Message* out) {
  return EMSMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, false, out->get()) != 0;
}

bool Openable(const Location& at) {
  WCHAR path[MAX_PATH] = {};
  EMSMsgStore_GetFilePath(at.card, at.oid, at.folder, path);
  Handle<CloseHandle> file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

std::string ReadProblem(const Location& at) {
  return Openable(at) ? "cannot be read (damaged file)" : "cannot be opened";
}

std::string Summary(const tagMSGPROPS& props) {
  std::string subject = WideToUtf8(props.pszSubject);
  if (!subject.empty()) return subject;
  std::string text;
  if (ContentAsText(props.pData, props.cbData, &text)) return text;
  if (props.cbData != 0) return "(" + std::to_string(props.cbData) + " bytes of data)";
  return "";
}

nlohmann::ordered_json MessageJson(const Location& at, const tagMSGPROPS& p, bool withContent) {
  nlohmann::ordered_json j;
  j["storage"] = StorageKey(at.card);
  j["folder"] = FolderName(at.folder);
  j["id"] = at.oid;
  j["record_id"] = p.dwOid;
  j["record_folder"] = p.dwFolder;
  j["read"] = p.bRead != 0;
  j["status"] = p.wStatus;
  j["index_time"] = FormatTime(p.ftIndexTime);
  j["index_time_ticks"] = Ticks(p.ftIndexTime);
  j["time"] = FormatTime(p.ftTime);
  j["time_ticks"] = Ticks(p.ftTime);
  j["to"] = WideToUtf8(p.pszTo);
  j["subject"] = WideToUtf8(p.pszSubject);
  j["msg_id"] = WideToUtf8(p.pszMsgID);
  j["text1"] = WideToUtf8(p.pszText1);
  j["text2"] = WideToUtf8(p.pszText2);
  j["text3"] = WideToUtf8(p.pszText3);
  j["text4"] = WideToUtf8(p.pszText4);
  j["user1"] = p.dwUser1;
  j["user2"] = p.dwUser2;
  j["user3"] = p.dwUser3;
  j["wuser1"] = p.wUser1;
  j["wuser2"] = p.wUser2;
  if (withContent) {
    j["content_size"] = p.cbData;
    j["content_base64"] = Base64Encode(p.pData, p.pData == nullptr ? 0 : p.cbData);
    std::string text;
    if (ContentAsText(p.pData, p.cbData, &text)) j["content_text"] = text;
  }
  return j;
}

}  // namespace tool
