// What the processes of one device root share: the default handset services,
// notice windows, named mutexes and the registry.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using msgstore::DefaultPlatform;

// Forks a child that exits with body(fd), fd writing to a pipe; with ready,
// returns once the child has written a byte there.
pid_t Spawn(const std::function<int(int)>& body, bool ready = false) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body(fds[1]));
  ::close(fds[1]);
  char byte = 0;
  EXPECT_TRUE(!ready || ::read(fds[0], &byte, 1) == 1);
  ::close(fds[0]);
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
  auto child = [](int) {
    DefaultPlatform handset;
    handset.xSetEmsRecvMsgCount(-10);  // never below 0
    for (int n : {2, 1}) handset.xSetEms_SDReadMsgCount(n);
    for (DWORD n : {5u, 2u}) handset.xSetSentSmsCountInSim(n);
    handset.xSetUnsentSmsCountInSim(9);
    DefaultPlatform::SetSystemLanguage(u"x=\n\u00E9");
    return 0;
  };
  EXPECT_EQ(Wait(Spawn(child)), 0);
  EXPECT_EQ(
      std::make_tuple(DefaultPlatform::GetCounter("EmsRecv"), handset_.xGetEms_SDReadMsgCount(),
                      handset_.xGetSentSmsCountInSim(), handset_.xGetUnsentSmsCountInSim()),
      std::make_tuple(0u, 3u, 2u, 9u));
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"x=\n\u00E9");
  auto add40 = [](int) {
    DefaultPlatform handset;
    for (int i = 0; i < 40; ++i) handset.xSetEms_SDRecvMsgCount(1);
    return 0;
  };
  pid_t first = Spawn(add40), second = Spawn(add40);
  EXPECT_EQ(Wait(first) + Wait(second), 0);
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 80u);  // no update lost
  DefaultPlatform::SetCounter("Ems_SDRecv", 0xFFFFFFFFu);
  handset_.xSetEms_SDRecvMsgCount(1);  // stays at the top
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 0xFFFFFFFFu);
  msgstore::SetDeviceRoot(root_ + "/other");  // another root has counters of its own
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 0u);
}

TEST_F(PlatformHandset, CardStateFollowsTheCardAndItsFlagsEjectKeepsItAsideAndFreeSpaceIsCapped) {
  DefaultPlatform::SetCardFlags(7);
  EXPECT_EQ(DefaultPlatform::GetCardFlags(), 6);
  EXPECT_EQ(Wait(Spawn([](int) { return DefaultPlatform().xGetSDCardState(); })), 7);
  DefaultPlatform::SetCardFlags(2);
  ASSERT_TRUE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  std::ofstream(Host("SD Card/User/1.sms")) << "msg";
  EXPECT_FALSE(DefaultPlatform::InsertCard());  // already in
  EXPECT_TRUE(DefaultPlatform::EjectCard());
  EXPECT_FALSE(DefaultPlatform::EjectCard());
  EXPECT_EQ(handset_.xGetSDCardState(), 2);
  EXPECT_FALSE(fs::exists(Host("SD Card")) || CreateDirectoryW(u"\\SD Card\\User", nullptr));
  uint64_t available = 0, free = 0;
  EXPECT_FALSE(handset_.GetDiskFreeSpaceExW(u"\\SD Card", &available, nullptr, nullptr));
  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_EQ(handset_.xGetSDCardState(), 3);
  EXPECT_EQ(fs::file_size(Host("SD Card/User/1.sms")), 3u);
  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip\\", 1000);
  EXPECT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\diskonchip", &available, nullptr, &free));
  EXPECT_EQ(std::make_pair(available, free), std::make_pair(uint64_t(1000), uint64_t(1000)));
  EXPECT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\SD Card\\", &available, nullptr, &free));
  EXPECT_TRUE(available > 1000 && free >= available);  // the cap is per volume
  msgstore::SetDeviceRoot(root_ + "/fresh");  // never ejected: inserting gives an empty card
  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_TRUE(fs::is_directory(root_ + "/fresh/SD Card") && fs::is_empty(root_ + "/fresh/SD Card"));
}

TEST_F(PlatformHandset, WindowMessagesGoToTheProcessOfTheClassInOneRoot) {
  const WPARAM wide = UINT64_C(0x1122334455667788);
  pid_t pid = Spawn(
      [wide](int out) {
        msgstore::WindowEndpoint shell(u"WCE_APSHELL");
        msgstore::WindowMessage m{}, n{};
        if (!shell.valid() || ::write(out, "R", 1) != 1) return 1;
        if (!shell.Receive(&m, 20000) || !shell.Receive(&n, 20000) || shell.Receive(&n, 0))
          return 2;
        return m.className == u"WCE_APSHELL" && m.msg == 0xC44 && m.wParam == wide &&
                       m.lParam == -2 && n.msg == 0xC45
                   ? 0
                   : 3;
      },
      true);
  EXPECT_FALSE(msgstore::WindowEndpoint(u"WCE_APSHELL").valid());  // the child has that class
  msgstore::SetDeviceRoot(root_ + "/other");  // the same class there is another window
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), nullptr);
  msgstore::SetDeviceRoot(root_);
  HWND shell = handset_.FindWindowW(u"wce_apshell", nullptr);
  EXPECT_TRUE(handset_.PostMessageW(shell, 0xC44, wide, -2) &&
              handset_.PostMessageW(shell, 0xC45, 0, 0));
  EXPECT_EQ(Wait(pid), 0);                                            // it received exactly these
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), nullptr);  // gone with its process
  EXPECT_FALSE(handset_.PostMessageW(shell, 0xC44, 0, 0) ||
               handset_.PostMessageW(nullptr, 0xC44, 0, 0));
}

