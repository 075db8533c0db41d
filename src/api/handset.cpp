// Each store's handset operations behind the API's one signature.
#include "api/handset.h"

namespace msgstore {
namespace api {
namespace {

const Handset kSms = {
    [](tagMSGPROPS* props, OwnRecord*) { EMSMsgStore_FreeMsgProps(props); },
    EMSMsgStore_CreateDir,
    EMSMsgStore_GetFolderPath,
    [](const Location& at, WCHAR* path) {
      return EMSMsgStore_GetFilePath(at.card, at.id, at.folder, path);
    },
    [](const Location& at, int position, bool withContent, tagMSGPROPS* props, OwnRecord*) {
      return EMSMsgStore_ReadFolderMessage(at.card, at.folder, position, position < 0 ? at.id : 0,
                                           withContent, props) != 0;
    },
    [](bool card, tagMSGPROPS* props, OwnRecord*, DWORD existing, int32_t* storage) {
      return EMSMsgStore_WriteMessage(card, props, existing, storage);
    },
    [](const StoreDescription&, const Location&, DWORD, const tagMSGPROPS&, const OwnRecord&) {
      return std::string();
    },
    [](const Location& at, DWORD to, int32_t* storage) {
      return EMSMsgStore_SetFolder(at.card, at.folder, at.id, to, storage, nullptr) != 0;
    },
    [](const Location& at, bool read) {
      return EMSMsgStore_SetRead(at.card, at.folder, at.id, read ? 1 : 0) != 0;
    },
    [](const Location& at, WORD status) {
      return EMSMsgStore_SetStatus(at.card, at.folder, at.id, status) != 0;
    },
    nullptr,
    [](const Location& at) { return EMSMsgStore_DeleteMessage(at.card, at.folder, at.id) != 0; },
    [](bool card, DWORD folder, DWORD) { return EMSMsgStore_EmptyFolder(card, folder) != 0; },
    EmsMsgStore_RefreshIniFiles,
};

const Handset kMms = {
    [](tagMSGPROPS* props, OwnRecord* own) { MMSMsgStore_FreeMsgProps(props, &own->mms); },
    MMSMsgStore_CreateDir,
    MMSMsgStore_GetFolderPath,
    [](const Location& at, WCHAR* path) {
      return MMSMsgStore_GetFilePath(at.card, at.id, at.folder, path);
    },
    [](const Location& at, int position, bool withContent, tagMSGPROPS* props, OwnRecord* own) {
      return MMSMsgStore_ReadFolderMessage(at.card, at.folder, position, position < 0 ? at.id : 0,
                                           withContent, props, &own->mms) != 0;
    },
    [](bool card, tagMSGPROPS* props, OwnRecord* own, DWORD existing, int32_t* storage) {
      DWORD value = static_cast<DWORD>(*storage);
      const DWORD id = MMSMsgStore_WriteMessage(card, props, &own->mms, existing, &value);
      *storage = static_cast<int32_t>(value);
      return id;
    },
    [](const StoreDescription&, const Location&, DWORD, const tagMSGPROPS&, const OwnRecord&) {
      return std::string();
    },
    [](const Location& at, DWORD to, int32_t* storage) {
      DWORD id = at.id;
      DWORD value = static_cast<DWORD>(STORAGE_AUTO);
      const bool moved = MMSMsgStore_SetFolder(at.card, at.folder, &id, to, &value) != 0;
      *storage = static_cast<int32_t>(value);
      return moved;
    },
    [](const Location& at, bool read) {
      return MMSMsgStore_SetReadStatus(at.card, at.folder, at.id, read ? 1 : 0) != 0;
    },
    [](const Location& at, WORD status) {
      return MMSMsgStore_SetStatus(at.card, at.folder, at.id, status) != 0;
    },
    nullptr,
    [](const Location& at) { return MMSMsgStore_DeleteMessage(at.card, at.folder, at.id) != 0; },
    [](bool card, DWORD folder, DWORD) { return MMSMsgStore_EmptyFolder(card, folder) != 0; },
    MMSMsgStore_RefreshIniFiles,
};

// The e-mail store reaches an inbox message through the Inbox twin of each
// operation, by the account its file is named by.
bool InInbox(const Location& at) { return at.folder == EMAIL_FOLDER_INBOX; }

std::string EmailMoveRefused(const StoreDescription& s, const Location& at, DWORD to,
                             const tagMSGPROPS&, const OwnRecord& own) {
  if (InInbox(at) && to != EMAIL_FOLDER_SPAM)
    return "the e-mail store moves inbox messages to spam only";
  if (to == EMAIL_FOLDER_INBOX && own.email.dwAccountId < s.firstAccountFolder)
    return "the message belongs to no account (account " + std::to_string(own.email.dwAccountId) +
           "): it cannot go to the inbox";
  return "";
}

bool EmailMove(const Location& at, DWORD to, int32_t*) {
  // The store reports no storage of a move.
  const int moved = InInbox(at) ? EmailMsgStore_MoveInboxToSpam(at.card, at.account, at.id)
                    : to == EMAIL_FOLDER_INBOX && at.folder == EMAIL_FOLDER_SPAM
                        ? EmailMsgStore_RestoreMessageToInbox(at.card, at.id)
                        : EmailMsgStore_SetFolder(at.card, at.folder, at.id, to);
  return moved != 0;
}

const Handset kEmail = {
    [](tagMSGPROPS* props, OwnRecord* own) { EmailMsgStore_FreeMsgProps(props, &own->email); },
    EmailMsgStore_CreateDir,
    EmailMsgStore_GetFolderPath,
    [](const Location& at, WCHAR* path) {
      return InInbox(at) ? EmailMsgStore_GetFilePathInbox(at.card, at.id, at.account, path)
                         : EmailMsgStore_GetFilePath(at.card, at.id, at.folder, path);
    },
    [](const Location& at, int position, bool withContent, tagMSGPROPS* props, OwnRecord* own) {
      if (InInbox(at))
        return EmailMsgStore_ReadFolderMessageInbox(at.card, at.account, position,
                                                    position < 0 ? at.id : 0, withContent, props,
                                                    &own->email) != 0;
      return EmailMsgStore_ReadFolderMessage(at.card, at.folder, position, position < 0 ? at.id : 0,
                                             withContent, props, &own->email) != 0;
    },
    [](bool card, tagMSGPROPS* props, OwnRecord* own, DWORD existing, int32_t* storage) {
      return EmailMsgStore_WriteMessage(card, props, &own->email, existing, storage);
    },
    EmailMoveRefused,
    EmailMove,
    [](const Location& at, bool read) {
      const int value = read ? 1 : 0;
      return (InInbox(at) ? EmailMsgStore_SetReadStatusInbox(at.card, at.account, at.id, value)
                          : EmailMsgStore_SetReadStatus(at.card, at.folder, at.id, value)) != 0;
    },
    [](const Location& at, WORD status) {
      return (InInbox(at) ? EmailMsgStore_SetStatusInbox(at.card, at.account, at.id, status)
                          : EmailMsgStore_SetStatus(at.card, at.folder, at.id, status)) != 0;
    },
    [](const Location& at, int32_t status) {
      return (InInbox(at)
                  ? EmailMsgStore_SetReadReportStatusInbox(at.card, at.account, at.id, status)
                  : EmailMsgStore_SetReadReportStatus(at.card, at.folder, at.id, status)) != 0;
    },
    [](const Location& at) {
      return (InInbox(at) ? EmailMsgStore_DeleteMessageInbox(at.card, at.account, at.id)
                          : EmailMsgStore_DeleteMessage(at.card, at.folder, at.id)) != 0;
    },
    [](bool card, DWORD folder, DWORD account) {
      return (folder == EMAIL_FOLDER_INBOX && account != 0
                  ? EmailMsgStore_EmptyFolderInbox(card, account)
                  : EmailMsgStore_EmptyFolder(card, folder)) != 0;
    },
    EmailMsgStore_RefreshIniFiles,
};

}  // namespace

const Handset& HandsetOf(StoreKind kind) {
  switch (kind) {
    case StoreKind::kSms:
      return kSms;
    case StoreKind::kMms:
      return kMms;
    case StoreKind::kEmail:
      break;
  }
  return kEmail;
}

}  // namespace api
}  // namespace msgstore
