// export and import: a device's stores as one JSON object a line, and back.
//
// export writes a first line that names the format and its version, then
// for each store its identifier counter and every message of both storages
// (every field, the content in base64, and the message's place in its phone
// index), then the account store: its database and registry counter, and
// every account in the order the database keeps them.
//
// import checks the whole file first and writes nothing when a line is
// damaged or a message would replace a stored one (unless --replace). It then
// writes every message through its store's write operation under the
// identifier it had, so that the file keeps its name; the messages of one
// index are written oldest place first, because the store puts a new record
// before every record that is not later than it, so each index comes out in
// the order it was exported. Accounts go through the account store's write
// operation in the order that makes its save give the same database, and the
// counters end at or above what was exported.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "accounts.h"
#include "commands.h"
#include "output.h"
#include "text.h"

namespace tool {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr const char* kFormat = "msgstore-export";
constexpr int kVersion = 1;
constexpr const char* kAccountsPart = "accounts";

const msgstore::AccountStoreDescription& kAccountStore = msgstore::AccountStore();
// An account keeps at most this many UTF-16 code units of text.
constexpr size_t kMaxAccountText = 255;

// What a command line's STORE words select.
struct Selection {
  std::vector<const Store*> stores;
  bool accounts = false;
};

Selection Select(const std::vector<std::string>& words) {
  Selection sel;
  if (words.empty()) {
    sel.stores = Stores();
    sel.accounts = true;
    return sel;
  }
  for (const std::string& word : words) {
    if (word == kAccountsPart) {
      sel.accounts = true;
      continue;
    }
    const Store* s = nullptr;
    for (const Store* candidate : Stores())
      if (word == candidate->d.name) s = candidate;
    if (s == nullptr) {
      std::string names;
      for (const Store* candidate : Stores()) names += std::string(candidate->d.name) + ", ";
      throw UsageError("unknown store '" + word + "' (stores: " + names + kAccountsPart + ")");
    }
    if (std::find(sel.stores.begin(), sel.stores.end(), s) == sel.stores.end())
      sel.stores.push_back(s);
  }
  return sel;
}

const Store* StoreNamed(const std::string& name) {
  for (const Store* s : Stores())
    if (name == s->d.name) return s;
  return nullptr;
}

// The string fields of a message, by their keys in the export.
std::vector<std::pair<const char*, WCHAR * tagMSGPROPS::*>> TextFields() {
  return {{"to", &tagMSGPROPS::pszTo},        {"subject", &tagMSGPROPS::pszSubject},
          {"msg_id", &tagMSGPROPS::pszMsgID}, {"text1", &tagMSGPROPS::pszText1},
          {"text2", &tagMSGPROPS::pszText2},  {"text3", &tagMSGPROPS::pszText3},
          {"text4", &tagMSGPROPS::pszText4}};
}

std::string RawKey(const std::string& key) { return key + "_utf16_base64"; }

// A string that UTF-8 cannot carry as it is (a lone surrogate) goes beside
// its text as the UTF-16LE bytes, "<key>_utf16_base64".
void KeepUnits(const std::string& key, const WCHAR* text, OrderedJson* j) {
  if (text == nullptr) return;
  std::u16string units(text);
  if (Utf8ToUtf16(Utf16ToUtf8(units)) == units) return;
  std::vector<BYTE> bytes = Utf16LeBytes(units);
  (*j)[RawKey(key)] = Base64Encode(bytes.data(), bytes.size());
}

WCHAR* ExtraText(const ExtraField& f, Message& m) {
  WCHAR* text = nullptr;
  std::memcpy(&text, m.part() + f.offset, sizeof text);
  return text;
}

// ---------------------------------------------------------------------------
// export

// Where each phone message stands in its index: by index key (the index's
// folder, or the account of an account's index), the list of (folder mark,
// identifier) in index order.
using IndexKey = std::pair<DWORD, DWORD>;  // (index folder, account)

IndexKey KeyOf(const Store& s, const Location& at) {
  if (s.ByAccount(at.folder)) return {at.folder, at.account};
  const Index* index = s.IndexOf(at.folder);
  return {index == nullptr ? 0 : index->folder, 0};
}

std::map<IndexKey, std::vector<tagOidArray>> ReadIndexes(const Store& s) {
  std::map<IndexKey, std::vector<tagOidArray>> all;
  for (const Index& index : Indexes(s)) {
    if (!HasIndexFile(s, index)) continue;
    CMsgList list;
    s.ops.indexList(index.account != 0 ? index.account : index.folder, list);
    std::vector<tagOidArray>& records = all[{index.folder, index.account}];
    for (long i = 0; i < list.GetSize(); ++i) records.push_back(list[i]);
  }
  return all;
}

OrderedJson IndexPosition(const Store& s, const Location& at,
                          const std::map<IndexKey, std::vector<tagOidArray>>& indexes) {
  if (at.card) return nullptr;
  auto it = indexes.find(KeyOf(s, at));
  if (it == indexes.end()) return nullptr;
  const BYTE mark = static_cast<BYTE>(at.account != 0 ? at.account : at.folder);
  for (size_t i = 0; i < it->second.size(); ++i)
    if (it->second[i].dwOid == at.oid && it->second[i].byFolder == mark) return i;
  return nullptr;
}

OrderedJson CounterJson(const Store& s) {
  IdCounter counter = ReadIdCounter(s);
  OrderedJson j = {{"type", "counter"}, {"store", s.d.name}, {"file", s.CounterFile()}};
  j["value"] = counter.sound ? OrderedJson(counter.value) : OrderedJson(nullptr);
  return j;
}

OrderedJson MessageLine(const Store& s, const Location& at, Message& m,
                        const std::map<IndexKey, std::vector<tagOidArray>>& indexes) {
  OrderedJson j = {{"type", "message"}, {"store", s.d.name}};
  j.update(MessageJson(s, at, m, true));
  if (m->bRead != 0 && m->bRead != 1) j["read_value"] = m->bRead;
  for (const auto& field : TextFields()) KeepUnits(field.first, m.get()->*field.second, &j);
  for (const ExtraField& f : s.extras)
    if (f.kind == ExtraField::kText) KeepUnits(f.key, ExtraText(f, m), &j);
  j["index_position"] = IndexPosition(s, at, indexes);
  return j;
}

// The registry counter of account identifiers; false when it has none.
bool ReadAccountCounter(DWORD* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAccountStore.registryKey, 0, 0, &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = sizeof(DWORD);
  bool found = RegQueryValueExW(key, kAccountStore.counterValue, nullptr, &type,
                                reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
               size == sizeof(DWORD);
  RegCloseKey(key);
  return found;
}

// The accounts in the database's order. The store loads each folder's
// records in reverse and saves them in its array's order, so the database
// holds every folder's records in the reverse of the array's.
std::vector<Account> DatabaseOrder(std::vector<Account> accounts) {
  for (size_t begin = 0; begin < accounts.size();) {
    size_t end = begin;
    while (end < accounts.size() && accounts[end].folder == accounts[begin].folder) ++end;
    std::reverse(accounts.begin() + static_cast<long>(begin),
                 accounts.begin() + static_cast<long>(end));
    begin = end;
  }
  return accounts;
}

// Writes the account lines; false when the database holds records that the
// store's lookups do not reach, which are then missing from the export.
bool ExportAccounts() {
  WIN32_FIND_DATAW data = {};
  bool present = FindPath(kAccountStore.database, &data) &&
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  std::vector<Account> accounts = present ? DatabaseOrder(LoadAccounts()) : std::vector<Account>();
  DWORD counter = 0;
  OrderedJson j = {{"type", "accounts"}, {"database", present}};
  j["database_size"] = present ? OrderedJson(data.nFileSizeLow) : OrderedJson(nullptr);
  j["counter"] = ReadAccountCounter(&counter) ? OrderedJson(counter) : OrderedJson(nullptr);
  PrintJsonLine(j);
  for (size_t i = 0; i < accounts.size(); ++i) {
    const Account& a = accounts[i];
    OrderedJson line = {{"type", "account"},  {"position", i},
                        {"id", a.id},         {"folder", a.folder},
                        {"data", a.data},     {"wdata1", a.wdata1},
                        {"wdata2", a.wdata2}, {"text", Utf16ToUtf8(a.text)}};
    std::u16string text = a.text;
    KeepUnits("text", text.c_str(), &line);
    PrintJsonLine(line);
  }
  bool whole = !present || data.nFileSizeLow == 0 || data.nFileSizeLow == DatabaseBytes(accounts);
  if (!whole)
    Warn("the account database is " + std::to_string(data.nFileSizeLow) +
         " bytes, of which the account store reads " + std::to_string(DatabaseBytes(accounts)) +
         ": accounts it cannot reach are left out");
  return whole;
}

int Export(const Selection& sel) {
  OrderedJson header = {{"format", kFormat}, {"version", kVersion}};
  OrderedJson names = OrderedJson::array();
  for (const Store* s : sel.stores) names.push_back(s->d.name);
  header["stores"] = names;
  header["accounts"] = sel.accounts;
  header["card_inserted"] = CardInserted();
  OrderedJson trees = OrderedJson::object();
  for (bool card : {false, true}) {
    OrderedJson made = OrderedJson::array();
    for (const Store* s : sel.stores)
      if ((!card || CardInserted()) && TreeMade(*s, card)) made.push_back(s->d.name);
    trees[StorageKey(card)] = made;
  }
  header["trees"] = trees;
  PrintJsonLine(header);

  std::vector<std::vector<Location>> messages;
  size_t total = 0;
  for (const Store* s : sel.stores) {
    messages.push_back(AllMessages(*s));
    total += messages.back().size();
  }
  Progress progress("export", total);
  size_t damaged = 0, done = 0;
  for (size_t i = 0; i < sel.stores.size(); ++i) {
    const Store* s = sel.stores[i];
    PrintJsonLine(CounterJson(*s));
    // Before any message is read, so that nothing the reads do can move a
    // record.
    const auto indexes = ReadIndexes(*s);
    for (const Location& at : messages[i]) {
      Message m(*s);
      if (!s->ops.read(at, true, &m)) {
        ++damaged;
        Warn("message " + std::to_string(at.oid) + " in " + s->Where(at.card, at.folder) + " " +
             ReadProblem(*s, at) + ": left out");
      } else {
        PrintJsonLine(MessageLine(*s, at, m, indexes));
      }
      progress.Step(++done);
    }
  }
  bool accountsWhole = !sel.accounts || ExportAccounts();
  if (damaged != 0)
    throw Failure(std::to_string(damaged) + " of " + std::to_string(total) +
                  " messages could not be read and are missing from the export");
  if (!accountsWhole) throw Failure("the export is missing accounts of a damaged account database");
  return 0;
}

// ---------------------------------------------------------------------------
// Reading an export

// A damaged line: what is wrong with it.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }

const Json& Field(const Json& j, const std::string& key) {
  auto it = j.find(key);
  if (it == j.end()) throw LineError("it has no " + Quoted(key));
  return *it;
}

uint64_t Unsigned(const Json& j, const std::string& key, uint64_t max) {
  const Json& v = Field(j, key);
  if (!v.is_number_unsigned() || v.get<uint64_t>() > max)
    throw LineError(Quoted(key) + " is not a number from 0 to " + std::to_string(max));
  return v.get<uint64_t>();
}

int32_t Signed32(const Json& j, const std::string& key) {
  const Json& v = Field(j, key);
  if (!v.is_number_integer() || v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
    throw LineError(Quoted(key) + " is not a number from " + std::to_string(INT32_MIN) + " to " +
                    std::to_string(INT32_MAX));
  return static_cast<int32_t>(v.get<int64_t>());
}

// A number, or null for none.
std::optional<uint64_t> OptionalUnsigned(const Json& j, const std::string& key, uint64_t max) {
  if (Field(j, key).is_null()) return std::nullopt;
  return Unsigned(j, key, max);
}

bool Boolean(const Json& j, const std::string& key) {
  const Json& v = Field(j, key);
  if (!v.is_boolean()) throw LineError(Quoted(key) + " is not true or false");
  return v.get<bool>();
}

const std::string& String(const Json& j, const std::string& key) {
  const Json& v = Field(j, key);
  if (!v.is_string()) throw LineError(Quoted(key) + " is not a string");
  return v.get_ref<const std::string&>();
}

// Strict base64: the standard alphabet, padded to a multiple of 4.
bool Base64Decode(const std::string& text, std::vector<BYTE>* out) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return false;
  out->clear();
  out->reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      size_t digit = kAlphabet.find(c);
      bool last = i + 4 == text.size();
      if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
        ++pad;
        digit = 0;
      } else if (digit == std::string::npos || c == '\0' || pad != 0) {
        return false;
      }
      v = v << 6 | static_cast<uint32_t>(digit);
    }
    // The bits under the padding must be zero, as an encoder leaves them.
    if ((pad == 1 && (v & 0xFF) != 0) || (pad == 2 && (v & 0xFFFF) != 0)) return false;
    out->push_back(static_cast<BYTE>(v >> 16));
    if (pad < 2) out->push_back(static_cast<BYTE>(v >> 8));
    if (pad < 1) out->push_back(static_cast<BYTE>(v));
  }
  return true;
}

