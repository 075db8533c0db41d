// The MMS store as the tool's commands see it.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "store.h"

namespace tool {
namespace {

bool Read(const Location& at, bool withBody, Message* out) {
  return MMSMsgStore_ReadFolderMessage(at.card, at.folder, -1, at.oid, withBody, out->get(),
                                       out->mms()) != 0;
}

DWORD Write(bool card, Message* m, int* storage) {
  DWORD value = static_cast<DWORD>(*storage);
  DWORD oid = MMSMsgStore_WriteMessage(card, m->get(), m->mms(), 0, &value);
  *storage = static_cast<int>(value);
  return oid;
}

bool Move(const Location& at, DWORD to, int* storage, DWORD* newOid) {
  DWORD before = CounterValue(Mms());
  DWORD id = at.oid;
  DWORD value = static_cast<DWORD>(STORAGE_AUTO);
  bool moved = MMSMsgStore_SetFolder(at.card, at.folder, &id, to, &value) != 0;
  *storage = static_cast<int>(value);
  if (moved) {
    *newOid = id;
    return true;
  }
  // The store names the copy only once the old file is gone; a copy written
  // before that drew the counter's next identifier.
  DWORD after = CounterValue(Mms());
  bool card = value == 0 || value == 1 ? value == 1 : at.card;
  WCHAR path[MAX_PATH] = {};
  if (after != before && MMSMsgStore_GetFilePath(card, after, to, path) != 0 &&
      GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
    *newOid = after;
  return false;
}

// The store's unread count of both inboxes. On the way it settles the
// download folder (its messages move to the inbox under new identifiers, or
// are deleted when they have no text1) and makes the trees of both storages,
// so the card's tree must be there already and the counter sound.
CountSummary Summary(const Store& s, bool cardTree) {
  if (CardInserted() && !cardTree) RequireTree(s, true, MMS_FOLDER_INBOX);
  DWORD downloads = s.ops.count(false, MMS_FOLDER_AUTODOWNLOAD);
  if (downloads != 0) RequireIdCounter(s);
  DWORD unread = GetMMSInboxUnreadMsgsCount();
  DWORD settled = downloads - std::min(downloads, s.ops.count(false, MMS_FOLDER_AUTODOWNLOAD));
  CountSummary out;
  out.rows.push_back({"unread in inbox", "-", "-", std::to_string(unread)});
  out.json["unread_inbox"] = unread;
  out.json["settled_downloads"] = settled;
  if (settled != 0)
    out.note = "the store settled " + std::to_string(settled) +
               (settled == 1 ? " message" : " messages") +
               " of the download folder: moved to the inbox, or deleted when without text1";
  return out;
}

}  // namespace

const Store& Mms() {
  static const Store kStore = {
      msgstore::MmsStore(),
      Refusal::kNoSpace,
      {{"mms_text", "pszMmsText", ExtraField::kText, offsetof(tagMMSMSGPROPS, pszMmsText)},
       {"mms_value1", "dwMmsValue1", ExtraField::kDword, offsetof(tagMMSMSGPROPS, dwMmsValue1)},
       {"mms_value2", "dwMmsValue2", ExtraField::kDword, offsetof(tagMMSMSGPROPS, dwMmsValue2)},
       {"mms_wvalue1", "wMmsValue1", ExtraField::kWord, offsetof(tagMMSMSGPROPS, wMmsValue1)},
       {"mms_wvalue2", "wMmsValue2", ExtraField::kWord, offsetof(tagMMSMSGPROPS, wMmsValue2)},
       {"mms_wvalue3", "wMmsValue3", ExtraField::kWord, offsetof(tagMMSMSGPROPS, wMmsValue3)},
       {"mms_wquick1", "wMmsQuick1", ExtraField::kWord, offsetof(tagMMSMSGPROPS, wMmsQuick1)},
       {"mms_wquick2", "wMmsQuick2", ExtraField::kWord, offsetof(tagMMSMSGPROPS, wMmsQuick2)}},
      {
          [](Message* m) { MMSMsgStore_FreeMsgProps(m->get(), m->mms()); },
          MMSMsgStore_CreateDir,
          MMSMsgStore_GetFolderPath,
          [](const Location& at, WCHAR* path) {
            return MMSMsgStore_GetFilePath(at.card, at.oid, at.folder, path);
          },
          Read,
          Write,
          MMSMsgStore_GetLastRecord,
          Move,
          [](const Location& at, bool read) {
            return MMSMsgStore_SetReadStatus(at.card, at.folder, at.oid, read ? 1 : 0) != 0;
          },
          [](const Location& at, WORD status) {
            return MMSMsgStore_SetStatus(at.card, at.folder, at.oid, status) != 0;
          },
          nullptr,
          [](const Location& at) {
            return MMSMsgStore_DeleteMessage(at.card, at.folder, at.oid) != 0;
          },
          [](bool card, DWORD folder) { return MMSMsgStore_EmptyFolder(card, folder) != 0; },
          nullptr,
          MMSMsgStore_GetFolderMessageCount,
          [](bool card, DWORD folder, CMsgList& out) {
            MMSMsgStore_GetMessageList(card, folder, out);
          },
          [](DWORD folder, CMsgList& out) { MMSMsgStore_GetQuickMsgList(out, folder); },
          [] { MMSMsgStore_RefreshIniFiles(); },
      },
      Summary,
  };
  return kStore;
}

}  // namespace tool
