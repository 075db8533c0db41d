// Listing, reading and counting EMS messages, the card INBOX unread count
// and the rebuild of the phone index files.
#include <string>

#include "common/dir_scan.h"
#include "common/msg_str.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"

namespace {

using msgstore::GetPlatform;
using msgstore::ScopedMsgProps;
using msgstore::ems::kStore;

const WCHAR* const kMessagePattern = kStore.messagePattern;

constexpr const WCHAR* kPictogramSource = u"\\DiskOnChipROM\\cvPictogram.dll";
constexpr const WCHAR* kPictogramCopy = u"\\DiskOnChip\\Corvane.conf";

// False when an index record could not be written or the folder could not
// be listed whole.
bool IndexPhoneFolder(DWORD folder) {
  const unsigned long unread = msgstore::ListingFailures();
  CMsgList list;
  EMSMsgStore_GetMessageList(false, folder, list);
  return msgstore::IndexListed(msgstore::ems::kStoreOps, list, folder, nullptr) &&
         msgstore::ListingFailures() == unread;
}

// INBOX and SIM_INBOX also set the phone's received and read counters.
bool IndexInboxFolder(DWORD folder) {
  const unsigned long unread = msgstore::ListingFailures();
  CMsgList list;
  const DWORD count = EMSMsgStore_GetMessageList(false, folder, list);
  GetPlatform().xSetEmsRecvMsgCount(static_cast<int>(count));
  return msgstore::IndexListed(msgstore::ems::kStoreOps, list, folder,
                               [] { GetPlatform().xSetEmsReadMsgCount(1); }) &&
         msgstore::ListingFailures() == unread;
}

// The card has no index: only its counters are set up again.
void RecountCardInbox() {
  CMsgList list;
  const DWORD count = EMSMsgStore_GetMessageList(true, EMS_FOLDER_INBOX, list);
  GetPlatform().xSetEms_SDRecvMsgCount(static_cast<int>(count));
  for (long i = 0; i < list.GetSize(); ++i) {
    ScopedMsgProps record;
    EMSMsgStore_QuickReadFromFile(true, EMS_FOLDER_INBOX, list[i].dwOid, record.get());
    if (record->bRead != 0) GetPlatform().xSetEms_SDReadMsgCount(1);
  }
}

// False when an index stays that could not be deleted.
bool DeleteIndex(DWORD folder) {
  WCHAR path[MAX_PATH];
  return !msgstore::ems::IndexPath(folder, path) || DeleteFileW(path) ||
         GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
}

bool IndexExists(DWORD folder) {
  WCHAR path[MAX_PATH];
  return msgstore::ems::IndexPath(folder, path) &&
         GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// An index that exists is trusted as it is; a missing one is built.
bool IndexFolderIfMissing(DWORD folder) { return IndexExists(folder) || IndexPhoneFolder(folder); }

}  // namespace

DWORD EMSMsgStore_GetMessageList(bool bMemoryCard, DWORD folder,
                                 CArray<tagOidArray, tagOidArray>& list) {
  WCHAR dir[MAX_PATH] = {};
  if (!EMSMsgStore_GetFolderPath(bMemoryCard, folder, dir)) return 0;
  return msgstore::ListDir(dir, kMessagePattern, bMemoryCard ? 1 : 0, static_cast<BYTE>(folder),
                           list);
}

int EMSMsgStore_ReadFolderMessage(bool bMemoryCard, DWORD folder, int position, DWORD oid,
                                  bool bWithContent, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  WCHAR path[MAX_PATH] = {};
  if (oid != 0) {
    if (!EMSMsgStore_GetFilePath(bMemoryCard, oid, folder, path)) return 0;
    return EMSMsgStore_ReadFromFile(path, props, bWithContent);
  }
  WCHAR dir[MAX_PATH] = {};
  if (!EMSMsgStore_GetFolderPath(bMemoryCard, folder, dir)) return 0;
  std::u16string name;
  if (!msgstore::NameAtPosition(dir, kMessagePattern, position, &name)) return 0;
  msgstore::CopyPath(path, msgstore::JoinPath(dir, name));
  return EMSMsgStore_ReadFromFile(path, props, bWithContent);
}

int EMSMsgStore_ReadMessage(bool bMemoryCard, DWORD oid, bool bWithContent, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  for (DWORD folder : kStore.searched) {
    // The card is searched in its own directories only.
    if (bMemoryCard && !kStore.Folder(folder)->onCard()) continue;
    WCHAR path[MAX_PATH] = {};
    if (!EMSMsgStore_GetFilePath(bMemoryCard, oid, folder, path)) continue;
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
    return EMSMsgStore_ReadFromFile(path, props, bWithContent) ? 1 : 0;
  }
  return 0;
}

DWORD EMSMsgStore_GetFolderMessageCount(bool bMemoryCard, DWORD folder) {
  WCHAR dir[MAX_PATH] = {};
  if (!EMSMsgStore_GetFolderPath(bMemoryCard, folder, dir)) return 0;
  return static_cast<DWORD>(
      msgstore::ScanDir(dir, kMessagePattern, [](const WCHAR*) { return true; }));
}

DWORD GetEMSPhoneInboxMsgCount() {
  return EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_INBOX);
}