// What a fresh handle of name gets with a zero time-out: 0 taken, 1 timed out.
int TryOnce(const WCHAR* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  DWORD result = WaitForSingleObject(mutex, 0);
  CloseHandle(mutex);
  return result == WAIT_OBJECT_0 ? 0 : result == WAIT_TIMEOUT ? 1 : 2;
}

using PlatformMutex = msgstore_test::DeviceTest;

TEST_F(PlatformMutex, ExcludesOtherHandlesThreadsAndProcessesOfOneRootUntilReleasedOrKilled) {
  HANDLE h[] = {CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI"),
                CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI")};
  // Handle, 'w'ait of 0 ms or 'r'elease, and whether it takes or releases.
  const std::tuple<int, char, bool> steps[] = {
      {0, 'r', false}, {0, 'w', true}, {0, 'w', true},  {1, 'w', false}, {0, 'r', true},
      {1, 'w', false}, {0, 'r', true}, {0, 'r', false}, {1, 'w', true},  {0, 'w', false}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    const auto [k, op, ok] = steps[i];
    bool done = op == 'w' ? WaitForSingleObject(h[k], 0) == WAIT_OBJECT_0 : ReleaseMutex(h[k]);
    EXPECT_EQ(done, ok) << "step " << i;
  }
  EXPECT_EQ(TryOnce(u"MUTEX_READWRITETILE"), 0);       // other names are independent
  EXPECT_EQ(TryOnce(u"a/b\\..\\MUTEX_ACCESSINI"), 0);  // a name, not a path
  auto inThread = [&h] {                               // one handle belongs to one thread at a time
    std::pair<DWORD, BOOL> result;
    std::thread([&] { result = {WaitForSingleObject(h[1], 0), ReleaseMutex(h[1])}; }).join();
    return result;
  };
  EXPECT_EQ(inThread(), std::make_pair(WAIT_TIMEOUT, FALSE));
  auto tryIn = [this](const char* root) {  // in a child process on root_ + root
    return Wait(Spawn([&](int) {
      msgstore::SetDeviceRoot(root_ + root);
      return TryOnce(u"MUTEX_ACCESSINI");
    }));
  };
  EXPECT_EQ(std::make_pair(tryIn(""), tryIn("/other")), std::make_pair(1, 0));
  EXPECT_TRUE(CloseHandle(h[1]));  // gives up what it holds
  EXPECT_EQ(tryIn(""), 0);
  pid_t holder = Spawn(
      [](int out) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
        if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0 || ::write(out, "T", 1) != 1)
          return 1;
        for (;;) ::pause();
      },
      true);
  EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_TIMEOUT);
  if (holder > 0) ::kill(holder, SIGKILL);
  EXPECT_EQ(Wait(holder), -1);
  EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);  // the dead holder's is free
  EXPECT_TRUE(ReleaseMutex(h[0]) && CloseHandle(h[0]));
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

TEST_F(PlatformRegistry, KeysAreCreatedOnceSharedBetweenProcessesOfOneRootAndQueriedAsInWin32) {
  HKEY key = reinterpret_cast<HKEY>(1), child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  DWORD disposition = 0;
  auto writer = [&](int) {
    int set = SetDword(Create(u"\\Software\\Corvane\\Email\\Accounts", &disposition), u"Id", 41);
    return set == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY ? 0 : 1;
  };
  EXPECT_EQ(Wait(Spawn(writer)), 0);
  key = Create(u"SOFTWARE\\corvane\\EMAIL\\accounts", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetDword(key, u"ID"), 41u);
  EXPECT_EQ(SetDword(key, u"Id", 42), ERROR_SUCCESS);
  EXPECT_EQ(Wait(Spawn([key](int) { return static_cast<int>(GetDword(key, u"Id")); })), 42);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\software\\CORVANE", 0, 0, &child), 0);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(child, u"Email\\Accounts", 0, KEY_QUERY_VALUE, &key), 0);
  EXPECT_EQ(GetDword(key, u"id"), 42u);
  const char16_t text[] = u"Acc1";
  ASSERT_EQ(RegSetValueExW(key, u"Id", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);  // the type is replaced too
  DWORD type = 0, size = 0;  // asking for the size only
  EXPECT_EQ(RegQueryValueExW(key, u"iD", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(std::make_pair(type, size), std::make_pair(REG_SZ, DWORD(10)));
  BYTE buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  size = 4;
  EXPECT_EQ(RegQueryValueExW(key, u"Id", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExW(key, u"Id", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_TRUE(size == 10 && std::memcmp(buffer, text, 10) == 0 && buffer[10] == 0xEE);
  EXPECT_EQ(RegQueryValueExW(key, u"Absent", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);
  for (HKEY k : {key, child}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  msgstore::SetDeviceRoot(root_ + "/other");  // another root has a registry of its own
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
