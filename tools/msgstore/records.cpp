#include "records.h"

#include <algorithm>

#include "output.h"
#include "text.h"

namespace tool {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }
std::string RawKey(const std::string& key) { return key + "_utf16_base64"; }

std::vector<BYTE> Bytes(const Json& j, const std::string& key) {
  std::vector<BYTE> bytes;
  if (!Base64Decode(String(j, key), &bytes)) throw LineError(Quoted(key) + " is not base64");
  return bytes;
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

// The fields of the record, added to the end of j.
void AddFields(const StoreDescription& s, const Record& r, bool withContent, OrderedJson& j) {
  for (const RecordField* f : FieldsOf(s)) {
    const std::string key = f->key;
    if (f->type == RecordField::kBool) {
      j[key] = f->Value<BOOL>(r) != 0;
    } else if (f->type == RecordField::kText) {
      j[key] = Utf16ToUtf8(f->Value<std::u16string>(r));
    } else if (f->type == RecordField::kTime) {
      j[key] = FormatTime(f->Value<FILETIME>(r));
      j[key + "_ticks"] = Ticks(f->Value<FILETIME>(r));
    } else if (f->type != RecordField::kBytes) {
      j[key] = f->Number(r);
    } else if (withContent) {
      const std::vector<uint8_t>& bytes = f->Value<std::vector<uint8_t>>(r);
      j[key + "_size"] = bytes.size();
      j[key + "_base64"] = Base64Encode(bytes.data(), bytes.size());
      std::string text;
      if (ContentAsText(bytes.data(), bytes.size(), &text)) j[key + "_text"] = std::move(text);
    }
  }
}

}  // namespace

bool OwnField(const RecordField& f) {
  return std::any_of(Stores().begin(), Stores().end(),
                     [&](const StoreDescription* s) { return !f.KeptBy(s->kind); });
}

OrderedJson RecordJson(const StoreDescription& s, const Location& at, const Record& r,
                       bool withContent, OrderedJson j) {
  // Room for every field at once: the object's keys are constant, so that
  // each time it grew it would copy every value, the content's too.
  auto& object = j.get_ref<OrderedJson::object_t&>();
  object.reserve(object.size() + 64);  // more than any store has
  j["storage"] = StorageKey(at.card);
  j["folder"] = FolderName(s, at.folder);
  j["id"] = at.id;
  AddFields(s, r, withContent, j);
  return j;
}

OrderedJson NullRecordJson(const StoreDescription& s, const Location& at) {
  OrderedJson j = RecordJson(s, at, Record(), false);
  for (auto it = std::next(j.begin(), 3); it != j.end(); ++it) *it = nullptr;  // all but the place
  return j;
}

void TicksAsText(const StoreDescription& s, OrderedJson* j) {
  for (const RecordField* f : FieldsOf(s)) {
    const std::string key = std::string(f->key) + "_ticks";
    if (f->type == RecordField::kTime && j->contains(key) && (*j)[key].is_number())
      (*j)[key] = std::to_string((*j)[key].get<uint64_t>());
  }
}

void AddExactJson(const StoreDescription& s, const Record& r, OrderedJson* j) {
  for (const RecordField* f : FieldsOf(s)) {
    if (f->type == RecordField::kBool && f->Value<BOOL>(r) != 0 && f->Value<BOOL>(r) != 1)
      (*j)[std::string(f->key) + "_value"] = f->Value<BOOL>(r);
    if (f->type == RecordField::kText) AddExactText(f->key, f->Value<std::u16string>(r), j);
  }
}

void AddExactText(const std::string& key, const std::u16string& units, OrderedJson* j) {
  if (Utf8ToUtf16(Utf16ToUtf8(units)) == units) return;
  const std::vector<BYTE> bytes = Utf16LeBytes(units);
  (*j)[RawKey(key)] = Base64Encode(bytes.data(), bytes.size());
}

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

std::string Summary(const Record& r) {
  if (!r.subject.empty()) return Utf16ToUtf8(r.subject);
  std::string text;
  if (ContentAsText(r.content.data(), r.content.size(), &text)) return text;
  if (!r.content.empty()) return "(" + std::to_string(r.content.size()) + " bytes of data)";
  return "";
}

std::vector<std::pair<std::string, std::string>> FieldRows(const StoreDescription& s,
                                                           const Record& r) {
  OrderedJson j = OrderedJson::object();
  AddFields(s, r, false, j);
  std::vector<std::pair<std::string, std::string>> rows;
  for (const RecordField* f : FieldsOf(s)) {
    std::string label = f->key;
    // The record's own place has a row of its own, the content lines of its own.
    if (label == "record_id" || label == "record_folder" || f->type == RecordField::kBytes)
      continue;
    if (label == "msg_id") label = "message id";
    std::replace(label.begin(), label.end(), '_', ' ');
    const OrderedJson& v = j[f->key];  // a time's text is a cell as it is
    rows.emplace_back(label, v.is_boolean()  ? std::string(v.get<bool>() ? "yes" : "no")
                             : v.is_string() ? CellText(v.get<std::string>(), 4096)
                                             : v.dump());
  }
  return rows;
}

std::string OptionOf(const RecordField& f) {
  std::string option = std::string("--") + f.key;
  std::replace(option.begin(), option.end(), '_', '-');
  return option;
}

std::string OptionHelp(const RecordField& f) {
  const std::string key = f.key;
  if (key == "account")
    return "The account of an inbox message (see 'msgstore account ls'); in spam, the inbox it "
           "goes back to";
  if (f.type == RecordField::kText) return key;
  return key + ", " + std::to_string(f.Least()) + " to " + std::to_string(f.Greatest()) +
         " (default 0)";
}

void SetFromOption(const RecordField& f, const std::string& text, Record* r) {
  if (f.type == RecordField::kText)
    f.Value<std::u16string>(*r) = Utf8ToUtf16(text);
  else
    f.SetNumber(*r, ParseNumber(OptionOf(f), text, f.Greatest(), f.Least()));
}

}  // namespace tool
