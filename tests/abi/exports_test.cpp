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
#include <filesystem>
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
const Operation kOperations[] = {
    {"EMSMsgStore_AddMsgToIni", Address(EMSMsgStore_AddMsgToIni), false},
    {"EMSMsgStore_CreateDir", Address(EMSMsgStore_CreateDir), false},
    {"EMSMsgStore_DeleteMessage", Address(EMSMsgStore_DeleteMessage), false},
    {"EMSMsgStore_DeleteMsgFromIni", Address(EMSMsgStore_DeleteMsgFromIni), false},
    {"EMSMsgStore_EmptyFolder", Address(EMSMsgStore_EmptyFolder), false},
    {"EMSMsgStore_FreeMsgProps", Address(EMSMsgStore_FreeMsgProps), false},
    {"EMSMsgStore_GetFilePath", Address(EMSMsgStore_GetFilePath), false},
    {"EMSMsgStore_GetFolderMessageCount", Address(EMSMsgStore_GetFolderMessageCount), false},
    {"EMSMsgStore_GetFolderPath", Address(EMSMsgStore_GetFolderPath), false},
    {"EMSMsgStore_GetLastRecord", Address(EMSMsgStore_GetLastRecord), false},
    {"EMSMsgStore_GetMessageList", Address(EMSMsgStore_GetMessageList), false},
    {"EMSMsgStore_GetQuickMsgList", Address(EMSMsgStore_GetQuickMsgList), false},
    {"EMSMsgStore_QuickReadFromFile", Address(EMSMsgStore_QuickReadFromFile), false},
    {"EMSMsgStore_ReadFolderMessage", Address(EMSMsgStore_ReadFolderMessage), false},
    {"EMSMsgStore_ReadFromFile", Address(EMSMsgStore_ReadFromFile), false},
    {"EMSMsgStore_ReadFromFileOld", Address(EMSMsgStore_ReadFromFileOld), false},
    {"EMSMsgStore_ReadMessage", Address(EMSMsgStore_ReadMessage), false},
    {"EMSMsgStore_SetFolder", Address(EMSMsgStore_SetFolder), false},
    {"EMSMsgStore_SetMsgID", Address(EMSMsgStore_SetMsgID), false},
    {"EMSMsgStore_SetRead", Address(EMSMsgStore_SetRead), false},
    {"EMSMsgStore_SetStatus", Address(EMSMsgStore_SetStatus), false},
    {"EMSMsgStore_SetSubject", Address(EMSMsgStore_SetSubject), false},
    {"EMSMsgStore_SetTime", Address(EMSMsgStore_SetTime), false},
    {"EMSMsgStore_SetTo", Address(EMSMsgStore_SetTo), false},
    {"EMSMsgStore_UpdateContactList", Address(EMSMsgStore_UpdateContactList), false},
    {"EMSMsgStore_WriteMessage", Address(EMSMsgStore_WriteMessage), false},
    {"EMSMsgStore_WriteToFile", Address(EMSMsgStore_WriteToFile), false},
    {"EMSMsgStore_WriteToFileOld", Address(EMSMsgStore_WriteToFileOld), false},
    {"EmsMsgStore_RefreshIniFiles", Address(EmsMsgStore_RefreshIniFiles), false},
    {"GetEMSInboxMsgCount", Address(GetEMSInboxMsgCount), true},
    {"GetEMSInboxUnreadMsgsCount", Address(GetEMSInboxUnreadMsgsCount), true},
    {"GetEMSPhoneInboxMsgCount", Address(GetEMSPhoneInboxMsgCount), true},
    {"GetEMSSDInboxMsgCount", Address(GetEMSSDInboxMsgCount), true},
    {"GetEMSSimMsgCount", Address(GetEMSSimMsgCount), false},
    {"GetMMSInboxUnreadMsgsCount", Address(GetMMSInboxUnreadMsgsCount), true},
    {"MMSMsgStore_AddMsgToIni", Address(MMSMsgStore_AddMsgToIni), true},
    {"MMSMsgStore_CreateDir", Address(MMSMsgStore_CreateDir), true},
    {"MMSMsgStore_DeleteMessage", Address(MMSMsgStore_DeleteMessage), true},
    {"MMSMsgStore_DeleteMsgFromIni", Address(MMSMsgStore_DeleteMsgFromIni), true},
    {"MMSMsgStore_EmptyFolder", Address(MMSMsgStore_EmptyFolder), true},
    {"MMSMsgStore_FreeMsgProps", Address(MMSMsgStore_FreeMsgProps), true},
    {"MMSMsgStore_GetFilePath", Address(MMSMsgStore_GetFilePath), true},
    {"MMSMsgStore_GetFolderMessageCount", Address(MMSMsgStore_GetFolderMessageCount), true},
    {"MMSMsgStore_GetFolderPath", Address(MMSMsgStore_GetFolderPath), true},
    {"MMSMsgStore_GetLastRecord", Address(MMSMsgStore_GetLastRecord), true},
    {"MMSMsgStore_GetMessageList", Address(MMSMsgStore_GetMessageList), true},
    {"MMSMsgStore_GetQuickMsgList", Address(MMSMsgStore_GetQuickMsgList), true},
    {"MMSMsgStore_QuickReadFromFile", Address(MMSMsgStore_QuickReadFromFile), true},
    {"MMSMsgStore_ReadFolderMessage", Address(MMSMsgStore_ReadFolderMessage), true},
    {"MMSMsgStore_ReadFromFile", Address(MMSMsgStore_ReadFromFile), true},
    {"MMSMsgStore_ReadFromFileOld", Address(MMSMsgStore_ReadFromFileOld), true},
    {"MMSMsgStore_ReadMessage", Address(MMSMsgStore_ReadMessage), true},
    {"MMSMsgStore_RefreshIniFiles", Address(MMSMsgStore_RefreshIniFiles), true},
    {"MMSMsgStore_SetFolder", Address(MMSMsgStore_SetFolder), true},
    {"MMSMsgStore_SetReadStatus", Address(MMSMsgStore_SetReadStatus), true},
    {"MMSMsgStore_SetStatus", Address(MMSMsgStore_SetStatus), true},
    {"MMSMsgStore_WriteMessage", Address(MMSMsgStore_WriteMessage), true},
    {"MMSMsgStore_WriteToFile", Address(MMSMsgStore_WriteToFile), true},
    {"MMSMsgStore_WriteToFileOld", Address(MMSMsgStore_WriteToFileOld), true},
    {"EmailAccMsgStore_Create", Address(EmailAccMsgStore_Create), false},
    {"EmailAccMsgStore_Open", Address(EmailAccMsgStore_Open), false},
    {"EmailMsgStore_AddMsgToIni", Address(EmailMsgStore_AddMsgToIni), false},
    {"EmailMsgStore_Close", Address(EmailMsgStore_Close), false},
    {"EmailMsgStore_CreateDir", Address(EmailMsgStore_CreateDir), false},
    {"EmailMsgStore_DeleteAccount", Address(EmailMsgStore_DeleteAccount), false},
    {"EmailMsgStore_DeleteMessage", Address(EmailMsgStore_DeleteMessage), false},
    {"EmailMsgStore_DeleteMessageInbox", Address(EmailMsgStore_DeleteMessageInbox), false},
    {"EmailMsgStore_DeleteMsgFromIni", Address(EmailMsgStore_DeleteMsgFromIni), false},
    {"EmailMsgStore_EmptyFolder", Address(EmailMsgStore_EmptyFolder), false},
    {"EmailMsgStore_EmptyFolderAccount", Address(EmailMsgStore_EmptyFolderAccount), false},
    {"EmailMsgStore_EmptyFolderInbox", Address(EmailMsgStore_EmptyFolderInbox), false},
    {"EmailMsgStore_FreeMsgProps", Address(EmailMsgStore_FreeMsgProps), false},
    {"EmailMsgStore_GetAccountMessageCount", Address(EmailMsgStore_GetAccountMessageCount), false},
    {"EmailMsgStore_GetFilePath", Address(EmailMsgStore_GetFilePath), false},
    {"EmailMsgStore_GetFilePathInbox", Address(EmailMsgStore_GetFilePathInbox), false},
    {"EmailMsgStore_GetFolderMessageCount", Address(EmailMsgStore_GetFolderMessageCount), false},
    {"EmailMsgStore_GetFolderMessageCountInbox", Address(EmailMsgStore_GetFolderMessageCountInbox), false},
    {"EmailMsgStore_GetFolderPath", Address(EmailMsgStore_GetFolderPath), false},
    {"EmailMsgStore_GetLastRecord", Address(EmailMsgStore_GetLastRecord), false},
    {"EmailMsgStore_GetMessageList", Address(EmailMsgStore_GetMessageList), false},
    {"EmailMsgStore_GetMessageListInbox", Address(EmailMsgStore_GetMessageListInbox), false},
    {"EmailMsgStore_GetQuickMsgList", Address(EmailMsgStore_GetQuickMsgList), false},
    {"EmailMsgStore_GetUnreadMsgCount", Address(EmailMsgStore_GetUnreadMsgCount), false},
    {"EmailMsgStore_MoveInboxToSpam", Address(EmailMsgStore_MoveInboxToSpam), false},
    {"EmailMsgStore_QuickReadFromFile", Address(EmailMsgStore_QuickReadFromFile), false},
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    {"EmailMsgStore_ReadFolderMessage", Address(EmailMsgStore_ReadFolderMessage), false},
    {"EmailMsgStore_ReadFolderMessageInbox", Address(EmailMsgStore_ReadFolderMessageInbox), false},
    {"EmailMsgStore_ReadFromFile", Address(EmailMsgStore_ReadFromFile), false},
    {"EmailMsgStore_ReadFromFileOld", Address(EmailMsgStore_ReadFromFileOld), false},
    {"EmailMsgStore_RefreshIniFiles", Address(EmailMsgStore_RefreshIniFiles), false},
    {"EmailMsgStore_RestoreMessageToInbox", Address(EmailMsgStore_RestoreMessageToInbox), false},
    {"EmailMsgStore_SetFolder", Address(EmailMsgStore_SetFolder), false},
    {"EmailMsgStore_SetFolderCount", Address(EmailMsgStore_SetFolderCount), false},
    {"EmailMsgStore_SetReadReportStatus", Address(EmailMsgStore_SetReadReportStatus), false},
    {"EmailMsgStore_SetReadReportStatusInbox", Address(EmailMsgStore_SetReadReportStatusInbox), false},
    {"EmailMsgStore_SetReadStatus", Address(EmailMsgStore_SetReadStatus), false},
    {"EmailMsgStore_SetReadStatusInbox", Address(EmailMsgStore_SetReadStatusInbox), false},
    {"EmailMsgStore_SetStatus", Address(EmailMsgStore_SetStatus), false},
    {"EmailMsgStore_SetStatusInbox", Address(EmailMsgStore_SetStatusInbox), false},
    {"EmailMsgStore_WriteAccountData", Address(EmailMsgStore_WriteAccountData), false},
    {"EmailMsgStore_WriteMessage", Address(EmailMsgStore_WriteMessage), false},
    {"EmailMsgStore_WriteToFile", Address(EmailMsgStore_WriteToFile), false},
    {"EmailMsgStore_WriteToFileOld", Address(EmailMsgStore_WriteToFileOld), false},
    {"GetEmailInboxUnreadMsgsCount", Address(GetEmailInboxUnreadMsgsCount), true},
};
// clang-format on

