// The SMS/EMS store as the tool's commands see it.
#include <string>
#include <vector>

#include "store.h"

namespace tool {
namespace {

bool Read(const Location& at, bool withBody, Message* out) {
  return EMSMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, withBody, out->get()) != 0;
}

bool Move(const Location& at, DWORD to, int* storage, DWORD* newOid) {
  return EMSMsgStore_SetFolder(at.card, at.folder, at.oid, to, storage, newOid) != 0;
}

// Unread messages of the phone inbox; the store itself counts only the card's.
DWORD PhoneInboxUnread(const Store& s) {
  DWORD unread = 0;
  for (DWORD oid : ListFolder(s, false, EMS_FOLDER_INBOX)) {
    Message record(s);
    if (ReadRecord(s, {false, EMS_FOLDER_INBOX, oid}, &record) && record->bRead == 0) ++unread;
  }
  return unread;
}

// The SIM copies and the unread messages of both inboxes. The store's unread
// count makes the trees of both storages; it is asked only when they are made.
CountSummary Summary(const Store& s, bool cardTree) {
  unsigned sim = GetEMSSimMsgCount();
  DWORD phone = PhoneInboxUnread(s);
  DWORD card = cardTree ? GetEMSInboxUnreadMsgsCount() : 0;
  CountSummary out;
  out.rows.push_back({"sim folders", std::to_string(sim), "-", std::to_string(sim)});
  out.rows.push_back({"unread in inbox", std::to_string(phone),
                      cardTree ? std::to_string(card) : "-", std::to_string(phone + card)});
  out.json["sim_total"] = sim;
  out.json["unread_inbox"] = {{"phone", phone}, {"card", card}};
  return out;
}

}  // namespace

const Store& Sms() {
  static const Store kStore = {
      msgstore::SmsStore(),
      Refusal::kFullInbox,
      {},
      {
          [](Message* m) { EMSMsgStore_FreeMsgProps(m->get()); },
          EMSMsgStore_CreateDir,
          EMSMsgStore_GetFolderPath,
          [](const Location& at, WCHAR* path) {
            return EMSMsgStore_GetFilePath(at.card, at.oid, at.folder, path);
          },
          Read,
          [](bool card, Message* m, int* storage) {
            return EMSMsgStore_WriteMessage(card, m->get(), 0, storage);
          },
          EMSMsgStore_GetLastRecord,
          Move,
          [](const Location& at, bool read) {
            return EMSMsgStore_SetRead(at.card, at.folder, at.oid, read ? 1 : 0) != 0;
          },
          [](const Location& at, WORD status) {
            return EMSMsgStore_SetStatus(at.card, at.folder, at.oid, status) != 0;
          },
          nullptr,
          [](const Location& at) {
            return EMSMsgStore_DeleteMessage(at.card, at.folder, at.oid) != 0;
          },
          [](bool card, DWORD folder) { return EMSMsgStore_EmptyFolder(card, folder) != 0; },
          nullptr,
          EMSMsgStore_GetFolderMessageCount,
          [](bool card, DWORD folder, CMsgList& out) {
            EMSMsgStore_GetMessageList(card, folder, out);
          },
          [](DWORD folder, CMsgList& out) { EMSMsgStore_GetQuickMsgList(out, folder); },
          [] { EmsMsgStore_RefreshIniFiles(); },
      },
      Summary,
  };
  return kStore;
}

}  // namespace tool
