// What the processes of one device root share: the default handset services,
// notice windows, named mutexes and the registry.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <utility>

#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using msgstore::DefaultPlatform;

// Forks a child that exits with body(fd), fd writing to a pipe whose reading
// end goes to *from (closed when from is nullptr).
pid_t Spawn(const std::function<int(int)>& body, int* from = nullptr) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body(fds[1]));
  ::close(fds[1]);
  from != nullptr ? (void)(*from = fds[0]) : (void)::close(fds[0]);
  return pid;
}

// The exit status of a child, or -1 when it did not exit normally.
int Wait(pid_t pid) {
  int status = 0;
  bool waited = pid > 0 && ::waitpid(pid, &status, 0) == pid;
  return waited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PlatformHandset : public msgstore_test::DeviceTest {
 protected:
  DefaultPlatform handset_;
};

TEST_F(PlatformHandset, CountersAddOrReplaceAndAreSharedAcrossProcesses) {
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"ENG");
  for (int n : {3, 2, -1}) handset_.xSetEmsRecvMsgCount(n);
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRecv"), 4u);
  EXPECT_EQ(Wait(Spawn([](int) {
              DefaultPlatform child;
              child.xSetEmsRecvMsgCount(-10);  // never below 0
              child.xSetEmsReadMsgCount(1);
              for (int n : {2, 1}) child.xSetEms_SDReadMsgCount(n);
              for (DWORD n : {5u, 2u}) child.xSetSentSmsCountInSim(n);
              child.xSetUnsentSmsCountInSim(9);
              DefaultPlatform::SetSystemLanguage(u"x=\n\u00E9");
              return 0;
            })),
            0);
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRecv"), 0u);
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRead"), 1u);
  EXPECT_EQ(handset_.xGetEms_SDReadMsgCount(), 3u);
  EXPECT_EQ(handset_.xGetSentSmsCountInSim(), 2u);
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 9u);
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"x=\n\u00E9");
  DefaultPlatform::SetCounter("NoSuchCounter", 3);
  EXPECT_EQ(DefaultPlatform::GetCounter("NoSuchCounter"), 0u);
  EXPECT_EQ(DefaultPlatform::GetCounter("emsread"), 0u);

  auto add40 = [](int) {
    DefaultPlatform handset;
    for (int i = 0; i < 40; ++i) handset.xSetEms_SDRecvMsgCount(1);
    return 0;
  };
  pid_t first = Spawn(add40), second = Spawn(add40);
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(Wait(second), 0);
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 80u);  // no update lost
  DefaultPlatform::SetCounter("Ems_SDRecv", 0xFFFFFFFFu);
  handset_.xSetEms_SDRecvMsgCount(1);  // stays at the top
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 0xFFFFFFFFu);
  msgstore::SetDeviceRoot(root_ + "/other");  // another root has counters of its own
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 0u);
}

TEST_F(PlatformHandset, CardStateFollowsTheCardAndItsFlagsAndEjectKeepsItAside) {
  DefaultPlatform::SetCardFlags(7);
  EXPECT_EQ(DefaultPlatform::GetCardFlags(), 6);
  EXPECT_EQ(Wait(Spawn([](int) { return DefaultPlatform().xGetSDCardState(); })), 7);
  RemoveCard();
  EXPECT_EQ(handset_.xGetSDCardState(), 6);
  DefaultPlatform::SetCardFlags(2);
  fs::create_directory(Host("SD Card"));
  EXPECT_EQ(handset_.xGetSDCardState(), 3);

  ASSERT_TRUE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  std::ofstream(Host("SD Card/User/1.sms")) << "msg";
  EXPECT_FALSE(DefaultPlatform::InsertCard());  // already in
  EXPECT_TRUE(DefaultPlatform::EjectCard());
  EXPECT_FALSE(DefaultPlatform::EjectCard());
  EXPECT_EQ(handset_.xGetSDCardState(), 2);
  EXPECT_FALSE(fs::exists(Host("SD Card")));
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_EQ(handset_.xGetSDCardState(), 3);
  std::string text;
  std::ifstream(Host("SD Card/User/1.sms")) >> text;
  EXPECT_EQ(text, "msg");

  msgstore::SetDeviceRoot(root_ + "/fresh");  // never ejected: inserting gives an empty card
  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_TRUE(fs::is_directory(root_ + "/fresh/SD Card"));
  EXPECT_TRUE(fs::is_empty(root_ + "/fresh/SD Card"));
}

TEST_F(PlatformHandset, FreeSpaceIsTheVolumesCappedWhenAsked) {
  uint64_t available = 0, free = 0;
  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip\\", 1000);
  EXPECT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\diskonchip", &available, nullptr, &free));
  EXPECT_EQ(std::make_pair(available, free), std::make_pair(uint64_t(1000), uint64_t(1000)));
  EXPECT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\SD Card\\", &available, nullptr, &free));
  EXPECT_TRUE(available > 1000 && free >= available);  // the cap is per volume
  RemoveCard();
  for (const WCHAR* volume : {u"\\SD Card", u"\\Windows", static_cast<const WCHAR*>(nullptr)})
    EXPECT_FALSE(handset_.GetDiskFreeSpaceExW(volume, &available, nullptr, nullptr));
}

