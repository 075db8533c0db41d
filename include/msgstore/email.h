// The e-mail message store and account store.
#ifndef MSGSTORE_EMAIL_H_
#define MSGSTORE_EMAIL_H_

#include "msgstore/types.h"

// Folder identifiers.
#define EMAIL_FOLDER_INBOX 1
#define EMAIL_FOLDER_DRAFT 2
#define EMAIL_FOLDER_SENT 3
#define EMAIL_FOLDER_UNSENT 4
#define EMAIL_FOLDER_REPORT 5
#define EMAIL_FOLDER_SPAM 6
#define EMAIL_FOLDER_NONE 8

#define EMAIL_MAX_FOLDER_MESSAGES 100

// ---------------------------------------------------------------------------
// E-mail message store. Operations are exported under their C++ names;
// GetEmailInboxUnreadMsgsCount under its plain name. A folder value of 12 or
// more given to the index operations and the quick read names the INBOX of
// the account with that identifier.
// ---------------------------------------------------------------------------

// Records
MSGSTORE_API void EmailMsgStore_FreeMsgProps(tagMSGPROPS* msg, tagEMAILMSGPROPS* email);

// Folder layout and paths
MSGSTORE_API int EmailMsgStore_CreateDir(bool storage);
MSGSTORE_API int EmailMsgStore_GetFolderPath(bool storage, DWORD folder, WCHAR* path);
MSGSTORE_API int EmailMsgStore_GetFilePath(bool storage, DWORD messageId, DWORD folder,
                                           WCHAR* path);
MSGSTORE_API int EmailMsgStore_GetFilePathInbox(bool storage, DWORD messageId, DWORD accountId,
                                                WCHAR* path);

// Message files
MSGSTORE_API int EmailMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email);
MSGSTORE_API int EmailMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* msg, tagEMAILMSGPROPS* email,
                                            bool withContent);
MSGSTORE_API int EmailMsgStore_QuickReadFromFile(bool storage, DWORD folder, DWORD messageId,
                                                 tagMSGPROPS* msg);
MSGSTORE_API int EmailMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* msg,
                                              tagEMAILMSGPROPS* email);
MSGSTORE_API int EmailMsgStore_ReadFromFileOld(WCHAR* path, tagMSGPROPS* msg,
                                               tagEMAILMSGPROPS* email, bool withContent);

// Folder index files
MSGSTORE_API void EmailMsgStore_AddMsgToIni(DWORD messageId, DWORD folder, FILETIME indexTime);
MSGSTORE_API void EmailMsgStore_DeleteMsgFromIni(DWORD messageId, DWORD folder);
MSGSTORE_API DWORD EmailMsgStore_GetQuickMsgList(CArray<tagOidArray, tagOidArray>& list,
                                                 DWORD folder);

// Writing and identifier allocation
MSGSTORE_API DWORD EmailMsgStore_WriteMessage(bool storage, tagMSGPROPS* msg,
                                              tagEMAILMSGPROPS* email, DWORD existingId,
                                              int* storageInOut);
MSGSTORE_API DWORD EmailMsgStore_GetLastRecord(bool storage, DWORD folder, DWORD* count);

// Updates, spam, deletion
MSGSTORE_API int EmailMsgStore_SetStatus(bool storage, DWORD folder, DWORD messageId, WORD status);
MSGSTORE_API int EmailMsgStore_SetStatusInbox(bool storage, DWORD accountId, DWORD messageId,
                                              WORD status);
MSGSTORE_API int EmailMsgStore_SetReadStatus(bool storage, DWORD folder, DWORD messageId, int read);
MSGSTORE_API int EmailMsgStore_SetReadStatusInbox(bool storage, DWORD accountId, DWORD messageId,
                                                  int read);
MSGSTORE_API int EmailMsgStore_SetReadReportStatus(bool storage, DWORD folder, DWORD messageId,
                                                   int status);
MSGSTORE_API int EmailMsgStore_SetReadReportStatusInbox(bool storage, DWORD accountId,
                                                        DWORD messageId, int status);
