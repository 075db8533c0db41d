// The MMS message store.
#ifndef MSGSTORE_MMS_H_
#define MSGSTORE_MMS_H_

#include "msgstore/types.h"

// Folder identifiers.
#define MMS_FOLDER_INBOX 1
#define MMS_FOLDER_DRAFT 2
#define MMS_FOLDER_SENT 3
#define MMS_FOLDER_UNSENT 4
#define MMS_FOLDER_REPORT 5
#define MMS_FOLDER_SPAM 6
#define MMS_FOLDER_NONE 8
#define MMS_FOLDER_AUTODOWNLOAD 11

#define MMS_MAX_FOLDER_MESSAGES 100

// Every MMS operation is exported under its plain name, for callers that
// bind to them by name.
extern "C" {

// Records
MSGSTORE_API void MMSMsgStore_FreeMsgProps(tagMSGPROPS* props, tagMMSMSGPROPS* mms);

// Folder layout and paths
MSGSTORE_API int MMSMsgStore_CreateDir(bool storage);
MSGSTORE_API int MMSMsgStore_GetFolderPath(bool storage, DWORD folder, WCHAR* path);
MSGSTORE_API int MMSMsgStore_GetFilePath(bool storage, DWORD messageId, DWORD folder, WCHAR* path);

// Message files
MSGSTORE_API int MMSMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms);
MSGSTORE_API int MMSMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms,
                                          bool withBody);
MSGSTORE_API int MMSMsgStore_QuickReadFromFile(bool storage, DWORD folder, DWORD messageId,
                                               tagMSGPROPS* props);
MSGSTORE_API int MMSMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms);
MSGSTORE_API int MMSMsgStore_ReadFromFileOld(const WCHAR* path, tagMSGPROPS* props,
                                             tagMMSMSGPROPS* mms, bool withBody);

// Folder index files
MSGSTORE_API void MMSMsgStore_AddMsgToIni(DWORD messageId, DWORD folder, FILETIME time);
MSGSTORE_API void MMSMsgStore_DeleteMsgFromIni(DWORD messageId, DWORD folder);
MSGSTORE_API DWORD MMSMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list,
                                               DWORD folder);

// Writing and identifier allocation
MSGSTORE_API DWORD MMSMsgStore_WriteMessage(bool storage, tagMSGPROPS* props, tagMMSMSGPROPS* mms,
                                            DWORD existingId, DWORD* storageInOut);
MSGSTORE_API DWORD MMSMsgStore_GetLastRecord(bool storage, DWORD folder, DWORD* count);

// Updates, deletion, emptying
MSGSTORE_API int MMSMsgStore_SetFolder(bool storage, DWORD fromFolder, DWORD* messageId,
                                       DWORD toFolder, DWORD* storageOut);
MSGSTORE_API DWORD MMSMsgStore_SetReadStatus(bool storage, DWORD folder, DWORD messageId,
                                             DWORD read);
MSGSTORE_API DWORD MMSMsgStore_SetStatus(bool storage, DWORD folder, DWORD messageId, int status);
MSGSTORE_API int MMSMsgStore_DeleteMessage(bool storage, DWORD folder, DWORD messageId);
MSGSTORE_API int MMSMsgStore_EmptyFolder(bool storage, DWORD folder);

// Listing, reading, counting, index refresh
MSGSTORE_API DWORD MMSMsgStore_GetFolderMessageCount(bool storage, DWORD folder);
MSGSTORE_API DWORD MMSMsgStore_GetMessageList(bool storage, DWORD folder,
                                              CArray<tagOidArray, tagOidArray>& list);
MSGSTORE_API int MMSMsgStore_ReadFolderMessage(bool storage, DWORD folder, int position,
                                               DWORD messageId, bool withBody, tagMSGPROPS* props,
                                               tagMMSMSGPROPS* mms);
MSGSTORE_API int MMSMsgStore_ReadMessage(bool storage, DWORD messageId, bool withBody,
                                         tagMSGPROPS* props, tagMMSMSGPROPS* mms);
MSGSTORE_API int MMSMsgStore_RefreshIniFiles();

// Unread messages of both inboxes; settles the automatic download folder.
MSGSTORE_API DWORD GetMMSInboxUnreadMsgsCount();

}  // extern "C"

#endif  // MSGSTORE_MMS_H_