using PlatformWindow = PlatformHandset;

TEST_F(PlatformWindow, MessagePostedInOneProcessIsReceivedInAnother) {
  int from = -1;
  pid_t pid = Spawn(
      [](int out) {
        msgstore::WindowEndpoint shell(u"WCE_APSHELL");
        msgstore::WindowMessage m{};
        if (!shell.valid() || ::write(out, "R", 1) != 1 || !shell.Receive(&m, 20000)) return 1;
        bool exact = m.className == u"WCE_APSHELL" && m.msg == 0xC44 &&
                     m.wParam == UINT64_C(0x1122334455667788) && m.lParam == -2;
        return exact ? 0 : 2;
      },
      &from);
  char ready = 0;
  EXPECT_EQ(::read(from, &ready, 1), 1);
  ::close(from);
  EXPECT_FALSE(msgstore::WindowEndpoint(u"WCE_APSHELL").valid());  // the child has that class
  HWND shell = handset_.FindWindowW(u"wce_apshell", nullptr);
  EXPECT_NE(shell, nullptr);
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), shell);
  EXPECT_TRUE(handset_.PostMessageW(shell, 0xC44, UINT64_C(0x1122334455667788), -2));
  EXPECT_EQ(Wait(pid), 0);                                            // it received exactly that
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), nullptr);  // gone with its process
  EXPECT_FALSE(handset_.PostMessageW(shell, 0xC44, 0, 0));
}

TEST_F(PlatformWindow, EndpointsBelongToOneRootAndMissingWindowsDropNotices) {
  EXPECT_FALSE(handset_.PostMessageW(nullptr, 0x19A0, 0, 0));
  EXPECT_EQ(handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr), nullptr);
  msgstore::WindowEndpoint app(u"WCE_CVMESSAGEEXEC");
  msgstore::WindowMessage message{};
  EXPECT_FALSE(app.Receive(&message, 0));  // nothing waiting
  HWND hwnd = handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr);
  EXPECT_TRUE(handset_.PostMessageW(hwnd, 0x19A1, 3, 4));
  EXPECT_TRUE(handset_.PostMessageW(hwnd, 0x19A2, 5, 6));
  for (UINT msg : {0x19A1u, 0x19A2u}) EXPECT_TRUE(app.Receive(&message, -1) && message.msg == msg);

  msgstore::SetDeviceRoot(root_ + "/other");  // the same class there is another window
  EXPECT_EQ(handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr), nullptr);
  EXPECT_FALSE(handset_.PostMessageW(hwnd, 0x19A4, 0, 0));
  EXPECT_TRUE(msgstore::WindowEndpoint(u"WCE_CVMESSAGEEXEC").valid());
}

// What a fresh handle of name gets with a zero time-out: 0 taken, 1 timed out.
int TryOnce(const WCHAR* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  DWORD result = WaitForSingleObject(mutex, 0);
  CloseHandle(mutex);
  return result == WAIT_OBJECT_0 ? 0 : result == WAIT_TIMEOUT ? 1 : 2;
}

using PlatformMutex = msgstore_test::DeviceTest;

TEST_F(PlatformMutex, HandlesExcludeEachOtherAndOwnershipIsRecursive) {
  HANDLE first = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  HANDLE second = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  EXPECT_FALSE(ReleaseMutex(first));  // not owned yet
  EXPECT_EQ(WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 5), WAIT_TIMEOUT);
  EXPECT_EQ(TryOnce(u"MUTEX_READWRITETILE"), 0);  // other names are independent
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);  // still held once
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_FALSE(ReleaseMutex(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(second));  // gives up what it holds
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(first));
}

TEST_F(PlatformMutex, InitialOwnerNamesAndBadHandles) {
  HANDLE owner = CreateMutexW(nullptr, TRUE, u"M");
  EXPECT_EQ(TryOnce(u"M"), 1);
  EXPECT_TRUE(ReleaseMutex(owner));
  EXPECT_EQ(TryOnce(u"M"), 0);
  HANDLE odd = CreateMutexW(nullptr, FALSE, u"a/b\\..\\c %");  // a name, not a path
  EXPECT_EQ(WaitForSingleObject(odd, 0), WAIT_OBJECT_0);
  EXPECT_EQ(TryOnce(u"a/b\\..\\c %"), 1);
  EXPECT_EQ(TryOnce(u"c %"), 0);
  HANDLE file = CreateFileW(u"\\DiskOnChip\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(file, INFINITE), WAIT_FAILED);  // not a mutex
  EXPECT_FALSE(ReleaseMutex(file));
  for (HANDLE handle : {owner, odd, file}) EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(PlatformMutex, OneHandleBelongsToOneThreadAtATime) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"T");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  auto inThread = [mutex] {
    std::pair<DWORD, BOOL> result;
    std::thread([&] { result = {WaitForSingleObject(mutex, 0), ReleaseMutex(mutex)}; }).join();
    return result;
  };
  EXPECT_EQ(inThread(), std::make_pair(WAIT_TIMEOUT, FALSE));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(inThread(), std::make_pair(WAIT_OBJECT_0, TRUE));
  CloseHandle(mutex);
}