std::vector<BYTE> Bytes(const Json& j, const std::string& key) {
  std::vector<BYTE> bytes;
  if (!Base64Decode(String(j, key), &bytes)) throw LineError(Quoted(key) + " is not base64");
  return bytes;
}

// A string field: its UTF-16 units, from "<key>_utf16_base64" when the line
// has it.
std::u16string Units(const Json& j, const std::string& key) {
  std::u16string units;
  if (j.contains(RawKey(key))) {
    String(j, key);
    std::vector<BYTE> bytes = Bytes(j, RawKey(key));
    if (bytes.size() % 2 != 0) throw LineError(Quoted(RawKey(key)) + " is not UTF-16 (odd length)");
    for (size_t i = 0; i < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  } else {
    units = Utf8ToUtf16(String(j, key));
  }
  if (units.find(u'\0') != std::u16string::npos)
    throw LineError(Quoted(key) + " holds a NUL character, which ends a stored string");
  return units;
}

struct Header {
  std::vector<const Store*> stores;
  bool accounts = false;
  std::map<const Store*, bool> phoneTree, cardTree;
};

struct CounterLine {
  size_t line;
  std::optional<DWORD> value;
};

struct Restore {
  size_t line;
  const Store* store;
  Location at;
  std::unique_ptr<Message> message;
  std::optional<uint64_t> indexPosition;
};

struct AccountLine {
  size_t line;
  uint64_t position;
  Account account;
};

struct AccountsLine {
  size_t line = 0;
  bool database = false;
  std::optional<DWORD> databaseSize;
  std::optional<DWORD> counter;
};

struct Backup {
  Header header;
  std::map<const Store*, CounterLine> counters;
  std::vector<Restore> messages;
  std::optional<AccountsLine> database;
  std::vector<AccountLine> accounts;
};

Header ReadHeader(const Json& j) {
  if (!j.is_object() || !j.contains("format") || j["format"] != kFormat)
    throw LineError(
        std::string("this is not a msgstore export (its first line has no \"format\": \"") +
        kFormat + "\")");
  uint64_t version = Unsigned(j, "version", UINT32_MAX);
  if (version != static_cast<uint64_t>(kVersion))
    throw LineError("the export has format version " + std::to_string(version) +
                    "; this msgstore reads version " + std::to_string(kVersion));
  Header h;
  const Json& stores = Field(j, "stores");
  if (!stores.is_array()) throw LineError("\"stores\" is not a list of store names");
  for (const Json& name : stores) {
    const Store* s = name.is_string() ? StoreNamed(name.get<std::string>()) : nullptr;
    if (s == nullptr) throw LineError("\"stores\" names no store " + name.dump());
    h.stores.push_back(s);
  }
  h.accounts = Boolean(j, "accounts");
  const Json& trees = Field(j, "trees");
  for (bool card : {false, true}) {
    const Json& made =
        trees.is_object() && trees.contains(StorageKey(card)) ? trees[StorageKey(card)] : Json();
    if (!made.is_array())
      throw LineError(std::string("\"trees\" has no list \"") + StorageKey(card) + "\"");
    for (const Json& name : made) {
      const Store* s = name.is_string() ? StoreNamed(name.get<std::string>()) : nullptr;
      if (s == nullptr) throw LineError("\"trees\" names no store " + name.dump());
      (card ? h.cardTree : h.phoneTree)[s] = true;
    }
  }
  return h;
}

void SetExtra(const ExtraField& f, const Json& j, Message* m) {
  BYTE* at = m->part() + f.offset;
  switch (f.kind) {
    case ExtraField::kText: {
      WCHAR* text = OwnedText(Units(j, f.key));
      std::memcpy(at, &text, sizeof text);
      break;
    }
    case ExtraField::kWord: {
      WORD w = static_cast<WORD>(Unsigned(j, f.key, 0xFFFF));
      std::memcpy(at, &w, sizeof w);
      break;
    }
    case ExtraField::kInt: {
      int32_t i = Signed32(j, f.key);
      std::memcpy(at, &i, sizeof i);
      break;
    }
    case ExtraField::kDword: {
      DWORD d = static_cast<DWORD>(Unsigned(j, f.key, 0xFFFFFFFFu));
      std::memcpy(at, &d, sizeof d);
      break;
    }
  }
}

DWORD AccountOf(const Store& s, Message& m) {
  for (const ExtraField& f : s.extras)
    if (std::strcmp(f.key, "account") == 0) {
      DWORD account = 0;
      std::memcpy(&account, m.part() + f.offset, sizeof account);
      return account;
    }
  return 0;
}

Restore ReadMessage(const Store& store, const Json& j, size_t line) {
  const Store* s = &store;
  Restore r{line, s, {}, std::make_unique<Message>(*s), std::nullopt};
  const std::string& storage = String(j, "storage");
  if (storage != StorageKey(false) && storage != StorageKey(true))
    throw LineError("\"storage\" is neither \"phone\" nor \"card\"");
  r.at.card = storage == StorageKey(true);
  const Json& folder = Field(j, "folder");
  if (!folder.is_string() && !folder.is_number_unsigned())
    throw LineError("\"folder\" is not a folder name or number");
  try {
    r.at.folder = s->ParseFolder(folder.is_string() ? folder.get<std::string>() : folder.dump());
  } catch (const Failure& e) {
    throw LineError(e.what());
  }
  if (!FolderOnStorage(*s, r.at.card, r.at.folder))
    throw LineError("the " + std::string(StorageName(r.at.card)) + " has no " + s->d.name + " " +
                    s->FolderName(r.at.folder) + " folder");
  r.at.oid = static_cast<DWORD>(Unsigned(j, "id", 0xFFFFFFFFu));
  if (r.at.oid == 0) throw LineError("\"id\" 0 is no message identifier");
  Unsigned(j, "record_id", 0xFFFFFFFFu);
  Unsigned(j, "record_folder", 0xFFFFFFFFu);

  tagMSGPROPS& p = *r.message->get();
  p.dwOid = r.at.oid;
  p.dwFolder = r.at.folder;
  p.bRead = Boolean(j, "read") ? 1 : 0;
  if (j.contains("read_value")) {
    p.bRead = Signed32(j, "read_value");
    if ((p.bRead != 0) != Boolean(j, "read"))
      throw LineError("\"read_value\" and \"read\" disagree");
  }
  p.wStatus = static_cast<WORD>(Unsigned(j, "status", 0xFFFF));
  p.ftIndexTime = FromTicks(Unsigned(j, "index_time_ticks", UINT64_MAX));
  p.ftTime = FromTicks(Unsigned(j, "time_ticks", UINT64_MAX));
  for (const auto& field : TextFields()) p.*field.second = OwnedText(Units(j, field.first));
  p.dwUser1 = static_cast<DWORD>(Unsigned(j, "user1", 0xFFFFFFFFu));
  p.dwUser2 = static_cast<DWORD>(Unsigned(j, "user2", 0xFFFFFFFFu));
  p.dwUser3 = static_cast<DWORD>(Unsigned(j, "user3", 0xFFFFFFFFu));
  p.wUser1 = static_cast<WORD>(Unsigned(j, "wuser1", 0xFFFF));
  p.wUser2 = static_cast<WORD>(Unsigned(j, "wuser2", 0xFFFF));
  for (const ExtraField& f : s->extras) SetExtra(f, j, r.message.get());
  uint64_t size = Unsigned(j, "content_size", 0xFFFFFFFEu);
  std::vector<BYTE> content = Bytes(j, "content_base64");
  if (content.size() != size)
    throw LineError("\"content_base64\" holds " + std::to_string(content.size()) +
                    " bytes, \"content_size\" says " + std::to_string(size));
  p.cbData = static_cast<DWORD>(size);
  p.pData = OwnedBytes(content);
  r.indexPosition = OptionalUnsigned(j, "index_position", UINT32_MAX);
  if (s->ByAccount(r.at.folder)) {
    r.at.account = AccountOf(*s, *r.message);
    if (r.at.account < s->d.firstAccountFolder)
      throw LineError("an " + s->FolderName(r.at.folder) +
                      " message needs its account (\"account\" is " + std::to_string(r.at.account) +
                      ")");
  }
  return r;
}

AccountLine ReadAccount(const Json& j, size_t line) {
  AccountLine a{line, Unsigned(j, "position", UINT32_MAX), {}};
  a.account.id = static_cast<DWORD>(Unsigned(j, "id", 0xFFFFFFFFu));
  a.account.folder = static_cast<DWORD>(Unsigned(j, "folder", 0xFFFFFFFFu));
  a.account.data = static_cast<DWORD>(Unsigned(j, "data", 0xFFFFFFFFu));
  a.account.wdata1 = static_cast<WORD>(Unsigned(j, "wdata1", 0xFFFF));
  a.account.wdata2 = static_cast<WORD>(Unsigned(j, "wdata2", 0xFFFF));
  a.account.text = Units(j, "text");
  if (a.account.text.size() > kMaxAccountText)
    throw LineError("\"text\" is " + std::to_string(a.account.text.size()) +
                    " UTF-16 code units long; an account keeps at most " +
                    std::to_string(kMaxAccountText));
  if (a.account.id == 0) throw LineError("\"id\" 0 is no account identifier");
  return a;
}

std::optional<DWORD> OptionalDword(const Json& j, const std::string& key) {
  std::optional<uint64_t> v = OptionalUnsigned(j, key, 0xFFFFFFFFu);
  if (!v) return std::nullopt;
  return static_cast<DWORD>(*v);
}

// One line after the first; throws LineError.
void ReadLine(const Json& j, size_t line, Backup* backup) {
  if (!j.is_object()) throw LineError("it is not a JSON object");
  const std::string& type = String(j, "type");
  const Header& h = backup->header;
  auto listed = [&](const Store* s) {
    if (std::find(h.stores.begin(), h.stores.end(), s) == h.stores.end())
      throw LineError(std::string("the first line does not list the store ") + s->d.name);
  };
  if (type == "message") {
    const Store* s = StoreNamed(String(j, "store"));
    if (s == nullptr) throw LineError("\"store\" names no store: " + String(j, "store"));
    listed(s);
    backup->messages.push_back(ReadMessage(*s, j, line));
  } else if (type == "counter") {
    const Store* s = StoreNamed(String(j, "store"));
    if (s == nullptr) throw LineError("\"store\" names no store: " + String(j, "store"));
    listed(s);
    if (backup->counters.count(s) != 0)
      throw LineError("the counter of " + std::string(s->d.name) + " is also on line " +
                      std::to_string(backup->counters[s].line));
    backup->counters[s] = {line, OptionalDword(j, "value")};
  } else if (type == "accounts" || type == "account") {
    if (!h.accounts) throw LineError("the first line says the export holds no accounts");
    if (type == "account") {
      backup->accounts.push_back(ReadAccount(j, line));
      return;
    }
    if (backup->database)
      throw LineError("the account database is also on line " +
                      std::to_string(backup->database->line));
    AccountsLine a;
    a.line = line;
    a.database = Boolean(j, "database");
    a.databaseSize = OptionalDword(j, "database_size");
    a.counter = OptionalDword(j, "counter");
    backup->database = a;
  } else {
    throw LineError("\"type\" " + Quoted(type) +
                    " is none of \"message\", \"counter\", \"accounts\", \"account\"");
  }
}

// Everything in the file, or a Failure naming every damaged line.
Backup ReadBackup(const std::string& path) {
  std::string text;
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot open '" + path + "'");
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure("cannot read '" + path + "'");
  }
  const std::string name = path == "-" ? "standard input" : path;
  Backup backup;
  std::vector<std::string> errors;
  size_t line = 0;
  bool headerRead = false;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string content = text.substr(start, end - start);
    start = end + 1;
    ++line;
    if (!content.empty() && content.back() == '\r') content.pop_back();
    if (content.find_first_not_of(" \t") == std::string::npos && headerRead) continue;
    try {
      Json j;
      try {
        j = Json::parse(content);
      } catch (const Json::exception&) {
        throw LineError("it is not JSON");
      }
      if (!headerRead) {
        backup.header = ReadHeader(j);
        headerRead = true;
      } else {
        ReadLine(j, line, &backup);
      }
    } catch (const LineError& e) {
      errors.push_back(name + " line " + std::to_string(line) + ": " + e.what());
      if (!headerRead) break;  // without the header, nothing else can be read
    }
  }
  if (line == 0) errors.push_back(name + " is empty: it is not a msgstore export");

  // Lines that are each sound but cannot stand together.
  std::map<std::pair<const Store*, DWORD>, size_t> seen;
  for (const Restore& r : backup.messages) {
    auto [it, fresh] = seen.insert({{r.store, r.at.oid}, r.line});
    if (!fresh)
      errors.push_back(name + " line " + std::to_string(r.line) + ": " + r.store->d.name +
                       " message " + std::to_string(r.at.oid) + " is also on line " +
                       std::to_string(it->second));
  }
  if (errors.empty()) return backup;
  const size_t shown = std::min<size_t>(errors.size(), 20);
  for (size_t i = 0; i + 1 < shown; ++i) std::cerr << "msgstore: " << errors[i] << '\n';
  std::string last = errors[shown - 1];
  if (errors.size() > shown) last += " (and " + std::to_string(errors.size() - shown) + " more)";
  throw Failure(
      last + (errors.size() == 1 ? "" : " (" + std::to_string(errors.size()) + " damaged lines)") +
      ": nothing imported");
}

