// Reading an export and checking it whole before anything is written: each
// line on its own, then the lines together.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "backup.h"
#include "msgstore/platform.h"
#include "output.h"
#include "records.h"

namespace tool {
namespace {

using Json = nlohmann::json;

// A line of an export that cannot be read: what is wrong with it.
class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }

// The values of a line, each checked; LineError when missing or wrong.
const Json& Field(const Json& j, const std::string& key) {
  auto it = j.find(key);
  if (it == j.end()) throw LineError("it has no " + Quoted(key));
  return *it;
}

uint64_t Unsigned(const Json& j, const std::string& key, uint64_t max) {
  const Json& v = Field(j, key);
  if (!v.is_number_unsigned() || v.get<uint64_t>() > max)
    throw LineError(Quoted(key) + NotInRange(0, max));
  return v.get<uint64_t>();
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

std::vector<BYTE> Bytes(const Json& j, const std::string& key) {
  std::vector<BYTE> bytes;
  if (!Base64Decode(String(j, key), &bytes)) throw LineError(Quoted(key) + " is not base64");
  return bytes;
}

// A text, from its UTF-16LE bytes when the line has them.
std::u16string Units(const Json& j, const std::string& key) {
  std::u16string units;
  if (j.contains(Utf16Key(key))) {
    String(j, key);
    std::vector<BYTE> bytes = Bytes(j, Utf16Key(key));
    if (bytes.size() % 2 != 0)
      throw LineError(Quoted(Utf16Key(key)) + " is not UTF-16 (odd length)");
    for (size_t i = 0; i < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  } else {
    units = Utf8ToUtf16(String(j, key));
  }
  if (units.find(u'\0') != std::u16string::npos)
    throw LineError(Quoted(key) + " holds a NUL character, which ends a stored string");
  return units;
}

// A time from its ticks, which must give the same time as its ISO text: a
// line whose time was edited without its ticks, or whose ticks a JSON tool
// rounded, would restore another time than it shows.
FILETIME TimeOf(const Json& j, const std::string& key) {
  const std::string ticksKey = key + "_ticks";
  const std::string& iso = String(j, key);
  FILETIME parsed = {0, 0};
  const bool isIso = ParseTime(iso, &parsed);
  // What the errors below say (made only for them).
  auto given = [&]() -> std::string {
    return isIso ? " (\"" + key + "\" gives " + std::to_string(Ticks(parsed)) + ")" : "";
  };
  // Ticks above 2^53 do not survive a tool that reads numbers as doubles.
  const char* rounded =
      " a JSON tool that reads numbers as doubles keeps whole numbers "
      "exact only up to 2^53 and rounded them";
  const Json& value = Field(j, ticksKey);
  if (value.is_number_float())
    throw LineError(Quoted(ticksKey) + " " + value.dump() + " is not a whole number:" + rounded +
                    given());
  const uint64_t ticks = Unsigned(j, ticksKey, UINT64_MAX);
  if (isIso ? Ticks(parsed) == ticks : iso == FormatTime(FromTicks(ticks))) return FromTicks(ticks);
  const bool lookRounded = isIso && ticks > (uint64_t{1} << 53) &&
                           static_cast<double>(Ticks(parsed)) == static_cast<double>(ticks);
  throw LineError(Quoted(key) + " " + iso + " and " + Quoted(ticksKey) + " " +
                  std::to_string(ticks) + " are not the same time" +
                  (lookRounded ? ":" + (rounded + given())
                               : given() + "; an edited time needs its ticks edited too"));
}

// A number that the field f takes; for an unsigned one, one that the parser
// reads as unsigned ("-0" is not).
int64_t NumberIn(const Json& j, const std::string& key, const RecordField& f) {
  if (f.Least() == 0) return static_cast<int64_t>(Unsigned(j, key, f.Greatest()));
  const Json& v = Field(j, key);
  if (!v.is_number_integer() || v.get<int64_t>() < f.Least() || v.get<int64_t>() > f.Greatest())
    throw LineError(Quoted(key) + NotInRange(f.Least(), f.Greatest()));
  return v.get<int64_t>();
}

// Every field of the store from a line of a message.
void ReadRecordJson(const StoreDescription& s, const Json& j, Record* r) {
  for (const RecordField* f : FieldsOf(s)) {
    const std::string key = f->key;
    if (f->type == RecordField::kBool) {
      const bool set = Boolean(j, key);
      const std::string value = key + "_value";
      f->Value<BOOL>(*r) = j.contains(value) ? NumberIn(j, value, *f) : set;
      if ((f->Value<BOOL>(*r) != 0) != set)
        throw LineError(Quoted(value) + " and " + Quoted(key) + " disagree");
    } else if (f->type == RecordField::kText) {
      f->Value<std::u16string>(*r) = Units(j, key);
    } else if (f->type == RecordField::kTime) {
      f->Value<FILETIME>(*r) = TimeOf(j, key);
    } else if (f->type != RecordField::kBytes) {
      f->SetNumber(*r, NumberIn(j, key, *f));
    } else {
      const uint64_t size = Unsigned(j, key + "_size", 0xFFFFFFFEu);
      std::vector<BYTE> bytes = Bytes(j, key + "_base64");
      if (bytes.size() != size)
        throw LineError(Quoted(key + "_base64") + " holds " + std::to_string(bytes.size()) +
                        " bytes, " + Quoted(key + "_size") + " says " + std::to_string(size));
      f->Value<std::vector<uint8_t>>(*r) = std::move(bytes);
    }
  }
}

std::optional<DWORD> OptionalDword(const Json& j, const std::string& key) {
  if (Field(j, key).is_null()) return std::nullopt;
  return static_cast<DWORD>(Unsigned(j, key, 0xFFFFFFFFu));
}

// A store named by a value of the line; LineError otherwise.
const StoreDescription& StoreOf(const Json& name, const std::string& what) {
  const StoreDescription* s =
      name.is_string() ? msgstore::StoreNamed(name.get<std::string>()) : nullptr;
  if (s == nullptr) throw LineError(what + " names no store " + name.dump());
  return *s;
}

void ReadHeader(const Json& j, Backup* b) {
  if (!j.is_object() || !j.contains("format") || j["format"] != kFormat)
    throw LineError(
        std::string("this is not a msgstore export (its first line has no \"format\": \"") +
        kFormat + "\")");
  const uint64_t version = Unsigned(j, "version", UINT32_MAX);
  if (version != static_cast<uint64_t>(kVersion))
    throw LineError("the export has format version " + std::to_string(version) +
                    "; this msgstore reads version " + std::to_string(kVersion));
  const Json& stores = Field(j, "stores");
  if (!stores.is_array()) throw LineError("\"stores\" is not a list of store names");
  for (const Json& name : stores) b->stores.push_back(&StoreOf(name, "\"stores\""));
  b->holdsAccounts = Boolean(j, "accounts");
  const Json& trees = Field(j, "trees");
  for (bool card : {false, true}) {
    const Json made = trees.is_object() ? trees.value(StorageKey(card), Json()) : Json();
    if (!made.is_array())
      throw LineError(std::string("\"trees\" has no list \"") + StorageKey(card) + "\"");
    for (const Json& name : made) b->trees.insert({&StoreOf(name, "\"trees\""), card});
  }
}

Backup::Message ReadMessage(const StoreDescription& s, const Json& j, size_t line) {
  Backup::Message m{line, &s, {}, {}, std::nullopt};
  const std::string& storage = String(j, "storage");
  if (storage != StorageKey(false) && storage != StorageKey(true))
    throw LineError("\"storage\" is neither \"phone\" nor \"card\"");
  m.at.card = storage == StorageKey(true);
  const Json& folder = Field(j, "folder");
  if (!folder.is_string() && !folder.is_number_unsigned())
    throw LineError("\"folder\" is not a folder name or number");
  try {
    m.at.folder = ParseFolder(s, folder.is_string() ? folder.get<std::string>() : folder.dump());
  } catch (const UsageError& e) {
    throw LineError(e.what());
  }
  const FolderDescription& f = *s.Folder(m.at.folder);
  if (m.at.card && !f.onCard())
    throw LineError("the " + std::string(StorageName(true)) + " has no " + s.name + " " + f.name +
                    " folder");
  m.at.id = static_cast<DWORD>(Unsigned(j, "id", 0xFFFFFFFFu));
  if (m.at.id == 0) throw LineError("\"id\" 0 is no message identifier");
  ReadRecordJson(s, j, &m.record);
  m.indexPosition = OptionalDword(j, "index_position");
  if (f.perAccount) {
    m.at.account = m.record.email.accountId;
    if (m.at.account < s.firstAccountFolder)
      throw LineError("an " + std::string(f.name) + " message needs its account (\"account\" is " +
                      std::to_string(m.at.account) + ")");
  }
  return m;
}

// (position, account)
std::pair<size_t, msgstore::Account> ReadAccount(const Json& j) {
  const size_t position = Unsigned(j, "position", UINT32_MAX);
  msgstore::Account a;
  a.id = static_cast<DWORD>(Unsigned(j, "id", 0xFFFFFFFFu));
  a.folder = static_cast<DWORD>(Unsigned(j, "folder", 0xFFFFFFFFu));
  a.data = static_cast<DWORD>(Unsigned(j, "data", 0xFFFFFFFFu));
  a.data1 = static_cast<WORD>(Unsigned(j, "wdata1", 0xFFFF));
  a.data2 = static_cast<WORD>(Unsigned(j, "wdata2", 0xFFFF));
  a.text = Units(j, "text");
  const size_t kept = msgstore::AccountStore().textUnits;
  if (a.text.size() > kept)
    throw LineError("\"text\" is " + std::to_string(a.text.size()) +
                    " UTF-16 code units long; an account keeps at most " + std::to_string(kept));
  if (a.id == 0) throw LineError("\"id\" 0 is no account identifier");
  return {position, a};
}

// One line after the first; a message line's message may have been read
// already (early).
void ReadLine(const Json& j, size_t line, Backup* backup, std::optional<Backup::Message>* early) {
  if (backup->closing)
    throw LineError("it comes after the closing line on line " + std::to_string(*backup->closing) +
                    ", which ends the export");
  if (!j.is_object()) throw LineError("it is not a JSON object");
  const std::string& type = String(j, "type");
  auto listed = [&]() -> const StoreDescription& {
    const StoreDescription* s = msgstore::StoreNamed(String(j, "store"));
    if (s == nullptr) throw LineError("\"store\" names no store: " + String(j, "store"));
    if (std::find(backup->stores.begin(), backup->stores.end(), s) == backup->stores.end())
      throw LineError(std::string("the first line does not list the store ") + s->name);
    return *s;
  };
  if (type == "message") {
    const StoreDescription& s = listed();
    backup->messages.push_back(*early ? std::move(**early) : ReadMessage(s, j, line));
  } else if (type == "counter") {
    const StoreDescription& s = listed();
    if (backup->counters.count(&s) != 0)
      throw LineError("the counter of " + std::string(s.name) + " is also on line " +
                      std::to_string(backup->counters[&s].line));
    backup->counters[&s] = {line, OptionalDword(j, "value")};
  } else if ((type == "accounts" || type == "account") && !backup->holdsAccounts) {
    throw LineError("the first line says the export holds no accounts");
  } else if (type == "account") {
    backup->accounts.push_back(ReadAccount(j));
  } else if (type == "accounts") {
    if (backup->database)
      throw LineError("the account database is also on line " +
                      std::to_string(backup->database->line));
    Backup::Database d{line,
                       Boolean(j, "database"),
                       OptionalDword(j, "database_size"),
                       OptionalDword(j, "counter"),
                       OptionalDword(j, "incoming_server"),
                       {}};
    if (d.incomingServer) d.incomingServerName = String(j, "incoming_server_name");
    backup->database = d;
  } else if (type == kHandsetCountersType) {
    const StoreDescription& s = listed();
    if (!KeepsHandsetCounters(s))
      throw LineError(std::string("the ") + s.name + " store keeps no handset counters");
    if (!backup->handsetCounters.empty())
      throw LineError("the handset counters are also on another line");
    const Json& values = Field(j, "values");
    if (!values.is_object()) throw LineError("\"values\" is not an object of counters");
    for (const auto& [name, value] : values.items()) {
      if (msgstore::DefaultPlatform::FindCounter(name) == nullptr)
        throw LineError("\"values\" names no counter of the handset: " + name +
                        " (counters: " + msgstore::DefaultPlatform::CounterNames() + ")");
      backup->handsetCounters[name] = static_cast<DWORD>(Unsigned(values, name, 0xFFFFFFFFu));
    }
  } else if (type == kClosingType) {
    backup->closing = line;
    backup->closingLine = j;
  } else {
    throw LineError("\"type\" \"" + type + "\" is none of \"message\", \"counter\", \"" +
                    kHandsetCountersType + "\", \"accounts\", \"account\", \"" + kClosingType +
                    "\"");
  }
}

// The closing line against what the lines before it hold: empty when they
// agree, else why the export is incomplete.
std::string Incomplete(const Backup& backup, size_t lines, size_t last) {
  if (!backup.closing)
    return "the export is incomplete: it ends at line " + std::to_string(last) +
           " without its closing line {\"type\":\"" + kClosingType +
           "\",...} (cut short, or left out messages)";
  const Json& j = backup.closingLine;
  std::map<std::string, size_t> messages;
  for (const StoreDescription* s : backup.stores) messages[s->name] = 0;
  for (const Backup::Message& m : backup.messages) ++messages[m.store->name];
  try {
    std::string differ;
    auto compare = [&](const std::string& what, uint64_t said, size_t found) {
      if (said != found)
        differ += (differ.empty() ? "" : ", ") + what + " " + std::to_string(said) + " (" +
                  std::to_string(found) + " found)";
    };
    compare("lines", Unsigned(j, "lines", UINT64_MAX), lines - 1);  // before the closing line
    const Json& counts = Field(j, "messages");
    if (!counts.is_object() || counts.size() != messages.size())
      throw LineError(
          "\"messages\" does not count the messages of each store the first "
          "line lists");
    for (const auto& [name, found] : messages)
      compare(name, Unsigned(counts, name, UINT64_MAX), found);
    if (backup.holdsAccounts)
      compare("accounts", Unsigned(j, "accounts", UINT64_MAX), backup.accounts.size());
    if (differ.empty()) return "";
    return "the export is incomplete: its closing line on line " + std::to_string(*backup.closing) +
           " counts " + differ;
  } catch (const LineError& e) {
    return "line " + std::to_string(*backup.closing) + ": " + e.what();
  }
}

// The JSON parser copies and checks a string one byte at a time; the base64
// content of the messages, most of an export's bytes, needs neither. Long
// string values of a line's object that hold only printable ASCII without a
// backslash are therefore cut out of the text before it is parsed and put
// back into the object after: the object the parser alone would make. What
// the scan below does not follow is left to the parser whole.
const char* SkipWhite(const char* p, const char* last) {
  while (p < last && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
  return p;
}

// From the quote that opens a string to past the one that closes it;
// nullptr when it does not close. The quotes and backslashes are looked for
// with memchr, many bytes at a time: a long value has neither.
const char* SkipString(const char* p, const char* last) {
  for (++p; p < last;) {
    const char* quote = static_cast<const char*>(std::memchr(p, '"', size_t(last - p)));
    if (quote == nullptr) return nullptr;
    const char* escape = static_cast<const char*>(std::memchr(p, '\\', size_t(quote - p)));
    if (escape == nullptr) return quote + 1;
    p = escape + 2;  // past the character it escapes
  }
  return nullptr;
}

// Past the value that starts at p when it is a string, a number, true, false
// or null; nullptr otherwise.
const char* SkipValue(const char* p, const char* last) {
  if (p < last && *p == '"') return SkipString(p, last);
  const char* end = p;
  while (end < last && (std::isalnum(static_cast<unsigned char>(*end)) || *end == '-' ||
                        *end == '+' || *end == '.'))
    ++end;
  return end == p ? nullptr : end;
}

Json ParseLine(const char* first, const char* last) {
  constexpr size_t kLong = 256;
  std::vector<std::pair<std::string_view, std::string_view>> cut;  // key, value
  std::vector<std::string_view> keys;
  std::string rest;  // the line with the values cut to ""
  const char* copied = first;
  const char* p = SkipWhite(first, last);
  bool followed = p < last && *p == '{';
  if (followed) p = SkipWhite(p + 1, last);
  while (followed && p < last && *p != '}') {
    const char* keyEnd = *p == '"' ? SkipString(p, last) : nullptr;
    if (keyEnd == nullptr) break;
    const std::string_view key(p + 1, static_cast<size_t>(keyEnd - p - 2));
    followed = key.find('\\') == std::string_view::npos;  // the key as written is the key
    keys.push_back(key);
    p = SkipWhite(keyEnd, last);
    if (p == last || *p != ':') break;
    p = SkipWhite(p + 1, last);
    const char* valueEnd = SkipValue(p, last);
    if (valueEnd == nullptr) {  // an object or a list is the parser's
      followed = false;
      break;
    }
    const size_t size = static_cast<size_t>(valueEnd - p);
    const std::string_view inside(p + 1, size >= 2 ? size - 2 : 0);  // of a string value
    if (*p == '"' && size >= kLong + 2 && PlainJson(inside)) {
      cut.emplace_back(key, inside);
      rest.append(copied, p + 1);  // up to the opening quote
      copied = valueEnd - 1;       // from the closing one
    }
    p = SkipWhite(valueEnd, last);
    if (p == last || *p != ',') break;
    p = SkipWhite(p + 1, last);
  }
  // A key cut out and given twice is the parser's to settle (a key kept in
  // the text the parser settles anyway).
  auto twice = [&keys](const auto& c) { return std::count(keys.begin(), keys.end(), c.first) > 1; };
  if (!followed || cut.empty() || std::any_of(cut.begin(), cut.end(), twice))
    return Json::parse(first, last);
  rest.append(copied, last);
  Json j = Json::parse(rest);
  for (const auto& [key, value] : cut) j[std::string(key)] = std::string(value);
  return j;
}

}  // namespace

Backup ReadBackup(const std::string& path) {
  const std::string name = path == "-" ? "standard input" : path;
  std::string text;
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) throw Failure("cannot open '" + path + "'");
    std::error_code notAFile;  // a pipe, say: read as it comes
    const uintmax_t size = std::filesystem::file_size(path, notAFile);
    if (!notAFile) text.reserve(static_cast<size_t>(size));
  }
  std::istream& in = path == "-" ? std::cin : file;
  std::vector<char> piece(1 << 16);  // in large pieces, not a character at a time
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
    text.append(piece.data(), static_cast<size_t>(in.gcount()));
  if (in.bad()) throw Failure("cannot read '" + name + "'");
  // The lines' bytes in place, without their line ends.
  std::vector<std::pair<const char*, const char*>> spans;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    spans.emplace_back(text.data() + start,
                       text.data() + end - (end > start && text[end - 1] == '\r'));
    start = end + 1;
  }
  // Parsing is most of the reading: the lines of each batch are parsed by two
  // threads, which also read the messages of message lines that they can,
  // then read in order (parsed nullopt: not JSON). A message line that is
  // wrong is read again in order, to say why.
  constexpr size_t kBatch = 512;
  std::vector<std::optional<Json>> parsed(kBatch);
  std::vector<std::optional<Backup::Message>> early(kBatch);
  auto parse = [&](size_t from, size_t to, size_t first) {
    for (size_t i = from; i < to; ++i) {
      std::optional<Json>& j = parsed[i - first];
      j.reset(), early[i - first].reset();
      try {
        j = ParseLine(spans[i].first, spans[i].second);
        if (j->is_object() && j->value("type", Json()) == "message")
          early[i - first] = ReadMessage(StoreOf(Field(*j, "store"), ""), *j, i + 1);
      } catch (const Json::exception&) {
      } catch (const LineError&) {
      }
    }
  };
  Backup backup;
  std::vector<std::string> errors;
  size_t lastLine = 0, lines = 0;  // blank lines left out
  bool headerRead = false;
  // A first batch without the header ends the reading.
  for (size_t first = 0; first < spans.size() && (first == 0 || headerRead); first += kBatch) {
    const size_t last = std::min(spans.size(), first + kBatch), middle = (first + last) / 2;
    auto half = std::async(std::launch::async, parse, middle, last, first);
    parse(first, middle, first);
    half.get();
    for (size_t i = first; i < last; ++i) {
      const auto blank = [](char c) { return c == ' ' || c == '\t'; };
      if (headerRead && std::all_of(spans[i].first, spans[i].second, blank)) continue;
      lastLine = i + 1;
      ++lines;
      try {
        if (!parsed[i - first]) throw LineError("it is not JSON");
        if (headerRead)
          ReadLine(*parsed[i - first], i + 1, &backup, &early[i - first]);
        else
          ReadHeader(*parsed[i - first], &backup);
        headerRead = true;
      } catch (const LineError& e) {
        errors.push_back(name + " line " + std::to_string(i + 1) + ": " + e.what());
        if (!headerRead) break;  // without the header, nothing else can be read
      }
    }
  }
  if (spans.empty()) errors.push_back(name + " is empty: it is not a msgstore export");

  // Lines that are each sound but cannot stand together.
  std::map<std::pair<const StoreDescription*, DWORD>, size_t> seen;
  for (const Backup::Message& m : backup.messages) {
    auto [it, fresh] = seen.insert({{m.store, m.at.id}, m.line});
    if (!fresh)
      errors.push_back(name + " line " + std::to_string(m.line) + ": " + m.store->name +
                       " message " + std::to_string(m.at.id) + " is also on line " +
                       std::to_string(it->second));
  }
  if (backup.holdsAccounts && !backup.database && !backup.accounts.empty())
    errors.push_back("the export holds accounts but no line of the account database");
  // Checked last, so that the refusal names it when the file was cut short;
  // the counts only of lines that could all be read.
  if (headerRead && (errors.empty() || !backup.closing)) {
    const std::string incomplete = Incomplete(backup, lines, lastLine);
    if (!incomplete.empty()) errors.push_back(name + ": " + incomplete);
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

}  // namespace tool