TEST_F(PlatformMutex, ExcludesOtherProcessesOfOneRootUntilReleasedOrKilled) {
  auto tryInChild = [](int) { return TryOnce(u"MUTEX_ACCESSINI"); };
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(Wait(Spawn(tryInChild)), 1);
  EXPECT_EQ(Wait(Spawn([&](int) {
              msgstore::SetDeviceRoot(root_ + "/other");
              return tryInChild(0);
            })),
            0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_EQ(Wait(Spawn(tryInChild)), 0);

  int from = -1;  // a holder that is killed
  pid_t holder = Spawn(
      [](int out) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
        if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0 || ::write(out, "T", 1) != 1)
          return 1;
        for (;;) ::pause();
      },
      &from);
  char taken = 0;
  EXPECT_EQ(::read(from, &taken, 1), 1);
  ::close(from);
  EXPECT_EQ(TryOnce(u"MUTEX_ACCESSINI"), 1);
  if (holder > 0) ::kill(holder, SIGKILL);
  EXPECT_EQ(Wait(holder), -1);
  EXPECT_EQ(TryOnce(u"MUTEX_ACCESSINI"), 0);
}

HKEY Create(const WCHAR* path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                  disposition);
  return key;
}

LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

// The DWORD value of name, or 0xDEAD when there is no such DWORD.
DWORD GetDword(HKEY key, const WCHAR* name) {
  DWORD value = 0, type = 0, size = sizeof value;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  return result == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? value : 0xDEAD;
}

using PlatformRegistry = msgstore_test::DeviceTest;

TEST_F(PlatformRegistry, KeysAreCreatedOnceAndOpenedIgnoringCase) {
  HKEY missing = reinterpret_cast<HKEY>(1), parent = nullptr, child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  DWORD disposition = 0;
  HKEY created = Create(u"\\Software\\Corvane\\Email\\Accounts", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(SetDword(created, u"AccoutnId", 7), ERROR_SUCCESS);
  HKEY again = Create(u"SOFTWARE\\corvane\\EMAIL\\accounts", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\software\\CORVANE", 0, 0, &parent), 0);
  EXPECT_EQ(RegOpenKeyExW(parent, u"Email\\Accounts", 0, KEY_QUERY_VALUE, &child), 0);
  EXPECT_EQ(std::make_pair(GetDword(again, u"ACCOUTNID"), GetDword(child, u"accoutnid")),
            std::make_pair(DWORD(7), DWORD(7)));
  for (HKEY key : {created, again, parent, child}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(created), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetDword(created, u"AccoutnId"), 0xDEADu);
}

TEST_F(PlatformRegistry, QueryFollowsTheWin32Protocol) {
  HKEY key = Create(u"\\Software\\Corvane\\Email\\Preferences");
  const char16_t text[] = u"Acc1";
  const WCHAR* name = u"IncomingServerAccount";
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;  // asking for the size only
  EXPECT_EQ(RegQueryValueExW(key, u"incomingserveraccount", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(std::make_pair(type, size), std::make_pair(REG_SZ, DWORD(10)));
  BYTE buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  size = 4;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(buffer, text, 10), 0);
  EXPECT_EQ(buffer[10], 0xEE);
  EXPECT_EQ(RegQueryValueExW(key, u"Absent", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);

  // Replacing a value replaces its type too; the unnamed value is a value of its own.
  EXPECT_EQ(SetDword(key, name, 0x01020304), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(key, name), 0x01020304u);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::make_pair(type, size), std::make_pair(REG_BINARY, DWORD(0)));
  RegCloseKey(key);
}

TEST_F(PlatformRegistry, ValuesAreSharedBetweenProcessesOfOneRoot) {
  const WCHAR* path = u"\\Software\\Corvane\\Email\\Accounts";
  EXPECT_EQ(Wait(Spawn([path](int) { return SetDword(Create(path), u"AccoutnId", 41); })), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(key, u"AccoutnId"), 41u);
  EXPECT_EQ(SetDword(key, u"AccoutnId", 42), ERROR_SUCCESS);
  EXPECT_EQ(Wait(Spawn([key](int) { return static_cast<int>(GetDword(key, u"AccoutnId")); })), 42);
  RegCloseKey(key);
  msgstore::SetDeviceRoot(root_ + "/other");  // another root has a registry of its own
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
