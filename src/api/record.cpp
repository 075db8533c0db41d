// Record: its fields described once, its comparison, and its conversion to
// and from the records the stores read and write.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "api/handset.h"

namespace msgstore {
namespace {

constexpr unsigned Bit(StoreKind kind) { return 1u << static_cast<int>(kind); }
constexpr unsigned kAll = Bit(StoreKind::kSms) | Bit(StoreKind::kMms) | Bit(StoreKind::kEmail);
constexpr unsigned kMms = Bit(StoreKind::kMms);
constexpr unsigned kEmail = Bit(StoreKind::kEmail);

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A field of the record: its key, type, stores and member.
#define FIELD(key, type, stores, member)                                          \
  RecordField {                                                                   \
    key, RecordField::type, stores, [](Record& r) -> void* { return &r.member; }, \
        [](const Record& r) -> const void* { return &r.member; }                  \
  }

// A calloc'ed copy for the store to release; null for an empty text, as the
// store reads one back.
WCHAR* OwnedText(const std::u16string& text) {
  if (text.empty()) return nullptr;
  auto* copy = static_cast<WCHAR*>(std::calloc(text.size() + 1, sizeof(WCHAR)));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size() * sizeof(WCHAR));
  return copy;
}

std::u16string Text(const WCHAR* text) { return text != nullptr ? text : u""; }

}  // namespace

bool Record::Mms::operator==(const Mms& o) const {
  return value1 == o.value1 && text == o.text && dwordValue1 == o.dwordValue1 &&
         value2 == o.value2 && quick1 == o.quick1 && dwordValue2 == o.dwordValue2 &&
         value3 == o.value3 && quick2 == o.quick2;
}

bool Record::Email::operator==(const Email& o) const {
  return quickValue == o.quickValue && data1 == o.data1 && text1 == o.text1 && text2 == o.text2 &&
         readReportStatus == o.readReportStatus && accountId == o.accountId && data2 == o.data2;
}

bool Record::operator==(const Record& o) const {
  return read == o.read && user1 == o.user1 && text1 == o.text1 && text2 == o.text2 &&
         content == o.content && SameTime(indexTime, o.indexTime) && SameTime(time, o.time) &&
         to == o.to && text3 == o.text3 && text4 == o.text4 && subject == o.subject &&
         folder == o.folder && status == o.status && id == o.id && user2 == o.user2 &&
         msgId == o.msgId && wordUser1 == o.wordUser1 && wordUser2 == o.wordUser2 &&
         user3 == o.user3 && mms == o.mms && email == o.email;
}

const std::vector<RecordField>& RecordFields() {
  static const std::vector<RecordField> kFields = {
      FIELD("record_id", kDword, kAll, id),
      FIELD("record_folder", kDword, kAll, folder),
      FIELD("read", kBool, kAll, read),
      FIELD("status", kWord, kAll, status),
      FIELD("index_time", kTime, kAll, indexTime),
      FIELD("time", kTime, kAll, time),
      FIELD("to", kText, kAll, to),
      FIELD("subject", kText, kAll, subject),
      FIELD("msg_id", kText, kAll, msgId),
      FIELD("text1", kText, kAll, text1),
      FIELD("text2", kText, kAll, text2),
      FIELD("text3", kText, kAll, text3),
      FIELD("text4", kText, kAll, text4),
      FIELD("user1", kDword, kAll, user1),
      FIELD("user2", kDword, kAll, user2),
      FIELD("user3", kDword, kAll, user3),
      FIELD("wuser1", kWord, kAll, wordUser1),
      FIELD("wuser2", kWord, kAll, wordUser2),
      FIELD("mms_text", kText, kMms, mms.text),
      FIELD("mms_value1", kDword, kMms, mms.dwordValue1),
      FIELD("mms_value2", kDword, kMms, mms.dwordValue2),
      FIELD("mms_wvalue1", kWord, kMms, mms.value1),
      FIELD("mms_wvalue2", kWord, kMms, mms.value2),
      FIELD("mms_wvalue3", kWord, kMms, mms.value3),
      FIELD("mms_wquick1", kWord, kMms, mms.quick1),
      FIELD("mms_wquick2", kWord, kMms, mms.quick2),
      FIELD("quick_value", kWord, kEmail, email.quickValue),
      FIELD("email_data1", kDword, kEmail, email.data1),
      FIELD("email_text1", kText, kEmail, email.text1),
      FIELD("email_text2", kText, kEmail, email.text2),
      FIELD("read_report", kInt32, kEmail, email.readReportStatus),
      FIELD("account", kDword, kEmail, email.accountId),
      FIELD("email_data2", kDword, kEmail, email.data2),
      FIELD("content", kBytes, kAll, content),
  };
  return kFields;
}

int64_t RecordField::Number(const Record& r) const {
  if (type == kWord) return Value<WORD>(r);
  if (type == kDword) return Value<DWORD>(r);
  return Value<int32_t>(r);  // BOOL too
}

void RecordField::SetNumber(Record& r, int64_t n) const {
  if (type == kWord)
    Value<WORD>(r) = static_cast<WORD>(n);
  else if (type == kDword)
    Value<DWORD>(r) = static_cast<DWORD>(n);
  else
    Value<int32_t>(r) = static_cast<int32_t>(n);
}

