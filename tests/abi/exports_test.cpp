// The library as its callers link against it: the 106 operations under the
// names they are exported by, nothing internal beyond what the public
// headers declare, and loading that leaves the device root as it was.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "msgstore/msgstore.h"

namespace {

namespace fs = std::filesystem;

struct Operation {
  const char* name;
  void* address;
  bool plain;  // exported under its undecorated name
};

template <class F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
}

// clang-format off
#define D(f) {#f, Address(f), false}
#define P(f) {#f, Address(f), true}
const Operation kOperations[] = {
    D(EMSMsgStore_AddMsgToIni), D(EMSMsgStore_CreateDir), D(EMSMsgStore_DeleteMessage),
    D(EMSMsgStore_DeleteMsgFromIni), D(EMSMsgStore_EmptyFolder), D(EMSMsgStore_FreeMsgProps),
    D(EMSMsgStore_GetFilePath), D(EMSMsgStore_GetFolderMessageCount),
    D(EMSMsgStore_GetFolderPath), D(EMSMsgStore_GetLastRecord), D(EMSMsgStore_GetMessageList),
    D(EMSMsgStore_GetQuickMsgList), D(EMSMsgStore_QuickReadFromFile),
    D(EMSMsgStore_ReadFolderMessage), D(EMSMsgStore_ReadFromFile),
    D(EMSMsgStore_ReadFromFileOld), D(EMSMsgStore_ReadMessage), D(EMSMsgStore_SetFolder),
    D(EMSMsgStore_SetMsgID), D(EMSMsgStore_SetRead), D(EMSMsgStore_SetStatus),
    D(EMSMsgStore_SetSubject), D(EMSMsgStore_SetTime), D(EMSMsgStore_SetTo),
    D(EMSMsgStore_UpdateContactList), D(EMSMsgStore_WriteMessage), D(EMSMsgStore_WriteToFile),
    D(EMSMsgStore_WriteToFileOld), D(EmsMsgStore_RefreshIniFiles), D(GetEMSSimMsgCount),
    D(EmailAccMsgStore_Create), D(EmailAccMsgStore_Open), D(EmailMsgStore_AddMsgToIni),
    D(EmailMsgStore_Close), D(EmailMsgStore_CreateDir), D(EmailMsgStore_DeleteAccount),
    D(EmailMsgStore_DeleteMessage), D(EmailMsgStore_DeleteMessageInbox),
    D(EmailMsgStore_DeleteMsgFromIni), D(EmailMsgStore_EmptyFolder),
    D(EmailMsgStore_EmptyFolderAccount), D(EmailMsgStore_EmptyFolderInbox),
    D(EmailMsgStore_FreeMsgProps), D(EmailMsgStore_GetAccountMessageCount),
    D(EmailMsgStore_GetFilePath), D(EmailMsgStore_GetFilePathInbox),
    D(EmailMsgStore_GetFolderMessageCount), D(EmailMsgStore_GetFolderMessageCountInbox),
    D(EmailMsgStore_GetFolderPath), D(EmailMsgStore_GetLastRecord),
    D(EmailMsgStore_GetMessageList), D(EmailMsgStore_GetMessageListInbox),
    D(EmailMsgStore_GetQuickMsgList), D(EmailMsgStore_GetUnreadMsgCount),
    D(EmailMsgStore_MoveInboxToSpam), D(EmailMsgStore_QuickReadFromFile),
    D(EmailMsgStore_ReadFolderMessage), D(EmailMsgStore_ReadFolderMessageInbox),
    D(EmailMsgStore_ReadFromFile), D(EmailMsgStore_ReadFromFileOld),
    D(EmailMsgStore_RefreshIniFiles), D(EmailMsgStore_RestoreMessageToInbox),
    D(EmailMsgStore_SetFolder), D(EmailMsgStore_SetFolderCount),
    D(EmailMsgStore_SetReadReportStatus), D(EmailMsgStore_SetReadReportStatusInbox),
    D(EmailMsgStore_SetReadStatus), D(EmailMsgStore_SetReadStatusInbox),
    D(EmailMsgStore_SetStatus), D(EmailMsgStore_SetStatusInbox),
    D(EmailMsgStore_WriteAccountData), D(EmailMsgStore_WriteMessage),
    D(EmailMsgStore_WriteToFile), D(EmailMsgStore_WriteToFileOld),
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    P(GetEMSInboxMsgCount), P(GetEMSInboxUnreadMsgsCount), P(GetEMSPhoneInboxMsgCount),
    P(GetEMSSDInboxMsgCount), P(GetMMSInboxUnreadMsgsCount), P(MMSMsgStore_AddMsgToIni),
    P(MMSMsgStore_CreateDir), P(MMSMsgStore_DeleteMessage), P(MMSMsgStore_DeleteMsgFromIni),
    P(MMSMsgStore_EmptyFolder), P(MMSMsgStore_FreeMsgProps), P(MMSMsgStore_GetFilePath),
    P(MMSMsgStore_GetFolderMessageCount), P(MMSMsgStore_GetFolderPath),
    P(MMSMsgStore_GetLastRecord), P(MMSMsgStore_GetMessageList), P(MMSMsgStore_GetQuickMsgList),
    P(MMSMsgStore_QuickReadFromFile), P(MMSMsgStore_ReadFolderMessage),
    P(MMSMsgStore_ReadFromFile), P(MMSMsgStore_ReadFromFileOld), P(MMSMsgStore_ReadMessage),
    P(MMSMsgStore_RefreshIniFiles), P(MMSMsgStore_SetFolder), P(MMSMsgStore_SetReadStatus),
    P(MMSMsgStore_SetStatus), P(MMSMsgStore_WriteMessage), P(MMSMsgStore_WriteToFile),
    P(MMSMsgStore_WriteToFileOld), P(GetEmailInboxUnreadMsgsCount),
};
#undef D
#undef P
// clang-format on

