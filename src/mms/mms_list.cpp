// Listing, reading and counting MMS messages by their folder directories,
// and the rebuild of missing phone index files. The MMS store's own rules:
// full listings mark every entry with folder 2; the search by identifier
// goes INBOX, AUTODOWNLOAD, DRAFT, SENT, UNSENT, SPAM, REPORT and stops at
// the first folder that the storage refuses; the refresh builds only index
// files that are missing.
#include <string>

#include "common/dir_scan.h"
#include "common/msg_str.h"
#include "common/replace_file.h"
#include "mms/mms_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::mms::kStore;

const WCHAR* const kMessagePattern = kStore.messagePattern;

// What full listings put in byFolder, whatever the folder.
constexpr BYTE kListingMark = 2;

}  // namespace

DWORD MMSMsgStore_GetFolderMessageCount(bool storage, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!MMSMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  return static_cast<DWORD>(
      msgstore::ScanDir(dir, kMessagePattern, [](const WCHAR*) { return true; }));
}

DWORD MMSMsgStore_GetMessageList(bool storage, DWORD folder,
                                 CArray<tagOidArray, tagOidArray>& list) {
  WCHAR dir[MAX_PATH] = {};
  if (!MMSMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  return msgstore::ListDir(dir, kMessagePattern, storage ? 1 : 0, kListingMark, list);
}

int MMSMsgStore_ReadFolderMessage(bool storage, DWORD folder, int position, DWORD messageId,
                                  bool withBody, tagMSGPROPS* props, tagMMSMSGPROPS* mms) {
  WCHAR path[MAX_PATH] = {};
  if (messageId != 0) {
    if (!MMSMsgStore_GetFilePath(storage, messageId, folder, path)) return 0;
    return MMSMsgStore_ReadFromFile(path, props, mms, withBody);
  }
  WCHAR dir[MAX_PATH] = {};
  if (!MMSMsgStore_GetFolderPath(storage, folder, dir)) return 0;
  std::u16string name;
  if (!msgstore::NameAtPosition(dir, kMessagePattern, position, &name)) return 0;
  msgstore::CopyPath(path, msgstore::JoinPath(dir, name));
  return MMSMsgStore_ReadFromFile(path, props, mms, withBody);
}

int MMSMsgStore_ReadMessage(bool storage, DWORD messageId, bool withBody, tagMSGPROPS* props,
                            tagMMSMSGPROPS* mms) {
  for (DWORD folder : kStore.searched) {
    WCHAR path[MAX_PATH] = {};
    if (!MMSMsgStore_GetFilePath(storage, messageId, folder, path)) return 0;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
    return MMSMsgStore_ReadFromFile(path, props, mms, withBody) ? 1 : 0;
  }
  return 0;
}

int MMSMsgStore_RefreshIniFiles() {
  // Files that writers which died left half made go first.
  msgstore::RemoveStaleTempFiles(kStore.phoneRoot);
  msgstore::RemoveStaleTempFiles(kStore.cardRoot);
  // 0 tells that an index could not be made whole.
  return msgstore::RebuildMissingIndexes(msgstore::mms::kStoreOps, kStore.refreshed,
                                         msgstore::mms::IndexPath)
             ? 1
             : 0;
}