// ---------------------------------------------------------------------------
// import

// Writes the message under its identifier through the store's write
// operation; true when it landed where it was exported from.
bool Rewrite(Restore& r) {
  const Store& s = *r.store;
  // The storage is the one asked for; a write that chose the other one (for
  // want of free space) has not put the message back.
  const bool card = r.at.card;
  DWORD oid = 0;
  if (&s == &Sms()) {
    int storage = card ? 1 : 0;
    oid = EMSMsgStore_WriteMessage(card, r.message->get(), r.at.oid, &storage);
    if (storage != (card ? 1 : 0)) return false;
  } else if (&s == &Mms()) {
    DWORD storage = card ? 1 : 0;
    oid = MMSMsgStore_WriteMessage(card, r.message->get(), r.message->mms(), r.at.oid, &storage);
    if (storage != (card ? 1u : 0u)) return false;
  } else {
    int storage = card ? 1 : 0;
    oid =
        EmailMsgStore_WriteMessage(card, r.message->get(), r.message->email(), r.at.oid, &storage);
    if (storage != (card ? 1 : 0)) return false;
  }
  WCHAR path[MAX_PATH] = {};
  return oid == r.at.oid && s.ops.filePath(r.at, path) != 0 &&
         GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Whether the store's write can put the message back where it was.
bool Writable(const Restore& r) {
  // The e-mail store names no file in its none folder: its write refuses it.
  return !(r.store == &Email() && r.at.folder == EMAIL_FOLDER_NONE);
}

// A store's place in the order of the commands' help.
size_t StoreIndex(const Store* s) {
  const auto& all = Stores();
  return static_cast<size_t>(std::find(all.begin(), all.end(), s) - all.begin());
}

// The order of the writes: the messages of one index from the last place to
// the first, so that each new record, not older than any before it, goes in
// front of them all; messages outside an index in the file's order.
std::vector<Restore*> WriteOrder(Backup& backup) {
  std::vector<Restore*> order;
  for (Restore& r : backup.messages) order.push_back(&r);
  auto index = [](const Restore* r) {
    return r->at.card || !r->indexPosition ? IndexKey{0, 0} : KeyOf(*r->store, r->at);
  };
  std::stable_sort(order.begin(), order.end(), [&](const Restore* a, const Restore* b) {
    auto ka = std::make_pair(StoreIndex(a->store), index(a));
    auto kb = std::make_pair(StoreIndex(b->store), index(b));
    if (ka != kb) return ka < kb;
    return a->indexPosition.value_or(0) > b->indexPosition.value_or(0);
  });
  return order;
}

// The stored messages that an imported one would replace: those of its store
// under its identifier, on either storage; by store, in the order of the
// commands' help, and identifier.
using Conflicts = std::map<std::pair<size_t, DWORD>, std::vector<Location>>;

Conflicts FindConflicts(const Backup& backup) {
  Conflicts found;
  for (const Store* s : backup.header.stores) {
    std::set<DWORD> ids;
    for (const Restore& r : backup.messages)
      if (r.store == s && Writable(r)) ids.insert(r.at.oid);
    if (ids.empty()) continue;
    for (const Location& at : AllMessages(*s))
      if (ids.count(at.oid) != 0) found[{StoreIndex(s), at.oid}].push_back(at);
  }
  return found;
}

bool SameLocation(const Location& a, const Location& b) {
  return a.card == b.card && a.folder == b.folder && a.oid == b.oid && a.account == b.account;
}

// The identifier counter at or above value, under the store's own mutex.
void RaiseCounter(const Store& s, DWORD value) {
  // CounterValue is 0 for a missing or damaged counter.
  if (CounterValue(s) >= value) return;
  IdCounter target{true, true, 0, value};
  if (!RepairIdCounter(s, target))
    throw Failure("could not set the identifier counter " + std::string(s.CounterFile()));
}

// The registry counter of account identifiers at or above value, under the
// account store's mutex for it.
void RaiseAccountCounter(DWORD value) {
  Handle<CloseHandle> mutex(CreateMutexW(nullptr, FALSE, kAccountStore.counterMutex));
  if (mutex.valid()) WaitForSingleObject(mutex.get(), INFINITE);
  DWORD current = 0;
  bool ok = true;
  if (!ReadAccountCounter(&current) || current < value) {
    WCHAR noClass[] = u"";
    HKEY key = nullptr;
    DWORD disposition = 0;
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    ok = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAccountStore.registryKey, 0, noClass,
                         REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                         &disposition) == ERROR_SUCCESS &&
         RegSetValueExW(key, kAccountStore.counterValue, 0, REG_DWORD, bytes, 4) == ERROR_SUCCESS;
    if (key != nullptr) {
      RegFlushKey(key);
      RegCloseKey(key);
    }
  }
  if (mutex.valid()) ReleaseMutex(mutex.get());
  if (!ok) throw Failure("could not set the account identifier counter in the registry");
}

