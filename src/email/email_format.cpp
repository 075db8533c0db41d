// E-mail message files: the current layout under "MUTEX_EMAIL_READWRITETILE"
// (read whole, or only its header), the quick read, and the old layout,
// which takes no lock. The e-mail store's own rules: the quick read finds
// INBOX files through the account (the plain INBOX's from the registry, or
// the folder value itself when it is 12 or more), reads only the quick part
// and reports wQuickValue in wUser2; it does not repair any index.
//
// Readers parse only the bytes read. A field that runs past them fails the
// read; what was assigned before stays owned by the records and is released
// with EmailMsgStore_FreeMsgProps.
#include <vector>

#include "common/layout.h"
#include "common/msg_props.h"
#include "common/named_lock.h"
#include "common/whole_file.h"
#include "email/email_internal.h"

namespace {

using msgstore::Layout;
using msgstore::ReadExtent;
using msgstore::ReadResult;

#define EMAIL_FIELD(member) STORE_FIELD(tagEMAILMSGPROPS, member)

// The e-mail fields, in the same order in both layouts (the current one keeps
// wQuickValue in its header instead).
#define EMAIL_FIELDS                                                                 \
  EMAIL_FIELD(dwEmailData1), EMAIL_FIELD(pszEmailText1), EMAIL_FIELD(pszEmailText2), \
      EMAIL_FIELD(dwReadReportStatus), EMAIL_FIELD(dwAccountId), EMAIL_FIELD(dwEmailData2)

// Current layout. Placeholder 0, the quick length, is the offset just past
// pszText2; placeholder 1, the header length, the offset of cbData. The quick
// read stops at the quick length.
constexpr auto kCurrent =
    msgstore::Join(msgstore::Run(msgstore::Offset(0), msgstore::Offset(1)), msgstore::kHeader,
                   msgstore::Run(EMAIL_FIELD(wQuickValue)), msgstore::kLeadStrings,
                   msgstore::Run(msgstore::PatchHere(0), msgstore::QuickEnd()),
                   msgstore::kBodyStrings, msgstore::kTail, msgstore::kUserWords,
                   msgstore::Run(EMAIL_FIELDS, msgstore::PatchHere(1), msgstore::Content()));

// Old layout: the header length, the shared record in its memory order
// without pszText2, then the e-mail fields.
constexpr auto kOld = msgstore::Join(msgstore::Run(msgstore::Offset(0)), msgstore::kMemoryOrder,
                                     msgstore::Run(EMAIL_FIELD(wQuickValue), EMAIL_FIELDS,
                                                   msgstore::PatchHere(0), msgstore::Content()));

constexpr Layout kCurrentLayout = msgstore::MakeLayout(kCurrent);
constexpr Layout kOldLayout = msgstore::MakeLayout(kOld);

// Where each layout keeps its header length.
constexpr DWORD kCurrentHeaderLengthAt = 4;
constexpr DWORD kOldHeaderLengthAt = 0;

const tagEMAILMSGPROPS& OrEmpty(const tagEMAILMSGPROPS* email) {
  static const tagEMAILMSGPROPS kEmpty = {};
  return email != nullptr ? *email : kEmpty;
}

// With the content the whole file is read; without it, only its header.
int ReadFile(const WCHAR* path, const Layout& layout, DWORD headerLengthAt, bool withContent,
             tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  if (msg == nullptr) return 0;
  tagEMAILMSGPROPS scratch = {};
  tagEMAILMSGPROPS* target = email != nullptr ? email : &scratch;
  std::vector<uint8_t> file;
  const ReadResult read = withContent ? msgstore::ReadWholeFile(path, 0, &file)
                                      : msgstore::ReadFileHead(path, headerLengthAt, 0, &file);
  const bool ok =
      read == ReadResult::kOk &&
      msgstore::ReadLayoutImage(file, layout, msgstore::BodyExtent(withContent), msg, target);
  EmailMsgStore_FreeMsgProps(nullptr, &scratch);
  return ok ? 1 : 0;
}

// The file of a message as the quick read finds it; false when refused.
bool QuickReadPath(bool storage, DWORD folder, DWORD messageId, WCHAR* path) {
  if (folder == EMAIL_FOLDER_INBOX) {
    DWORD account = 0;
    return msgstore::email::PlainInboxAccount(&account) &&
           EmailMsgStore_GetFilePathInbox(storage, messageId, account, path);
  }
  if (msgstore::email::IsAccountFolder(folder))
    return EmailMsgStore_GetFilePathInbox(storage, messageId, folder, path) != 0;
  return EmailMsgStore_GetFilePath(storage, messageId, folder, path) != 0;
}

}  // namespace

void EmailMsgStore_FreeMsgProps(tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  msgstore::ReleaseMsgProps(msg);
  if (email != nullptr) {
    msgstore::ReplaceString(&email->pszEmailText2, nullptr);
    msgstore::ReplaceString(&email->pszEmailText1, nullptr);
  }
}

int EmailMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  if (msg == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::email::kStore.fileMutex, msgstore::email::kStore.yields);
  return msgstore::WriteLayoutFile(path, kCurrentLayout, *msg, &OrEmpty(email));
}

int EmailMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email,
                               bool withContent) {
  msgstore::NamedLock lock(msgstore::email::kStore.fileMutex, msgstore::email::kStore.yields);
  return ReadFile(path, kCurrentLayout, kCurrentHeaderLengthAt, withContent, msg, email);
}

int EmailMsgStore_QuickReadFromFile(bool storage, DWORD folder, DWORD messageId, tagMSGPROPS* msg) {
  WCHAR path[MAX_PATH] = {};
  if (msg == nullptr || !QuickReadPath(storage, folder, messageId, path)) return 0;
  // The quick part runs from the start to the quick length stored in the
  // first four bytes, counted after them.
  std::vector<uint8_t> file;
  if (msgstore::ReadFileHead(path, 0, 4, &file) != ReadResult::kOk) return 0;
  tagEMAILMSGPROPS quick = {};
  const bool ok = msgstore::ReadLayoutImage(file, kCurrentLayout, ReadExtent::kQuick, msg, &quick);
  if (ok) msg->wUser2 = quick.wQuickValue;
  return ok ? 1 : 0;
}

int EmailMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email) {
  if (msg == nullptr) return 0;
  return msgstore::WriteLayoutFile(path, kOldLayout, *msg, &OrEmpty(email));
}

int EmailMsgStore_ReadFromFileOld(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email,
                                  bool withContent) {
  return ReadFile(path, kOldLayout, kOldHeaderLengthAt, withContent, msg, email);
}
