// MMS folder tree and paths. The MMS store's own rules:
// - REPORT lives in phone memory only;
// - AUTODOWNLOAD is the phone directory whatever the selector, so the card
//   selector acts on phone memory there;
// - NONE has file paths (always the phone directory) but no folder path: its
//   messages are reached by identifier and cannot be listed, counted or
//   emptied.
#include <string>

#include "common/msg_str.h"
#include "mms/mms_internal.h"

namespace {

using msgstore::FolderDef;
using msgstore::OnCard;

// In the order in which the phone tree is made.
constexpr FolderDef kFolders[] = {
    {MMS_FOLDER_INBOX, u"INBOX", OnCard::kOwn, true},
    {MMS_FOLDER_DRAFT, u"DRAFT", OnCard::kOwn, true},
    {MMS_FOLDER_SENT, u"SENT", OnCard::kOwn, true},
    {MMS_FOLDER_UNSENT, u"UNSENT", OnCard::kOwn, true},
    {MMS_FOLDER_REPORT, u"REPORT", OnCard::kNone, true},
    {MMS_FOLDER_SPAM, u"SPAM", OnCard::kOwn, true},
    {MMS_FOLDER_AUTODOWNLOAD, u"AUTODOWNLOAD", OnCard::kPhone, true},
    {MMS_FOLDER_NONE, u"NONE", OnCard::kPhone, false},
};

constexpr msgstore::FolderTree kTree = {msgstore::mms::kPhoneRoot, msgstore::mms::kCardRoot,
                                        kFolders, sizeof kFolders / sizeof kFolders[0], u".mms"};

}  // namespace

int MMSMsgStore_CreateDir(bool storage) {
  kTree.Create(storage);
  return 1;
}

int MMSMsgStore_GetFolderPath(bool storage, DWORD folder, WCHAR* path) {
  return msgstore::CopyFolderPath(kTree, storage, folder, path);
}

int MMSMsgStore_GetFilePath(bool storage, DWORD messageId, DWORD folder, WCHAR* path) {
  return msgstore::CopyFilePath(kTree, storage, messageId, folder, path);
}

namespace msgstore {
namespace mms {

const FolderTree& Tree() { return kTree; }

bool IndexPath(DWORD folder, WCHAR* path) { return kTree.IndexPath(folder, kIndexName, path); }

DWORD GetNextMmsOid() { return NextId(kCounter); }

}  // namespace mms
}  // namespace msgstore