MSGSTORE_API int EmailMsgStore_SetFolder(bool storage, DWORD folder, DWORD messageId,
                                         DWORD newFolder);
MSGSTORE_API int EmailMsgStore_MoveInboxToSpam(bool storage, DWORD accountId, DWORD messageId);
MSGSTORE_API int EmailMsgStore_RestoreMessageToInbox(bool storage, DWORD messageId);
MSGSTORE_API int EmailMsgStore_DeleteMessage(bool storage, DWORD folder, DWORD messageId);
MSGSTORE_API int EmailMsgStore_DeleteMessageInbox(bool storage, DWORD accountId, DWORD messageId);
MSGSTORE_API int EmailMsgStore_EmptyFolder(bool storage, DWORD folder);
MSGSTORE_API int EmailMsgStore_EmptyFolderInbox(bool storage, DWORD accountId);

// Listing, reading, counting, index refresh
MSGSTORE_API int EmailMsgStore_ReadFolderMessage(bool storage, DWORD folder, int index,
                                                 DWORD messageId, bool withContent,
                                                 tagMSGPROPS* msg, tagEMAILMSGPROPS* email);
MSGSTORE_API int EmailMsgStore_ReadFolderMessageInbox(bool storage, DWORD accountId, int index,
                                                      DWORD messageId, bool withContent,
                                                      tagMSGPROPS* msg, tagEMAILMSGPROPS* email);
MSGSTORE_API DWORD EmailMsgStore_GetMessageList(bool storage, DWORD folder,
                                                CArray<tagOidArray, tagOidArray>& list);
MSGSTORE_API DWORD EmailMsgStore_GetMessageListInbox(bool storage, DWORD accountId,
                                                     CArray<tagOidArray, tagOidArray>& list);
MSGSTORE_API DWORD EmailMsgStore_GetFolderMessageCount(bool storage, DWORD folder);
MSGSTORE_API int EmailMsgStore_GetFolderMessageCountInbox(bool storage, DWORD accountId,
                                                          DWORD* count);
MSGSTORE_API DWORD EmailMsgStore_GetUnreadMsgCount(bool storage, DWORD accountId);
MSGSTORE_API int EmailMsgStore_RefreshIniFiles();
extern "C" MSGSTORE_API DWORD GetEmailInboxUnreadMsgsCount();

// ---------------------------------------------------------------------------
// E-mail account store. The accounts live in one array per process, loaded
// from "\DiskOnChip\User\MESSAGING\EmailAccMsgStore.db" by
// EmailAccMsgStore_Open and saved to it only by EmailMsgStore_Close; every
// other operation works on the array in memory. The store handle names that
// array: every operation acts on the process's one array whatever handle it
// is given. Strings read into a tagEMAILACCOUNTPROPS are the caller's, to be
// released with free.
// ---------------------------------------------------------------------------

MSGSTORE_API int EmailAccMsgStore_Create();
MSGSTORE_API int EmailAccMsgStore_Open(HANDLE* store);
MSGSTORE_API int EmailMsgStore_Close(HANDLE store);
// accountId 0 takes a new identifier from the registry counter.
MSGSTORE_API DWORD EmailMsgStore_WriteAccountData(HANDLE store, tagEMAILACCOUNTPROPS* account,
                                                  DWORD accountId);
MSGSTORE_API DWORD EmailMsgStore_GetAccountMessageCount(HANDLE store, DWORD folder);
MSGSTORE_API int EmailMsgStore_ReadFolderAccount(HANDLE store, DWORD folder, DWORD index,
                                                 tagEMAILACCOUNTPROPS* account);
MSGSTORE_API int EmailMsgStore_ReadFolderAccount(HANDLE store, DWORD accountId,
                                                 tagEMAILACCOUNTPROPS* account);
MSGSTORE_API int EmailMsgStore_EmptyFolderAccount(HANDLE store, DWORD folder);
MSGSTORE_API int EmailMsgStore_SetFolderCount(HANDLE store, DWORD accountId, WORD count);
MSGSTORE_API int EmailMsgStore_DeleteAccount(HANDLE store, DWORD accountId);

#endif  // MSGSTORE_EMAIL_H_
