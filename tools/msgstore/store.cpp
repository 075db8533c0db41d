#include "store.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "accounts.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

bool IsDirectory(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The identifier of "5" or "-5" (4294967291), the name of a message file
// without its extension, as the store names files; 0 for any other name.
DWORD OidOfName(const std::string& stem) {
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

Store::Store(const msgstore::StoreDescription& description, Refusal refusal,
             std::vector<ExtraField> extras, StoreOps ops,
             CountSummary (*countSummary)(const Store& s, bool cardTree))
    : d(description),
      refusal(refusal),
      extras(std::move(extras)),
      ops(ops),
      countSummary(countSummary) {
  // Each folder that has an index file of its own, with the folders indexed
  // with it; a per-account folder's indexes are the accounts'.
  for (const FolderDescription& f : d) {
    if (f.indexFolder != f.number || f.perAccount) continue;
    Index index{f.number, {}, f.rebuiltAlways};
    for (const FolderDescription& member : d)
      if (member.indexFolder == f.number) index.members.push_back(member.number);
    indexes.push_back(index);
  }
}

bool Store::IsDefault() const { return Stores().front() == this; }

std::vector<const FolderDescription*> Store::Folders() const {
  std::vector<const FolderDescription*> all;
  for (DWORD number : d.shown) all.push_back(d.Folder(number));
  return all;
}

bool Store::Switches(DWORD folder) const {
  const FolderDescription* f = Folder(folder);
  return f != nullptr && f->limited && f->switches;
}

std::vector<DWORD> Store::Searched(bool card) const {
  std::vector<DWORD> folders;
  for (DWORD number : d.searched)
    if (!card || d.Folder(number)->onCard()) folders.push_back(number);
  if (!card)
    for (const FolderDescription* f : Folders())
      if (!f->hasFolderPath) folders.push_back(f->number);
  return folders;
}

std::string Store::CounterFile() const {
  const std::string path = WideToUtf8(d.counterFile);
  return path.substr(path.rfind('\\') + 1);
}

std::string Store::FolderName(DWORD folder) const {
  const FolderDescription* f = Folder(folder);
  return f != nullptr ? f->name : std::to_string(folder);
}

std::string Store::FolderNames() const {
  std::string names;
  for (const FolderDescription* f : Folders())
    names += (names.empty() ? "" : ", ") + std::string(f->name);
  return names;
}

DWORD Store::ParseFolder(const std::string& text) const {
  uint64_t number = 0;
  const FolderDescription* named = d.FolderNamed(text);
  if (named != nullptr) return named->number;
  if (ParseUnsigned(text, 0xFFFFFFFFu, &number) && Folder(static_cast<DWORD>(number)) != nullptr)
    return static_cast<DWORD>(number);
  // The numbers, three or more in a row as a range: "1-8, 12, 13".
  std::vector<DWORD> ids;
  for (const FolderDescription& f : d) ids.push_back(f.number);
  std::sort(ids.begin(), ids.end());
  std::string numbers;
  for (size_t i = 0; i < ids.size(); ++i) {
    size_t j = i;
    while (j + 1 < ids.size() && ids[j + 1] == ids[j] + 1) ++j;
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(ids[i]);
    if (j >= i + 2) i = j, numbers += "-" + std::to_string(ids[j]);
  }
  throw Failure("unknown folder '" + text + "' (folders: " + FolderNames() + ", or their numbers " +
                numbers + ")");
}

std::string Store::Where(bool card, DWORD folder) const {
  return std::string(StorageKey(card)) + " " + FolderName(folder);
}

std::string Store::CommandLine(const std::string& command, const std::string& rest) const {
  return "msgstore " + command + (IsDefault() ? "" : " " + std::string(d.name)) +
         (rest.empty() ? "" : " " + rest);
}

const Index* Store::IndexOf(DWORD folder) const {
  for (const Index& index : indexes)
    if (std::find(index.members.begin(), index.members.end(), folder) != index.members.end())
      return &index;
  return nullptr;
}

std::vector<Index> Indexes(const Store& s) {
  std::vector<Index> all = s.indexes;
  for (const FolderDescription& f : s.d) {
    if (!f.perAccount) continue;
    // Files that name no account belong to no index; the check reports them
    // beside the accounts'.
    for (const FolderEntry& entry : FolderEntries(s, false, f.number))
      if (entry.account == 0) {
        all.push_back({f.number, {f.number}, false});
        break;
      }
    for (DWORD account : AccountsOnDevice()) all.push_back({f.number, {f.number}, false, account});
  }
  return all;
}

const std::vector<const Store*>& Stores() {
  static const std::vector<const Store*> kStores = {&Sms(), &Mms(), &Email()};
  return kStores;
}

DWORD FirstAccountId() {
  for (const Store* s : Stores())
    if (s->HasAccounts()) return s->d.firstAccountFolder;
  return 0;
}

const Store& ParseStore(const std::string& name) {
  std::string names;
  for (const Store* s : Stores()) {
    if (name.empty() ? s->IsDefault() : name == s->d.name) return *s;
    names += (names.empty() ? "" : ", ") + std::string(s->d.name);
  }
  throw UsageError("unknown store '" + name + "' (stores: " + names + ")");
}

Message::Message(const Store& store) : store_(store), props_() {
  std::memset(&part_, 0, sizeof part_);
}

WCHAR* OwnedText(const std::u16string& text) {
  if (text.empty()) return nullptr;
  auto* copy = static_cast<WCHAR*>(std::calloc(text.size() + 1, sizeof(WCHAR)));
  if (copy == nullptr) throw Failure("out of memory");
  std::memcpy(copy, text.data(), text.size() * sizeof(WCHAR));
  return copy;
}

BYTE* OwnedBytes(const std::vector<BYTE>& bytes) {
  if (bytes.empty()) return nullptr;
  auto* copy = static_cast<BYTE*>(std::calloc(bytes.size() + 1, 1));
  if (copy == nullptr) throw Failure("out of memory");
  std::memcpy(copy, bytes.data(), bytes.size());
  return copy;
}

DWORD ParseMessageId(const std::string& text) {
  uint64_t id = 0;
  if (!ParseUnsigned(text, 0xFFFFFFFFu, &id) || id == 0)
    throw UsageError("'" + text + "' is not a message identifier (1 to 4294967295)");
  return static_cast<DWORD>(id);
}

const char* StorageKey(bool card) { return card ? "card" : "phone"; }
const char* StorageName(bool card) { return card ? "memory card" : "phone memory"; }

bool CardInserted() { return (msgstore::GetPlatform().xGetSDCardState() & 1) != 0; }

void RequireCard() {
  if (!CardInserted()) throw Failure("no memory card is inserted (see 'msgstore card insert')");
}

bool FolderOnStorage(const Store& s, bool card, DWORD folder) {
  // A store may resolve a phone folder asked for with the card selector to
  // the phone's directory; the tool keeps such folders to phone memory.
  const FolderDescription* f = s.Folder(folder);
  return f != nullptr && (!card || f->onCard());
}

void RequireFolder(const Store& s, bool card, DWORD folder) {
  if (!FolderOnStorage(s, card, folder))
    throw Failure("folder " + s.FolderName(folder) + " does not exist on the " + StorageName(card));
}

std::u16string FolderPath(const Store& s, bool card, DWORD folder) {
  WCHAR path[MAX_PATH] = {};
  if (!s.PathsOnly(folder)) {
    s.ops.folderPath(card, folder, path);
    return path;
  }
  if (s.ops.filePath({card, folder, 1}, path) == 0) return u"";
  std::u16string file = path;
  return file.substr(0, file.rfind(u'\\'));
}

void RequireIntactFolder(const Store& s, bool card, DWORD folder) {
  DWORD attributes = GetFileAttributesW(FolderPath(s, card, folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsDirectory(attributes))
    throw Failure("the " + s.Where(card, folder) + " folder is damaged (not a directory)");
}

void RequireTree(const Store& s, bool card, DWORD folder) {
  std::u16string path = FolderPath(s, card, folder);
  if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    throw Failure(std::string("the message tree of the ") + StorageName(card) +
                  " has not been made (run 'msgstore init')");
  RequireIntactFolder(s, card, folder);
}

bool TreeMade(const Store& s, bool card) {
  return IsDirectory(GetFileAttributesW(FolderPath(s, card, s.Inbox()).c_str()));
}

void RequireListable(const Store& s, DWORD folder, const std::string& what) {
  if (s.PathsOnly(folder))
    throw Failure("folder " + s.FolderName(folder) + " cannot be " + what +
                  ": the store keeps its messages by file name only (show, mark, mv and rm find "
                  "them by identifier)");
}

bool FindPath(const std::u16string& path, WIN32_FIND_DATAW* data) {
  Handle<FindClose> find(FindFirstFileW(path.c_str(), data));
  return find.valid();
}

std::vector<FolderEntry> FolderEntries(const Store& s, bool card, DWORD folder) {
  std::vector<FolderEntry> entries;
  std::u16string path = FolderPath(s, card, folder);
  if (path.empty()) return entries;
  const std::string extension = WideToUtf8(s.d.extension);
  const bool byAccount = s.ByAccount(folder);
  WIN32_FIND_DATAW data = {};
  Handle<FindClose> find(FindFirstFileW((path + u"\\" + s.d.messagePattern).c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data) != 0) {
    std::string name = WideToUtf8(data.cFileName);
    std::string stem = name.substr(0, name.size() - std::min(extension.size(), name.size()));
    DWORD account = 0;
    DWORD oid = 0;
    size_t bar = stem.find('_');
    if (!byAccount) {
      oid = OidOfName(stem);
    } else if (bar != std::string::npos) {
      account = OidOfName(stem.substr(0, bar));
      oid = account < s.d.firstAccountFolder ? 0 : OidOfName(stem.substr(bar + 1));
      if (oid == 0) account = 0;
    }
    entries.push_back({name, data.dwFileAttributes, data.nFileSizeLow, oid, account});
  }
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.oid != b.oid ? a.oid < b.oid : a.name < b.name;
  });
  return entries;
}

std::string OddName(const std::string& name) {
  return "file " + name + " (not named by a message identifier)";
}

std::string IdCounter::State() const {
  std::string state = !present ? "missing"
                      : !sound ? "damaged (not 4 bytes)"
                               : "last identifier " + std::to_string(value);
  state +=
      highest == 0 ? ", no messages" : ", highest identifier in use " + std::to_string(highest);
  return Ok() ? "ok: " + state : sound ? "behind: " + state : state;
}

namespace {

// The counter file's value; false when it is missing or not 4 bytes.
bool ReadCounterFile(const Store& s, DWORD* value) {
  Handle<CloseHandle> file(CreateFileW(s.d.counterFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BYTE bytes[4] = {};
  DWORD got = 0;
  if (!file.valid() || GetFileSize(file.get(), nullptr) != 4 ||
      ReadFile(file.get(), bytes, 4, &got, nullptr) == 0 || got != 4)
    return false;
  *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
  return true;
}

}  // namespace

IdCounter ReadIdCounter(const Store& s) {
  IdCounter counter{GetFileAttributesW(s.d.counterFile) != INVALID_FILE_ATTRIBUTES, false, 0, 0};
  for (const Location& at : AllMessages(s)) counter.highest = std::max(counter.highest, at.oid);
  counter.sound = ReadCounterFile(s, &counter.value);
  return counter;
}

DWORD CounterValue(const Store& s) {
  DWORD value = 0;
  return ReadCounterFile(s, &value) ? value : 0;
}

bool RepairIdCounter(const Store& s, const IdCounter& counter) {
  // Under the store's own counter mutex, so that no message written meanwhile
  // draws an identifier from the old value; the file is replaced whole.
  Handle<CloseHandle> mutex(CreateMutexW(nullptr, FALSE, s.d.counterMutex));
  if (mutex.valid()) WaitForSingleObject(mutex.get(), INFINITE);
  DWORD v = std::max(counter.highest, CounterValue(s));
  const BYTE bytes[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                         static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
  const bool placed = msgstore::ReplaceFileContents(s.d.counterFile, bytes, 4);
  if (mutex.valid()) ReleaseMutex(mutex.get());
  return placed;
}

std::vector<std::u16string> StaleTempFiles() {
  // The library's own scan, over the whole device: the stores' trees, the
  // account database beside them and the platform's registry and state.
  std::vector<std::u16string> found = msgstore::FindStaleTempFiles(u"\\");
  std::sort(found.begin(), found.end());
  return found;
}

void RequireIdCounter(const Store& s) {
  IdCounter counter = ReadIdCounter(s);
  if (!counter.Ok())
    throw Failure("the identifier counter " + s.CounterFile() +
                  " is damaged or behind the stored messages (highest identifier in use " +
                  std::to_string(counter.highest) + "); '" + s.CommandLine("check", "--fix") +
                  "' repairs it");
}

void RequireCardTakes(const Store& s, bool card) {
  int state = msgstore::GetPlatform().xGetSDCardState();
  if (card && (state & s.d.cardUnusable) != 0)
    throw Failure("the memory card cannot take messages now (card state " + std::to_string(state) +
                  ")");
}

std::vector<DWORD> ListFolder(const Store& s, bool card, DWORD folder) {
  std::vector<DWORD> ids;
  if (s.PathsOnly(folder) || s.ByAccount(folder)) {
    // The store cannot list it, or lists one account at a time; its files
    // are found by name.
    for (const FolderEntry& entry : FolderEntries(s, card, folder))
      if (entry.oid != 0) ids.push_back(entry.oid);
    return ids;
  }
  CMsgList list;
  s.ops.list(card, folder, list);
  // 0 is no identifier: the store gives it to files it cannot name.
  for (long i = 0; i < list.GetSize(); ++i)
    if (list[i].dwOid != 0) ids.push_back(list[i].dwOid);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<Location> FolderMessages(const Store& s, bool card, DWORD folder) {
  std::vector<Location> all;
  if (!s.ByAccount(folder)) {
    for (DWORD oid : ListFolder(s, card, folder)) all.push_back({card, folder, oid});
    return all;
  }
  for (const FolderEntry& entry : FolderEntries(s, card, folder))
    if (entry.oid != 0) all.push_back({card, folder, entry.oid, entry.account});
  return all;
}

std::vector<Location> AllMessages(const Store& s) {
  std::vector<Location> all;
  for (bool card : {false, true}) {
    if (card && !CardInserted()) continue;
    for (const FolderDescription* f : s.Folders())
      if (FolderOnStorage(s, card, f->number))
        for (const Location& at : FolderMessages(s, card, f->number)) all.push_back(at);
  }
  return all;
}

namespace {

bool FindIn(const Store& s, bool card, DWORD oid, Location* at) {
  for (DWORD folder : s.Searched(card))
    for (const Location& found : FolderMessages(s, card, folder))
      if (found.oid == oid) {
        *at = found;
        return true;
      }
  return false;
}

}  // namespace

Location Locate(const Store& s, bool card, DWORD oid) {
  if (card) RequireCard();
  Location at{};
  if (FindIn(s, card, oid, &at)) return at;
  std::string message = "no message " + std::to_string(oid) + " in " + StorageName(card);
  if (!card && CardInserted() && FindIn(s, true, oid, &at))
    message += " (it is on the memory card: add --card)";
  throw Failure(message);
}

void ReadWhole(const Store& s, const Location& at, bool withContent, Message* out) {
  if (!s.ops.read(at, withContent, out))
    throw Failure("message " + std::to_string(at.oid) + " in " + s.Where(at.card, at.folder) + " " +
                  ReadProblem(s, at));
}

bool ReadRecord(const Store& s, const Location& at, Message* out) {
  return s.ops.read(at, false, out);
}

bool Openable(const Store& s, const Location& at) {
  WCHAR path[MAX_PATH] = {};
  s.ops.filePath(at, path);
  Handle<CloseHandle> file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

std::string ReadProblem(const Store& s, const Location& at) {
  return Openable(s, at) ? "cannot be read (damaged file)" : "cannot be opened";
}

std::string Summary(const tagMSGPROPS& props) {
  std::string subject = WideToUtf8(props.pszSubject);
  if (!subject.empty()) return subject;
  std::string text;
  if (ContentAsText(props.pData, props.cbData, &text)) return text;
  if (props.cbData != 0) return "(" + std::to_string(props.cbData) + " bytes of data)";
  return "";
}

namespace {

// An extra field's value: a number, or the text.
nlohmann::ordered_json ExtraValue(const ExtraField& f, const Message& m) {
  const BYTE* at = m.part() + f.offset;
  if (f.kind == ExtraField::kText) {
    const WCHAR* text = nullptr;
    std::memcpy(&text, at, sizeof text);
    return WideToUtf8(text);
  }
  if (f.kind == ExtraField::kWord) {
    WORD w = 0;
    std::memcpy(&w, at, sizeof w);
    return w;
  }
  if (f.kind == ExtraField::kInt) {
    int32_t i = 0;
    std::memcpy(&i, at, sizeof i);
    return i;
  }
  DWORD d = 0;
  std::memcpy(&d, at, sizeof d);
  return d;
}

}  // namespace

nlohmann::ordered_json MessageJson(const Store& s, const Location& at, const Message& m,
                                   bool withContent) {
  const tagMSGPROPS& p = *m;
  nlohmann::ordered_json j;
  j["storage"] = StorageKey(at.card);
  j["folder"] = s.FolderName(at.folder);
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
  for (const ExtraField& f : s.extras) j[f.key] = ExtraValue(f, m);
  if (withContent) {
    j["content_size"] = p.cbData;
    j["content_base64"] = Base64Encode(p.pData, p.pData == nullptr ? 0 : p.cbData);
    std::string text;
    if (ContentAsText(p.pData, p.cbData, &text)) j["content_text"] = text;
  }
  return j;
}

std::vector<std::pair<std::string, std::string>> ExtraRows(const Store& s, const Message& m) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const ExtraField& f : s.extras) {
    std::string label = f.key;
    std::replace(label.begin(), label.end(), '_', ' ');
    nlohmann::ordered_json value = ExtraValue(f, m);
    rows.emplace_back(label,
                      value.is_string() ? CellText(value.get<std::string>(), 4096) : value.dump());
  }
  return rows;
}

}  // namespace tool
