#include "records.h"

#include <algorithm>

#include "output.h"

namespace tool {
namespace {

using OrderedJson = nlohmann::ordered_json;

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
