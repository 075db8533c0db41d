// A message record through the library's one table of its fields: as JSON
// (ls, show, export; backup_read.cpp reads it back), as the rows of show,
// and as the options of add. A field's key is its JSON key; a time adds "<key>_ticks",
// the content "<key>_size", "<key>_base64" and "<key>_text".
#ifndef MSGSTORE_TOOL_RECORDS_H_
#define MSGSTORE_TOOL_RECORDS_H_

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands.h"

namespace tool {

using msgstore::RecordField;

// The fields a store keeps, in the order the tool shows them.
inline const std::vector<const RecordField*>& FieldsOf(const StoreDescription& s) {
  return msgstore::RecordFieldsOf(s.kind);
}
// Whether the field is the store's own (every store keeps the others).
bool OwnField(const RecordField& f);

// Where the message is, then every field of its store; its content (in
// base64, and as text when it is UTF-16 text) when withContent: added to the
// end of line, an object.
nlohmann::ordered_json RecordJson(const StoreDescription& s, const Location& at, const Record& r,
                                  bool withContent,
                                  nlohmann::ordered_json line = nlohmann::ordered_json::object());
// The keys of RecordJson without content, every field null: a message that
// cannot be read.
nlohmann::ordered_json NullRecordJson(const StoreDescription& s, const Location& at);
// The "<key>_ticks" of every time as a decimal string: ticks pass 2^53,
// which JSON readers that keep numbers as doubles round.
void TicksAsText(const StoreDescription& s, nlohmann::ordered_json* j);

// Subject, else the start of the text content.
std::string Summary(const Record& r);
// show's rows of the store's fields but the record's own place and the
// content: "index time", "2026-12-05T15:04:05Z".
std::vector<std::pair<std::string, std::string>> FieldRows(const StoreDescription& s,
                                                           const Record& r);
// "--mms-wvalue1", and what it takes.
std::string OptionOf(const RecordField& f);
std::string OptionHelp(const RecordField& f);
// Sets the field from an option's text; UsageError when it is not such a value.
void SetFromOption(const RecordField& f, const std::string& text, Record* r);

}  // namespace tool

#endif  // MSGSTORE_TOOL_RECORDS_H_
