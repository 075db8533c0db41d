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
  // Every step is taken, each in its turn; an index is made whole in one
  // write or kept as it was, and 0 tells that an index could not be made
  // whole. An index rebuilt always is made again from its own folder and the
  // folders indexed with it; any other is trusted when it exists. INBOX and
  // SIM_INBOX also set the phone's received and read counters.
  using msgstore::ems::kStoreOps;
  bool whole = true;
  for (DWORD folder : kStore.refreshed) {
    if (!kStore.Folder(folder)->rebuiltAlways) {
      whole = msgstore::RebuildMissingIndexes(kStoreOps, {&folder, 1}, msgstore::ems::IndexPath) &&
              whole;
      continue;
    }
    std::vector<DWORD> members;
    for (const msgstore::FolderDescription& member : kStore)
      if (member.indexFolder == folder) members.push_back(member.number);
    if (folder != EMS_FOLDER_INBOX) {
      whole = msgstore::RebuildIndex(kStoreOps, members) && whole;
      continue;
    }
    whole = msgstore::RebuildIndex(
                kStoreOps, members,
                [](DWORD count) { GetPlatform().xSetEmsRecvMsgCount(static_cast<int>(count)); },
                [] { GetPlatform().xSetEmsReadMsgCount(1); }) &&
            whole;
    if ((GetPlatform().xGetSDCardState() & 1) != 0) RecountCardInbox();
  }
  return whole ? 1 : 0;
}

DWORD EMSMsgStore_UpdateContactList(void* /*contacts*/) { return 0; }