// The account writes: each folder, in the order the database first names
// it, from its last record to its first, since the store puts a record in
// front of its folder's others and saves in that order.
std::vector<const AccountLine*> AccountOrder(const std::vector<AccountLine>& lines) {
  std::vector<const AccountLine*> byPosition;
  for (const AccountLine& a : lines) byPosition.push_back(&a);
  std::stable_sort(
      byPosition.begin(), byPosition.end(),
      [](const AccountLine* a, const AccountLine* b) { return a->position < b->position; });
  std::vector<DWORD> folders;
  for (const AccountLine* a : byPosition)
    if (std::find(folders.begin(), folders.end(), a->account.folder) == folders.end())
      folders.push_back(a->account.folder);
  std::vector<const AccountLine*> order;
  for (DWORD folder : folders)
    for (auto it = byPosition.rbegin(); it != byPosition.rend(); ++it)
      if ((*it)->account.folder == folder) order.push_back(*it);
  return order;
}

// Writes the accounts into the store's array, after the stored ones of the
// same identifiers when they are to be replaced, and saves the database.
void ImportAccounts(const Backup& backup, const std::set<DWORD>& replace, size_t* replaced) {
  HANDLE store = nullptr;
  bool present = GetFileAttributesW(kAccountStore.database) != INVALID_FILE_ATTRIBUTES;
  if (EmailAccMsgStore_Open(&store) == 0 && present)
    throw Failure("the account database " + DatabaseName() +
                  " cannot be read: no account imported");
  for (DWORD id : replace)
    while (EmailMsgStore_DeleteAccount(store, id) != 0) ++*replaced;
  for (const AccountLine* a : AccountOrder(backup.accounts)) {
    tagEMAILACCOUNTPROPS props = {};
    std::u16string text = a->account.text;
    props.dwData = a->account.data;
    props.dwFolder = a->account.folder;
    props.wData1 = a->account.wdata1;
    props.wData2 = a->account.wdata2;
    props.pszText = text.empty() ? nullptr : &text[0];
    if (EmailMsgStore_WriteAccountData(store, &props, a->account.id) != a->account.id)
      throw Failure("the account store did not take account " + std::to_string(a->account.id));
  }
  // An exported database of no records was empty (made, never saved) or
  // held the 4 bytes of a save; anything else is what a save writes.
  const AccountsLine& db = *backup.database;
  bool create = db.database || !backup.accounts.empty();
  bool save = !backup.accounts.empty() || *replaced != 0 ||
              (!present && db.database && db.databaseSize.value_or(0) != 0);
  if ((create && EmailAccMsgStore_Create() == 0) || (save && EmailMsgStore_Close(store) == 0))
    throw Failure("could not save the account database " + DatabaseName());
}