std::string Demangled(const std::string& symbol) {
  int status = -1;
  std::unique_ptr<char, void (*)(void*)> text(
      abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status), std::free);
  return status == 0 && text ? std::string(text.get()) : symbol;
}

// The defined dynamic symbols of the built library.
std::vector<std::string> ExportedSymbols() {
  std::vector<std::string> symbols;
  const std::string command = std::string("nm -D --defined-only '") + MSGSTORE_LIBRARY + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> nm(::popen(command.c_str(), "r"), ::pclose);
  if (!nm) return symbols;
  char line[4096];
  while (std::fgets(line, sizeof line, nm.get()) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t last = text.rfind(' ');
    if (last != std::string::npos) symbols.push_back(text.substr(last + 1));
  }
  return symbols;
}

TEST(Exports, EveryOperationUnderItsPlainOrDecoratedName) {
  ASSERT_EQ(sizeof kOperations / sizeof kOperations[0], 106u);
  std::set<std::string> symbols;
  for (const Operation& op : kOperations) {
    Dl_info info = {};
    ASSERT_NE(::dladdr(op.address, &info), 0) << op.name;
    ASSERT_NE(info.dli_sname, nullptr) << op.name;
    const std::string symbol = info.dli_sname;
    EXPECT_NE(std::string(info.dli_fname).find("libmsgstore"), std::string::npos) << op.name;
    if (op.plain) {
      EXPECT_EQ(symbol, op.name);
    } else {
      // "_Z", the length of the name, the name, then the parameter types.
      const std::string prefix = "_Z" + std::to_string(std::string(op.name).size()) + op.name;
      EXPECT_EQ(symbol.rfind(prefix, 0), 0u) << op.name << " is exported as " << symbol;
      EXPECT_GT(symbol.size(), prefix.size()) << op.name;
    }
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
  for (const std::string& symbol : symbols) {
    const std::string name = Demangled(symbol);
    const std::string function = name.substr(0, name.find('('));
    if (operations.count(function) != 0) {
      ++found;
      continue;
    }
    if (platform.count(function) != 0) continue;
    // The msgstore namespace of the public platform header, and instances of
    // the standard library's templates that its inline code needs.
    const bool allowed = name.rfind("msgstore::", 0) == 0 ||
                         name.find(" for msgstore::") != std::string::npos ||
                         name.find("std::") != std::string::npos;
    EXPECT_TRUE(allowed) << "exported but not declared public: " << name;
  }
  EXPECT_EQ(found, 106u);
}

// Loads and unloads the library in a process that calls nothing.
TEST(Exports, LoadingTouchesNothingUnderTheDeviceRoot) {
  const fs::path scratch =
      fs::temp_directory_path() / ("msgstore-load-" + std::to_string(::getpid()));
  fs::remove_all(scratch);
  ASSERT_TRUE(fs::create_directories(scratch / "home"));
  const fs::path root = scratch / "root";
  pid_t child = ::fork();
  if (child == 0) {
    ::setenv("MSGSTORE_ROOT", root.c_str(), 1);
    ::setenv("HOME", (scratch / "home").c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    // A process of its own: this one has the library loaded already.
    ::execl(MSGSTORE_LOAD_ONLY, MSGSTORE_LOAD_ONLY, MSGSTORE_LIBRARY, nullptr);
    ::_exit(3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(fs::exists(root));
  EXPECT_TRUE(fs::is_empty(scratch / "home"));
  fs::remove_all(scratch);
}

}  // namespace
