// The e-mail store as the tool's commands see it. Its inbox holds every
// account's messages side by side, named "<account>_<id>.email"; the store
// reaches them through the Inbox twins of its operations, by account, and
// indexes each account's in a file of its own. Its none folder can be listed,
// counted and emptied, but the store names no file in it: its messages are
// read by their place in the listing.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "accounts.h"
#include "output.h"
#include "store.h"
#include "text.h"

namespace tool {
namespace {

bool InInbox(const Location& at) { return at.folder == EMAIL_FOLDER_INBOX; }

// The place of a none message in the store's listing; -1 when not listed.
int PlaceInNone(bool card, DWORD oid) {
  CMsgList list;
  EmailMsgStore_GetMessageList(card, EMAIL_FOLDER_NONE, list);
  for (long i = 0; i < list.GetSize(); ++i)
    if (list[i].dwOid == oid) return static_cast<int>(i);
  return -1;
}

bool Read(const Location& at, bool withBody, Message* out) {
  if (InInbox(at))
    return EmailMsgStore_ReadFolderMessageInbox(at.card, at.account, -1, at.oid, withBody,
                                                out->get(), out->email()) != 0;
  if (at.folder != EMAIL_FOLDER_NONE)
    return EmailMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, withBody, out->get(),
                                           out->email()) != 0;
  int place = PlaceInNone(at.card, at.oid);
  return place >= 0 && EmailMsgStore_ReadFolderMessage(at.card, at.folder, place, 0, withBody,
                                                       out->get(), out->email()) != 0;
}

int FilePath(const Location& at, WCHAR* path) {
  if (InInbox(at)) return EmailMsgStore_GetFilePathInbox(at.card, at.oid, at.account, path);
  if (at.folder != EMAIL_FOLDER_NONE)
    return EmailMsgStore_GetFilePath(at.card, at.oid, at.folder, path);
  // The name the listing found.
  if (EmailMsgStore_GetFolderPath(at.card, at.folder, path) == 0) return 0;
  std::u16string file = std::u16string(path) + u"\\" + Utf8ToUtf16(std::to_string(at.oid)) +
                        msgstore::EmailStore().extension;
  if (file.size() >= MAX_PATH) return 0;
  file.copy(path, file.size());
  path[file.size()] = 0;
  return 1;
}

bool FileExists(const Location& at) {
  WCHAR path[MAX_PATH] = {};
  return FilePath(at, path) != 0 && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Whether the store would find the folder full on both storages; the inbox
// counts the incoming-server account's messages only.
bool FullOnBoth(DWORD folder) {
  for (bool card : {false, true}) {
    DWORD count = 0;
    if (card && !CardInserted()) return true;
    EmailMsgStore_GetLastRecord(card, folder, &count);
    if (count < msgstore::EmailStore().folderLimit) return false;
  }
  return true;
}

// The store names no file in folder none, so it writes none there.
void RequireNamed(DWORD folder, const std::string& what) {
  if (folder == EMAIL_FOLDER_NONE)
    throw Failure("the e-mail store keeps no message in folder none (it names no file there): " +
                  what);
}

// "message 5 in phone draft"
std::string What(const Location& at) {
  return "message " + std::to_string(at.oid) + " in " + Email().Where(at.card, at.folder);
}

// Changes reach a message through the file the store names.
void RequireChangeable(const Location& at) {
  RequireNamed(at.folder, What(at) + " can be shown, listed and emptied only");
}

// An inbox message belongs to an account of the account store.
void RequireAccount(DWORD account) {
  if (account == 0)
    throw UsageError("an inbox message needs --account ID (see 'msgstore account ls')");
  if (account < msgstore::EmailStore().firstAccountFolder || !AccountExists(account))
    throw Failure("no account " + std::to_string(account) + " (see 'msgstore account ls')");
}

DWORD Write(bool card, Message* m, int* storage) {
  tagMSGPROPS& props = *m->get();
  bool inbox = props.dwFolder == EMAIL_FOLDER_INBOX;
  RequireNamed(props.dwFolder, "message not stored");
  if (inbox) RequireAccount(m->email()->dwAccountId);
  int value = *storage;
  DWORD oid = EmailMsgStore_WriteMessage(card, m->get(), m->email(), 0, &value);
  if (oid != 0 || value == STORAGE_NO_SPACE) {
    *storage = value;
    return oid;
  }
  // Refused for a full inbox: on both storages, or without the choice of the
  // other one.
  DWORD count = 0;
  EmailMsgStore_GetLastRecord(card, EMAIL_FOLDER_INBOX, &count);
  if (value == STORAGE_BOTH_FULL ||
      (inbox && value == *storage && count >= msgstore::EmailStore().folderLimit))
    *storage = kRefusedFull;
  return 0;
}

// The store moves an inbox message only to spam, and back from spam to the
// account's inbox; other folders move as their records say.
bool Move(const Location& at, DWORD to, int* storage, DWORD* newOid) {
  Message m(Email());
  if (!Read(at, true, &m)) return false;
  const DWORD account = m.email()->dwAccountId;
  const std::string what = What(at);
  RequireChangeable(at);
  RequireNamed(to, what + " not moved");
  if (InInbox(at) && to != EMAIL_FOLDER_SPAM)
    throw Failure("the e-mail store moves inbox messages to spam only: " + what + " not moved");
  if (to == EMAIL_FOLDER_INBOX && account < msgstore::EmailStore().firstAccountFolder)
    throw Failure(what + " belongs to no account (account " + std::to_string(account) +
                  "): it cannot go to the inbox");
  const DWORD before = CounterValue(Email());
  int moved = InInbox(at) ? EmailMsgStore_MoveInboxToSpam(at.card, at.account, at.oid)
              : to == EMAIL_FOLDER_INBOX && at.folder == EMAIL_FOLDER_SPAM
                  ? EmailMsgStore_RestoreMessageToInbox(at.card, at.oid)
                  : EmailMsgStore_SetFolder(at.card, at.folder, at.oid, to);
  // The store names the copy nowhere: it has the counter's last identifier,
  // on whichever storage the store chose.
  const DWORD after = CounterValue(Email());
  for (bool card : {at.card, !at.card})
    if (after != before && FileExists({card, to, after, account})) {
      *newOid = after;
      if (card != at.card) *storage = card ? 1 : 0;
      break;
    }
  if (moved == 0 && after == before)
    *storage = to == EMAIL_FOLDER_INBOX && FullOnBoth(to) ? kRefusedFull : 2;
  return moved != 0;
}

bool SetRead(const Location& at, bool read) {
  RequireChangeable(at);
  int value = read ? 1 : 0;
  return (InInbox(at) ? EmailMsgStore_SetReadStatusInbox(at.card, at.account, at.oid, value)
                      : EmailMsgStore_SetReadStatus(at.card, at.folder, at.oid, value)) != 0;
}

bool SetStatus(const Location& at, WORD status) {
  RequireChangeable(at);
  return (InInbox(at) ? EmailMsgStore_SetStatusInbox(at.card, at.account, at.oid, status)
                      : EmailMsgStore_SetStatus(at.card, at.folder, at.oid, status)) != 0;
}

bool SetReadReport(const Location& at, int status) {
  RequireChangeable(at);
  return (InInbox(at) ? EmailMsgStore_SetReadReportStatusInbox(at.card, at.account, at.oid, status)
                      : EmailMsgStore_SetReadReportStatus(at.card, at.folder, at.oid, status)) != 0;
}

bool Remove(const Location& at) {
  RequireChangeable(at);
  return (InInbox(at) ? EmailMsgStore_DeleteMessageInbox(at.card, at.account, at.oid)
                      : EmailMsgStore_DeleteMessage(at.card, at.folder, at.oid)) != 0;
}

// The store's refresh, and the accounts' indexes that it leaves out, built
// from the account's files in phone memory the way it builds the others:
// only where missing, each message at the place its index time gives it.
void Refresh() {
  EmailMsgStore_RefreshIniFiles();
  WCHAR inbox[MAX_PATH] = {};
  EmailMsgStore_GetFolderPath(false, EMAIL_FOLDER_INBOX, inbox);
  for (DWORD account : AccountsOnDevice()) {
    std::u16string index = std::u16string(inbox) + u"\\" + Utf8ToUtf16(std::to_string(account)) +
                           u"_" + msgstore::EmailStore().indexName;
    if (GetFileAttributesW(index.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    CMsgList list;
    EmailMsgStore_GetMessageListInbox(false, account, list);
    for (long i = 0; i < list.GetSize(); ++i) {
      tagMSGPROPS props = {};
      EmailMsgStore_QuickReadFromFile(false, account, list[i].dwOid, &props);
      EmailMsgStore_AddMsgToIni(list[i].dwOid, account, props.ftIndexTime);
      EmailMsgStore_FreeMsgProps(&props, nullptr);
    }
  }
}

// Each account's inbox and unread messages on both storages, and the
// store's own unread count of the incoming-server account. That count makes
// the trees of both storages; with a card whose tree is not made, the phone
// count is the whole answer.
CountSummary Summary(const Store& /*s*/, bool cardTree) {
  CountSummary out;
  nlohmann::ordered_json accounts = nlohmann::ordered_json::object();
  auto row = [&](const std::string& name, DWORD phone, DWORD card) {
    out.rows.push_back({name, std::to_string(phone), cardTree ? std::to_string(card) : "-",
                        std::to_string(phone + card)});
    nlohmann::ordered_json j = {{"phone", phone}};
    if (cardTree) j["card"] = card;
    j["total"] = phone + card;
    return j;
  };
  std::vector<DWORD> ids = AccountsOnDevice();
  for (const Account& a : LoadAccounts())
    if (std::find(ids.begin(), ids.end(), a.id) == ids.end()) ids.push_back(a.id);
  std::sort(ids.begin(), ids.end());
  for (DWORD id : ids) {
    if (id < msgstore::EmailStore().firstAccountFolder) continue;
    DWORD phone = 0, card = 0;
    EmailMsgStore_GetFolderMessageCountInbox(false, id, &phone);
    if (cardTree) EmailMsgStore_GetFolderMessageCountInbox(true, id, &card);
    nlohmann::ordered_json j;
    j["inbox"] = row("inbox " + std::to_string(id), phone, card);
    j["unread"] = row("unread " + std::to_string(id), EmailMsgStore_GetUnreadMsgCount(false, id),
                      cardTree ? EmailMsgStore_GetUnreadMsgCount(true, id) : 0);
    accounts[std::to_string(id)] = j;
  }
  DWORD incoming = IncomingServerAccount();
  DWORD unread = CardInserted() && !cardTree ? EmailMsgStore_GetUnreadMsgCount(false, incoming)
                                             : GetEmailInboxUnreadMsgsCount();
  out.rows.push_back({"unread in inbox", "-", "-", std::to_string(unread)});
  out.json["accounts"] = accounts;
  out.json["incoming_server_account"] =
      incoming == 0 ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(incoming);
  out.json["unread_inbox"] = unread;
  if (incoming == 0)
    out.note =
        "no incoming-server account is named: the store counts no unread inbox message and never "
        "finds the inbox full ('msgstore account use ID' names one)";
  return out;
}

}  // namespace

const Store& Email() {
  static const Store kStore = {
      msgstore::EmailStore(),
      Refusal::kNoSpace,
      {{"quick_value", "wQuickValue", ExtraField::kWord, offsetof(tagEMAILMSGPROPS, wQuickValue)},
       {"email_data1", "dwEmailData1", ExtraField::kDword,
        offsetof(tagEMAILMSGPROPS, dwEmailData1)},
       {"email_text1", "pszEmailText1", ExtraField::kText,
        offsetof(tagEMAILMSGPROPS, pszEmailText1)},
       {"email_text2", "pszEmailText2", ExtraField::kText,
        offsetof(tagEMAILMSGPROPS, pszEmailText2)},
       {"read_report", "dwReadReportStatus", ExtraField::kInt,
        offsetof(tagEMAILMSGPROPS, dwReadReportStatus), "Read-report status"},
       {"account", "dwAccountId", ExtraField::kDword, offsetof(tagEMAILMSGPROPS, dwAccountId),
        "The account of an inbox message (see 'msgstore account ls'); in spam, the inbox it "
        "goes back to"},
       {"email_data2", "dwEmailData2", ExtraField::kDword,
        offsetof(tagEMAILMSGPROPS, dwEmailData2)}},
      {
          [](Message* m) { EmailMsgStore_FreeMsgProps(m->get(), m->email()); },
          EmailMsgStore_CreateDir,
          EmailMsgStore_GetFolderPath,
          FilePath,
          Read,
          Write,
          EmailMsgStore_GetLastRecord,
          Move,
          SetRead,
          SetStatus,
          SetReadReport,
          Remove,
          [](bool card, DWORD folder) { return EmailMsgStore_EmptyFolder(card, folder) != 0; },
          [](bool card, DWORD, DWORD account) {
            return EmailMsgStore_EmptyFolderInbox(card, account) != 0;
          },
          EmailMsgStore_GetFolderMessageCount,
          [](bool card, DWORD folder, CMsgList& out) {
            EmailMsgStore_GetMessageList(card, folder, out);
          },
          [](DWORD folder, CMsgList& out) { EmailMsgStore_GetQuickMsgList(out, folder); },
          Refresh,
      },
      Summary,
  };
  return kStore;
}

}  // namespace tool