struct ImportArgs {
  std::string file;
  bool replace = false;
};

int Import(const Context& ctx, const ImportArgs& args) {
  Backup backup = ReadBackup(args.file);
  const Header& h = backup.header;

  // Everything the writes need, before the first of them.
  size_t onCard = static_cast<size_t>(std::count_if(backup.messages.begin(), backup.messages.end(),
                                                    [](const Restore& r) { return r.at.card; }));
  if (onCard != 0 && !CardInserted())
    throw Failure("the export holds " + std::to_string(onCard) +
                  (onCard == 1 ? " message" : " messages") +
                  " of the memory card, but no memory card is inserted ('msgstore card insert'): "
                  "nothing imported");
  for (const Restore& r : backup.messages)
    if (r.at.card) RequireCardTakes(*r.store, true);
  bool withAccounts = h.accounts && backup.database.has_value();
  if (h.accounts && !backup.database && !backup.accounts.empty())
    throw Failure(
        "the export holds accounts but no line of the account database: nothing imported");

  Conflicts conflicts = FindConflicts(backup);
  size_t storedConflicts = 0;
  for (const auto& c : conflicts) storedConflicts += c.second.size();
  std::vector<Account> storedAccounts;
  std::set<DWORD> accountConflicts;
  WIN32_FIND_DATAW database = {};
  if (withAccounts && FindPath(kAccountStore.database, &database)) {
    storedAccounts = LoadAccounts();
    // Saving the store's array would lose the records its lookups miss.
    if (database.nFileSizeLow != 0 && database.nFileSizeLow != DatabaseBytes(storedAccounts))
      throw Failure("the account database " + DatabaseName() + " is damaged (" +
                    std::to_string(database.nFileSizeLow) +
                    " bytes, of which the account store reads " +
                    std::to_string(DatabaseBytes(storedAccounts)) + "): nothing imported");
    for (const AccountLine& a : backup.accounts)
      for (const Account& stored : storedAccounts)
        if (stored.id == a.account.id) accountConflicts.insert(stored.id);
  }
  if (!args.replace && (!conflicts.empty() || !accountConflicts.empty())) {
    std::string first;
    size_t count = storedConflicts + accountConflicts.size();
    if (!conflicts.empty()) {
      const Store& s = *Stores()[conflicts.begin()->first.first];
      const Location& at = conflicts.begin()->second.front();
      first = std::string(s.d.name) + " message " + std::to_string(at.oid) + " (" +
              s.Where(at.card, at.folder) + ")";
    } else {
      first = "account " + std::to_string(*accountConflicts.begin());
    }
    throw Failure("the device already holds " + first +
                  (count > 1 ? " and " + std::to_string(count - 1) + " more" : std::string()) +
                  ", which the import would replace: nothing imported (--replace replaces them)");
  }

  // The trees the export had and those its messages go to. The account
  // database lives in phone memory's messaging directory: without it, the
  // phone trees are made as "msgstore init" makes them.
  const bool withDatabase = withAccounts && (backup.database->database || !backup.accounts.empty());
  const bool noMessaging = GetFileAttributesW(DatabaseDir().c_str()) == INVALID_FILE_ATTRIBUTES;
  for (const Store* s : Stores())
    for (bool card : {false, true}) {
      bool made = (card ? h.cardTree : h.phoneTree).count(s) != 0 && (!card || CardInserted());
      for (const Restore& r : backup.messages) made = made || (r.store == s && r.at.card == card);
      if (made || (!card && withDatabase && noMessaging)) s->ops.createDir(card);
    }

  std::vector<Restore*> order = WriteOrder(backup);
  Progress progress("import", order.size());
  std::map<const Store*, size_t> written;
  std::map<const Store*, DWORD> highest;
  size_t replaced = 0, skipped = 0, done = 0;
  for (Restore* r : order) {
    const Store& s = *r->store;
    if (!Writable(*r)) {
      ++skipped;
      Warn("line " + std::to_string(r->line) + ": " + s.d.name + " message " +
           std::to_string(r->at.oid) + " of the " + s.FolderName(r->at.folder) +
           " folder cannot be restored: the store writes no message there");
      progress.Step(++done);
      continue;
    }
    auto stored = conflicts.find({StoreIndex(r->store), r->at.oid});
    for (const Location& at :
         stored == conflicts.end() ? std::vector<Location>() : stored->second) {
      ++replaced;
      if (!SameLocation(at, r->at) && !s.ops.remove(at))
        throw Failure("could not delete " + std::string(s.d.name) + " message " +
                      std::to_string(at.oid) + " in " + s.Where(at.card, at.folder) +
                      " to replace it");
    }
    if (!Rewrite(*r))
      throw Failure("the store could not write " + std::string(s.d.name) + " message " +
                    std::to_string(r->at.oid) + " (line " + std::to_string(r->line) + ") to the " +
                    s.Where(r->at.card, r->at.folder) + ": " + std::to_string(done) + " of " +
                    std::to_string(order.size()) + " messages imported");
    ++written[r->store];
    highest[r->store] = std::max(highest[r->store], r->at.oid);
    progress.Step(++done);
  }
  for (const Store* s : h.stores) {
    auto counter = backup.counters.find(s);
    DWORD value = std::max(
        highest[s], counter == backup.counters.end() ? 0 : counter->second.value.value_or(0));
    if (value != 0) RaiseCounter(*s, value);
  }

  size_t accountsReplaced = 0;
  if (withAccounts) {
    ImportAccounts(backup, accountConflicts, &accountsReplaced);
    DWORD value = backup.database->counter.value_or(0);
    for (const AccountLine& a : backup.accounts) value = std::max(value, a.account.id);
    if (value != 0) RaiseAccountCounter(value);
  }

  size_t total = 0;
  for (const auto& w : written) total += w.second;
  if (ctx.json) {
    OrderedJson j = {{"file", args.file}};
    OrderedJson counts = OrderedJson::object();
    for (const Store* s : h.stores) counts[s->d.name] = written[s];
    j["messages"] = counts;
    j["accounts"] = withAccounts ? backup.accounts.size() : 0;
    j["replaced_messages"] = replaced;
    j["replaced_accounts"] = accountsReplaced;
    j["skipped"] = skipped;
    PrintJson(j);
  } else {
    std::string per;
    for (const Store* s : h.stores)
      per += (per.empty() ? "" : ", ") + std::string(s->d.name) + " " + std::to_string(written[s]);
    std::cout << "imported " << total << (total == 1 ? " message" : " messages")
              << (per.empty() ? "" : " (" + per + ")");
    if (withAccounts)
      std::cout << " and " << backup.accounts.size()
                << (backup.accounts.size() == 1 ? " account" : " accounts");
    std::cout << '\n';
    if (replaced + accountsReplaced != 0)
      std::cout << "replaced " << replaced
                << (replaced == 1 ? " stored message" : " stored messages") << " and "
                << accountsReplaced
                << (accountsReplaced == 1 ? " stored account" : " stored accounts") << '\n';
  }
  if (skipped != 0)
    throw Failure(std::to_string(skipped) + " of " + std::to_string(order.size()) +
                  " messages could not be restored");
  return 0;
}

}  // namespace

void AddBackupCommands(CLI::App& app, Context& ctx, Commands& commands) {
  std::string names;
  for (const Store* s : Stores()) names += std::string(s->d.name) + ", ";
  names += kAccountsPart;

  auto parts = std::make_shared<std::vector<std::string>>();
  CLI::App* cmd = app.add_subcommand(
      "export",
      "Every message of the stores on both storages and every e-mail account, one JSON object a "
      "line after a line naming the format; content in base64");
  cmd->add_option("STORE", *parts, "Only these parts: " + names + " (default: all)")->type_name("");
  commands.On(cmd, [parts] { return Export(Select(*parts)); });

  auto import = std::make_shared<ImportArgs>();
  cmd = app.add_subcommand(
      "import",
      "Restore an export onto the device: the messages under their identifiers, the indexes in "
      "their order, the accounts and the counters; the whole file is checked first");
  cmd->add_option("FILE", import->file, "The export ('-' for standard input)")->required();
  cmd->add_flag("--replace", import->replace,
                "Replace stored messages and accounts that have an imported one's identifier "
                "(without it, the import then changes nothing)");
  commands.On(cmd, [&ctx, import] { return Import(ctx, *import); });
}

}  // namespace tool