DWORD GetEMSSDInboxMsgCount() { return EMSMsgStore_GetFolderMessageCount(true, EMS_FOLDER_INBOX); }

DWORD GetEMSInboxMsgCount() { return GetEMSPhoneInboxMsgCount() + GetEMSSDInboxMsgCount(); }

unsigned int GetEMSSimMsgCount() {
  return EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_SIM_INBOX) +
         EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_SIM_SENT) +
         EMSMsgStore_GetFolderMessageCount(false, EMS_FOLDER_SIM_UNSENT);
}

DWORD GetEMSInboxUnreadMsgsCount() {
  // The first run's set-up reads the card counters and then sets them.
  msgstore::NamedLock counters(kStore.countersMutex, false);
  msgstore::Platform& platform = GetPlatform();
  // Card counters that were never set up are set up on this run.
  const DWORD received = platform.xGetEms_SDRecvMsgCount();
  const DWORD read = platform.xGetEms_SDReadMsgCount();
  const bool firstRun = received + read == 0;
  EMSMsgStore_CreateDir(false);
  EMSMsgStore_CreateDir(true);
  const DWORD count = EMSMsgStore_GetFolderMessageCount(true, EMS_FOLDER_INBOX);
  if (firstRun) platform.xSetEms_SDRecvMsgCount(static_cast<int>(count));
  DWORD unread = 0;
  for (DWORD position = 0; position < count; ++position) {
    ScopedMsgProps record;
    if ((platform.xGetSDCardState() & 1) == 0) break;  // the card went away
    if (!EMSMsgStore_ReadFolderMessage(true, EMS_FOLDER_INBOX, static_cast<int>(position), 0, false,
                                       record.get())) {
      continue;
    }
    if (record->bRead == 0) {
      ++unread;
    } else if (firstRun) {
      platform.xSetEms_SDReadMsgCount(1);
    }
  }
  CopyFileW(kPictogramSource, kPictogramCopy, FALSE);
  return unread;
}

int EmsMsgStore_RefreshIniFiles() {
  // Files that writers which died left half made go first.
  msgstore::RemoveStaleTempFiles(kStore.phoneRoot);
  msgstore::RemoveStaleTempFiles(kStore.cardRoot);
  // Every step is taken, each in its turn; 0 tells that an index could not
  // be made whole. An index rebuilt always is made again from its own folder
  // and the folders indexed with it; any other is trusted when it exists.
  bool whole = true;
  for (DWORD folder : kStore.refreshed) {
    if (!kStore.Folder(folder)->rebuiltAlways) {
      whole = IndexFolderIfMissing(folder) && whole;
      continue;
    }
    whole = DeleteIndex(folder) && whole;
    for (const msgstore::FolderDescription& member : kStore) {
      if (member.indexFolder != folder) continue;
      whole = (folder == EMS_FOLDER_INBOX ? IndexInboxFolder(member.number)
                                          : IndexPhoneFolder(member.number)) &&
              whole;
    }
    if (folder == EMS_FOLDER_INBOX && (GetPlatform().xGetSDCardState() & 1) != 0)
      RecountCardInbox();
  }
  return whole ? 1 : 0;
}

DWORD EMSMsgStore_UpdateContactList(void* /*contacts*/) { return 0; }
