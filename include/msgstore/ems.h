// The SMS/EMS message store.
#ifndef MSGSTORE_EMS_H_
#define MSGSTORE_EMS_H_

#include "msgstore/types.h"

// Folder identifiers.
#define EMS_FOLDER_INBOX 1
#define EMS_FOLDER_DRAFT 2
#define EMS_FOLDER_SENT 3
#define EMS_FOLDER_UNSENT 4
#define EMS_FOLDER_REPORT 5
#define EMS_FOLDER_SPAM 6
#define EMS_FOLDER_SIM_INBOX 7
#define EMS_FOLDER_NONE 8
#define EMS_FOLDER_SIM_SENT 12
#define EMS_FOLDER_SIM_UNSENT 13

#define EMS_MAX_FOLDER_MESSAGES 100

// Records
MSGSTORE_API void EMSMsgStore_FreeMsgProps(tagMSGPROPS* props);

// Folder layout and paths
MSGSTORE_API int EMSMsgStore_CreateDir(bool bMemoryCard);
MSGSTORE_API int EMSMsgStore_GetFolderPath(bool bMemoryCard, DWORD folder, WCHAR* path);
MSGSTORE_API int EMSMsgStore_GetFilePath(bool bMemoryCard, DWORD oid, DWORD folder, WCHAR* path);

// Message files
MSGSTORE_API int EMSMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* props);
MSGSTORE_API int EMSMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* props, bool bWithContent);
MSGSTORE_API int EMSMsgStore_QuickReadFromFile(bool bMemoryCard, DWORD folder, DWORD oid,
                                               tagMSGPROPS* props);
MSGSTORE_API int EMSMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* props);
MSGSTORE_API int EMSMsgStore_ReadFromFileOld(WCHAR* path, tagMSGPROPS* props, bool bWithContent);

// Folder index files
MSGSTORE_API void EMSMsgStore_AddMsgToIni(DWORD oid, DWORD folder, FILETIME ftIndexTime);
MSGSTORE_API void EMSMsgStore_DeleteMsgFromIni(DWORD oid, DWORD folder);
MSGSTORE_API DWORD EMSMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list,
                                               DWORD folder);

// Writing
MSGSTORE_API DWORD EMSMsgStore_WriteMessage(bool bMemoryCard, tagMSGPROPS* props,
                                            DWORD oidExisting, int* pStorage);
MSGSTORE_API DWORD EMSMsgStore_GetLastRecord(bool bMemoryCard, DWORD folder, DWORD* pCount);

// Updates, moves, deletion, emptying
MSGSTORE_API int EMSMsgStore_SetStatus(bool bMemoryCard, DWORD folder, DWORD oid, WORD status);
MSGSTORE_API int EMSMsgStore_SetRead(bool bMemoryCard, DWORD folder, DWORD oid, int read);
MSGSTORE_API int EMSMsgStore_SetTime(bool bMemoryCard, DWORD folder, DWORD oid, FILETIME time);
MSGSTORE_API int EMSMsgStore_SetSubject(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text);
MSGSTORE_API int EMSMsgStore_SetTo(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text);
MSGSTORE_API int EMSMsgStore_SetMsgID(bool bMemoryCard, DWORD folder, DWORD oid, WCHAR* text);
MSGSTORE_API int EMSMsgStore_SetFolder(bool bMemoryCard, DWORD folder, DWORD oid, DWORD newFolder,
                                       int* pStorage, DWORD* pNewOid);
MSGSTORE_API int EMSMsgStore_DeleteMessage(bool bMemoryCard, DWORD folder, DWORD oid);
MSGSTORE_API int EMSMsgStore_EmptyFolder(bool bMemoryCard, DWORD folder);

// Listing, reading, counting, index refresh
MSGSTORE_API DWORD EMSMsgStore_GetMessageList(bool bMemoryCard, DWORD folder,
                                              CArray<tagOidArray, tagOidArray>& list);
MSGSTORE_API int EMSMsgStore_ReadFolderMessage(bool bMemoryCard, DWORD folder, int position,
                                               DWORD oid, bool bWithContent, tagMSGPROPS* props);
MSGSTORE_API int EMSMsgStore_ReadMessage(bool bMemoryCard, DWORD oid, bool bWithContent,
                                         tagMSGPROPS* props);
MSGSTORE_API DWORD EMSMsgStore_GetFolderMessageCount(bool bMemoryCard, DWORD folder);
MSGSTORE_API unsigned int GetEMSSimMsgCount();
MSGSTORE_API int EmsMsgStore_RefreshIniFiles();
MSGSTORE_API DWORD EMSMsgStore_UpdateContactList(void* contacts);

extern "C" {
MSGSTORE_API DWORD GetEMSPhoneInboxMsgCount();
MSGSTORE_API DWORD GetEMSSDInboxMsgCount();
MSGSTORE_API DWORD GetEMSInboxMsgCount();
MSGSTORE_API DWORD GetEMSInboxUnreadMsgsCount();
}

#endif  // MSGSTORE_EMS_H_