int64_t RecordField::Least() const { return type == kWord || type == kDword ? 0 : INT32_MIN; }

int64_t RecordField::Greatest() const {
  return type == kWord ? 0xFFFF : type == kDword ? 0xFFFFFFFF : INT32_MAX;
}

const RecordField* RecordFieldNamed(const std::string& key) {
  for (const RecordField& f : RecordFields())
    if (key == f.key) return &f;
  return nullptr;
}

const std::vector<const RecordField*>& RecordFieldsOf(StoreKind kind) {
  static const std::map<StoreKind, std::vector<const RecordField*>> kKept = [] {
    std::map<StoreKind, std::vector<const RecordField*>> kept;
    for (const StoreDescription* s : Stores())
      for (const RecordField& f : RecordFields())
        if (f.KeptBy(s->kind)) kept[s->kind].push_back(&f);
    return kept;
  }();
  return kKept.at(kind);
}

namespace api {

void ToProps(StoreKind kind, const Record& r, tagMSGPROPS* p, OwnRecord* own) {
  p->bRead = r.read;
  p->dwUser1 = r.user1;
  p->pszText1 = OwnedText(r.text1);
  p->pszText2 = OwnedText(r.text2);
  p->ftIndexTime = r.indexTime;
  p->ftTime = r.time;
  p->pszTo = OwnedText(r.to);
  p->pszText3 = OwnedText(r.text3);
  p->pszText4 = OwnedText(r.text4);
  p->pszSubject = OwnedText(r.subject);
  p->dwFolder = r.folder;
  p->wStatus = r.status;
  p->dwOid = r.id;
  p->dwUser2 = r.user2;
  p->pszMsgID = OwnedText(r.msgId);
  p->wUser1 = r.wordUser1;
  p->wUser2 = r.wordUser2;
  p->dwUser3 = r.user3;
  if (!r.content.empty()) {
    p->pData = static_cast<BYTE*>(std::malloc(r.content.size()));
    if (p->pData == nullptr) throw std::bad_alloc();
    std::memcpy(p->pData, r.content.data(), r.content.size());
    p->cbData = static_cast<DWORD>(r.content.size());
  }
  if (kind == StoreKind::kMms) {
    tagMMSMSGPROPS& m = own->mms;
    m.wMmsValue1 = r.mms.value1;
    m.pszMmsText = OwnedText(r.mms.text);
    m.dwMmsValue1 = r.mms.dwordValue1;
    m.wMmsValue2 = r.mms.value2;
    m.wMmsQuick1 = r.mms.quick1;
    m.dwMmsValue2 = r.mms.dwordValue2;
    m.wMmsValue3 = r.mms.value3;
    m.wMmsQuick2 = r.mms.quick2;
  } else if (kind == StoreKind::kEmail) {
    tagEMAILMSGPROPS& e = own->email;
    e.wQuickValue = r.email.quickValue;
    e.dwEmailData1 = r.email.data1;
    e.pszEmailText1 = OwnedText(r.email.text1);
    e.pszEmailText2 = OwnedText(r.email.text2);
    e.dwReadReportStatus = r.email.readReportStatus;
    e.dwAccountId = r.email.accountId;
    e.dwEmailData2 = r.email.data2;
  }
}

Record FromProps(StoreKind kind, const tagMSGPROPS& p, const OwnRecord& own) {
  Record r;
  r.read = p.bRead;
  r.user1 = p.dwUser1;
  r.text1 = Text(p.pszText1);
  r.text2 = Text(p.pszText2);
  if (p.pData != nullptr) r.content.assign(p.pData, p.pData + p.cbData);
  r.indexTime = p.ftIndexTime;
  r.time = p.ftTime;
  r.to = Text(p.pszTo);
  r.text3 = Text(p.pszText3);
  r.text4 = Text(p.pszText4);
  r.subject = Text(p.pszSubject);
  r.folder = p.dwFolder;
  r.status = p.wStatus;
  r.id = p.dwOid;
  r.user2 = p.dwUser2;
  r.msgId = Text(p.pszMsgID);
  r.wordUser1 = p.wUser1;
  r.wordUser2 = p.wUser2;
  r.user3 = p.dwUser3;
  if (kind == StoreKind::kMms) {
    const tagMMSMSGPROPS& m = own.mms;
    r.mms.value1 = m.wMmsValue1;
    r.mms.text = Text(m.pszMmsText);
    r.mms.dwordValue1 = m.dwMmsValue1;
    r.mms.value2 = m.wMmsValue2;
    r.mms.quick1 = m.wMmsQuick1;
    r.mms.dwordValue2 = m.dwMmsValue2;
    r.mms.value3 = m.wMmsValue3;
    r.mms.quick2 = m.wMmsQuick2;
  } else if (kind == StoreKind::kEmail) {
    const tagEMAILMSGPROPS& e = own.email;
    r.email.quickValue = e.wQuickValue;
    r.email.data1 = e.dwEmailData1;
    r.email.text1 = Text(e.pszEmailText1);
    r.email.text2 = Text(e.pszEmailText2);
    r.email.readReportStatus = e.dwReadReportStatus;
    r.email.accountId = e.dwAccountId;
    r.email.data2 = e.dwEmailData2;
  }
  return r;
}

}  // namespace api
}  // namespace msgstore
