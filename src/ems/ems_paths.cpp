// EMS folder tree and paths. The EMS store's own rules:
// - REPORT lives in phone memory only;
// - the SIM copies (7, 12, 13) have no card directory, but a file path asked
//   for with the card selector names the phone file;
// - NONE is the phone directory whatever the selector.
#include <string>

#include "common/folder_tree.h"
#include "common/msg_str.h"
#include "ems/ems_internal.h"

namespace {

using msgstore::FolderDef;
using msgstore::OnCard;

// In the order in which the phone tree is made.
constexpr FolderDef kFolders[] = {
    {EMS_FOLDER_INBOX, u"INBOX", OnCard::kOwn, true},
    {EMS_FOLDER_DRAFT, u"DRAFT", OnCard::kOwn, true},
    {EMS_FOLDER_SENT, u"SENT", OnCard::kOwn, true},
    {EMS_FOLDER_UNSENT, u"UNSENT", OnCard::kOwn, true},
    {EMS_FOLDER_REPORT, u"REPORT", OnCard::kNone, true},
    {EMS_FOLDER_SPAM, u"SPAM", OnCard::kOwn, true},
    {EMS_FOLDER_NONE, u"NONE", OnCard::kPhone, true},
    {EMS_FOLDER_SIM_INBOX, u"SIM_INBOX", OnCard::kPhoneFile, true},
    {EMS_FOLDER_SIM_SENT, u"SIM_SENT", OnCard::kPhoneFile, true},
    {EMS_FOLDER_SIM_UNSENT, u"SIM_UNSENT", OnCard::kPhoneFile, true},
};

constexpr msgstore::FolderTree kTree = {msgstore::ems::kPhoneRoot, msgstore::ems::kCardRoot,
                                        kFolders, sizeof kFolders / sizeof kFolders[0], u".sms"};

}  // namespace

int EMSMsgStore_CreateDir(bool bMemoryCard) {
  kTree.Create(bMemoryCard);
  return 1;
}

int EMSMsgStore_GetFolderPath(bool bMemoryCard, DWORD folder, WCHAR* path) {
  return msgstore::CopyFolderPath(kTree, bMemoryCard, folder, path);
}

int EMSMsgStore_GetFilePath(bool bMemoryCard, DWORD oid, DWORD folder, WCHAR* path) {
  return msgstore::CopyFilePath(kTree, bMemoryCard, oid, folder, path);
}

namespace msgstore {
namespace ems {

DWORD IndexFolderOf(DWORD folder) {
  switch (folder) {
    case EMS_FOLDER_SIM_INBOX:
      return EMS_FOLDER_INBOX;
    case EMS_FOLDER_SIM_SENT:
      return EMS_FOLDER_SENT;
    case EMS_FOLDER_SIM_UNSENT:
      return EMS_FOLDER_UNSENT;
    default:
      return folder;
  }
}

bool IndexPath(DWORD folder, WCHAR* path) { return kTree.IndexPath(folder, kIndexName, path); }

}  // namespace ems
}  // namespace msgstore
