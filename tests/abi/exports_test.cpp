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
#include <sstream>
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
#define E(f) D(EMSMsgStore_##f)
#define M(f) D(EmailMsgStore_##f)
#define S(f) P(MMSMsgStore_##f)
const Operation kOperations[] = {
    E(AddMsgToIni), E(CreateDir), E(DeleteMessage), E(DeleteMsgFromIni), E(EmptyFolder),
    E(FreeMsgProps), E(GetFilePath), E(GetFolderMessageCount), E(GetFolderPath), E(GetLastRecord),
    E(GetMessageList), E(GetQuickMsgList), E(QuickReadFromFile), E(ReadFolderMessage),
    E(ReadFromFile), E(ReadFromFileOld), E(ReadMessage), E(SetFolder), E(SetMsgID), E(SetRead),
    E(SetStatus), E(SetSubject), E(SetTime), E(SetTo), E(UpdateContactList), E(WriteMessage),
    E(WriteToFile), E(WriteToFileOld), D(EmsMsgStore_RefreshIniFiles), D(GetEMSSimMsgCount),
    D(EmailAccMsgStore_Create), D(EmailAccMsgStore_Open), M(AddMsgToIni), M(Close), M(CreateDir),
    M(DeleteAccount), M(DeleteMessage), M(DeleteMessageInbox), M(DeleteMsgFromIni), M(EmptyFolder),
    M(EmptyFolderAccount), M(EmptyFolderInbox), M(FreeMsgProps), M(GetAccountMessageCount),
    M(GetFilePath), M(GetFilePathInbox), M(GetFolderMessageCount), M(GetFolderMessageCountInbox),
    M(GetFolderPath), M(GetLastRecord), M(GetMessageList), M(GetMessageListInbox),
    M(GetQuickMsgList), M(GetUnreadMsgCount), M(MoveInboxToSpam), M(QuickReadFromFile),
    M(ReadFolderMessage), M(ReadFolderMessageInbox), M(ReadFromFile), M(ReadFromFileOld),
    M(RefreshIniFiles), M(RestoreMessageToInbox), M(SetFolder), M(SetFolderCount),
    M(SetReadReportStatus), M(SetReadReportStatusInbox), M(SetReadStatus), M(SetReadStatusInbox),
    M(SetStatus), M(SetStatusInbox), M(WriteAccountData), M(WriteMessage), M(WriteToFile),
    M(WriteToFileOld),
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    {"EmailMsgStore_ReadFolderAccount", Address(static_cast<int (*)(HANDLE, DWORD, tagEMAILACCOUNTPROPS*)>(EmailMsgStore_ReadFolderAccount)), false},
    P(GetEMSInboxMsgCount), P(GetEMSInboxUnreadMsgsCount), P(GetEMSPhoneInboxMsgCount),
    P(GetEMSSDInboxMsgCount), P(GetMMSInboxUnreadMsgsCount), P(GetEmailInboxUnreadMsgsCount),
    S(AddMsgToIni), S(CreateDir), S(DeleteMessage), S(DeleteMsgFromIni), S(EmptyFolder),
    S(FreeMsgProps), S(GetFilePath), S(GetFolderMessageCount), S(GetFolderPath), S(GetLastRecord),
    S(GetMessageList), S(GetQuickMsgList), S(QuickReadFromFile), S(ReadFolderMessage),
    S(ReadFromFile), S(ReadFromFileOld), S(ReadMessage), S(RefreshIniFiles), S(SetFolder),
    S(SetReadStatus), S(SetStatus), S(WriteMessage), S(WriteToFile), S(WriteToFileOld),
};
#undef D
#undef P
#undef E
#undef M
#undef S
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
  std::istringstream declared(
      "CreateFileW ReadFile WriteFile GetFileSize SetFilePointer CloseHandle DeleteFileW CopyFileW "
      "MoveFileExW GetFileAttributesW CreateDirectoryW FindFirstFileW FindNextFileW FindClose "
      "CompareFileTime Sleep GetCurrentProcessId IsProcessRunning CreateMutexW "
      "WaitForSingleObject ReleaseMutex RegCreateKeyExW RegOpenKeyExW RegQueryValueExW "
      "RegSetValueExW RegFlushKey RegCloseKey");
  const std::set<std::string> platform{std::istream_iterator<std::string>(declared), {}};
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