// The defined dynamic symbols of the built library, demangled.
std::vector<std::string> ExportedSymbols() {
  std::vector<std::string> symbols;
  const std::string command = std::string("nm -D --defined-only '") + MSGSTORE_LIBRARY + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> nm(::popen(command.c_str(), "r"), ::pclose);
  char line[4096];
  while (nm && std::fgets(line, sizeof line, nm.get()) != nullptr) {
    std::string symbol(line);
    symbol =
        symbol.substr(symbol.rfind(' ') + 1, symbol.find_last_not_of("\r\n") - symbol.rfind(' '));
    int status = -1;
    std::unique_ptr<char, void (*)(void*)> text(
        abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), std::free);
    symbols.push_back(status == 0 && text ? std::string(text.get()) : symbol);
  }
  return symbols;
}

TEST(Exports, EveryOperationUnderItsPlainOrDecoratedName) {
  ASSERT_EQ(std::size(kOperations), 106u);
  std::set<std::string> symbols;
  for (const Operation& op : kOperations) {
    Dl_info info = {};
    ASSERT_TRUE(::dladdr(op.address, &info) != 0 && info.dli_sname != nullptr) << op.name;
    const std::string symbol = info.dli_sname;
    EXPECT_NE(std::string(info.dli_fname).find("libmsgstore"), std::string::npos) << op.name;
    // Decorated: "_Z", the length of the name, the name, then the parameter types.
    const std::string decorated = "_Z" + std::to_string(std::strlen(op.name)) + op.name;
    EXPECT_TRUE(op.plain ? symbol == op.name
                         : symbol.rfind(decorated, 0) == 0 && symbol.size() > decorated.size())
        << op.name << " is exported as " << symbol;
    EXPECT_TRUE(symbols.insert(symbol).second) << symbol << " twice";
  }
}

TEST(Exports, NothingInternalBeyondThePublicHeaders) {
  std::set<std::string> operations;
  for (const Operation& op : kOperations) operations.insert(op.name);
  // What include/msgstore/platform.h declares besides the operations.
  const std::set<std::string> platform = {
      "CreateFileW",         "ReadFile",           "WriteFile",        "GetFileSize",
      "SetFilePointer",      "CloseHandle",        "DeleteFileW",      "CopyFileW",
      "MoveFileExW",         "GetFileAttributesW", "CreateDirectoryW", "FindFirstFileW",
      "FindNextFileW",       "FindClose",          "CompareFileTime",  "Sleep",
      "GetCurrentProcessId", "IsProcessRunning",   "CreateMutexW",     "WaitForSingleObject",
      "ReleaseMutex",        "RegCreateKeyExW",    "RegOpenKeyExW",    "RegQueryValueExW",
      "RegSetValueExW",      "RegFlushKey",        "RegCloseKey"};
  const std::vector<std::string> symbols = ExportedSymbols();
  ASSERT_GT(symbols.size(), 130u) << "nm found too little";
  size_t found = 0;
  for (const std::string& name : symbols) {
    const std::string function = name.substr(0, name.find('('));
    found += operations.count(function);
    // The msgstore namespace of the public platform header, and instances of
    // the standard library's templates that its inline code needs.
    EXPECT_TRUE(operations.count(function) || platform.count(function) ||
                name.rfind("msgstore::", 0) == 0 ||
                name.find(" for msgstore::") != std::string::npos ||
                name.find("std::") != std::string::npos)
        << "exported but not declared public: " << name;
  }
  EXPECT_EQ(found, 106u);
}

// Loads and unloads the library in a process of its own that calls nothing.
TEST(Exports, LoadingTouchesNothingUnderTheDeviceRoot) {
  const fs::path scratch =
      fs::temp_directory_path() / ("msgstore-load-" + std::to_string(::getpid()));
  fs::remove_all(scratch);
  ASSERT_TRUE(fs::create_directories(scratch / "home"));
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("MSGSTORE_ROOT", (scratch / "root").c_str(), 1);
    ::setenv("HOME", (scratch / "home").c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::execl(MSGSTORE_LOAD_ONLY, MSGSTORE_LOAD_ONLY, MSGSTORE_LIBRARY, nullptr);
    ::_exit(3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(scratch / "root"));
  EXPECT_TRUE(fs::is_empty(scratch / "home"));
  fs::remove_all(scratch);
}

}  // namespace
