// The platform: device paths, file functions, directory enumeration, and what
// the processes of one device root share: the default handset services, notice
// windows, named mutexes and the registry.
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
using Names = std::vector<std::string>;
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

// The content of a host file, "(none)" when there is no such regular file.
std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return fs::is_regular_file(path) ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

// The names in dir: sorted, or as the directory gives them among those in only.
Names Entries(const std::string& dir, const Names* only = nullptr) {
  Names names;
  for (const auto& entry : fs::directory_iterator(dir))
    if (!only || std::count(only->begin(), only->end(), entry.path().filename().string()))
      names.push_back(entry.path().filename());
  if (!only) std::sort(names.begin(), names.end());
  return names;
}

HANDLE Open(const WCHAR* name, DWORD access, DWORD disposition) {
  return CreateFileW(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

using PlatformFiles = msgstore_test::DeviceTest;

TEST_F(PlatformFiles, PathsResolveIgnoringCaseWithinTheRootInUtf8) {
  fs::create_directories(Host("DiskOnChip/User/MESSAGING/Email"));
  const std::pair<std::u16string, std::string> cases[] = {
      {u"\\DiskOnChip\\USER\\messaging\\EMAIL\\INBOX\\1.email",
       "/DiskOnChip/User/MESSAGING/Email/INBOX/1.email"},
      {u"\\", ""},
      {u"/DiskOnChip//User/./x", "/DiskOnChip/User/x"},
      {u"\\..\\..\\etc\\..\\..\\passwd", "/passwd"},
      {std::u16string(u"\\a\0\\b", 5), "/a"},
      {u"\\Gr\u00FC\u00DFe\U0001F600.txt", u8"/Gr\u00FC\u00DFe\U0001F600.txt"},
      {std::u16string(u"\\x") + char16_t(0xD800), "/x\xEF\xBF\xBD"}};  // lone surrogate
  for (const auto& [device, host] : cases) EXPECT_EQ(msgstore::HostPath(device), root_ + host);
}

TEST_F(PlatformFiles, CreatesOnlyWhatIsMissingKeepingItsSpellingAndNeedsTheCard) {
  fs::create_directories(Host("DiskOnChip/User/MESSAGING/Email"));
  const std::pair<const WCHAR*, BOOL> steps[] = {
      {u"\\DiskOnChip\\User\\MESSAGING\\EMAIL", FALSE},  // exists under another spelling
      {u"\\DISKONCHIP\\USER\\MESSAGING\\EMAIL\\Inbox", TRUE},
      {u"\\DiskOnChip\\A\\B", FALSE},  // no parents are made
      {u"\\SD Card\\User", TRUE},
      {u"\\SD Card\\User", FALSE}};
  for (const auto& [path, made] : steps) EXPECT_EQ(CreateDirectoryW(path, nullptr), made);
  EXPECT_TRUE(CloseHandle(
      Open(u"\\diskonchip\\user\\messaging\\email\\INBOX\\New.EMAIL", GENERIC_WRITE, CREATE_NEW)));
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING")), Names{"Email"});
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email")), Names{"Inbox"});
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email/Inbox")), Names{"New.EMAIL"});
  RemoveCard();
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr) ||
               CreateDirectoryW(u"\\sd card", nullptr));
  EXPECT_EQ(Open(u"\\SD Card\\x", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  msgstore::SetDeviceRoot(root_ + "/fresh/");  // made on first use with the phone volume only
  EXPECT_EQ(msgstore::GetDeviceRoot(), root_ + "/fresh");
  EXPECT_FALSE(fs::exists(root_ + "/fresh"));
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Entries(root_ + "/fresh"), Names{"DiskOnChip"});
}

TEST_F(PlatformFiles, WritesReadsSeeksAndSizes) {
  const WCHAR* name = u"\\DiskOnChip\\data.bin";
  HANDLE file = Open(name, kReadWrite, CREATE_NEW);
  DWORD done = 99, high = 7;
  char buffer[16] = {};
  EXPECT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr) && done == 11);
  EXPECT_TRUE(GetFileSize(file, &high) == 11 && high == 0);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done == 0);
  for (const auto& [distance, method, at] : {std::tuple{-5, FILE_END, 6u},
                                             {-2, FILE_CURRENT, 4u},
                                             {1, FILE_BEGIN, 1u},
                                             {-100, FILE_BEGIN, ~0u}})
    EXPECT_EQ(SetFilePointer(file, distance, nullptr, method), at);
  EXPECT_TRUE(WriteFile(file, "EL", 2, &done, nullptr));  // at 1: the failed seek moved nothing
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr) || CloseHandle(file));  // closed
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
  HANDLE reader = Open(name, GENERIC_READ, OPEN_EXISTING);  // rights are kept per handle
  HANDLE writer = Open(name, GENERIC_WRITE, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr) || ReadFile(writer, buffer, 1, &done, 0));
  EXPECT_TRUE(CloseHandle(reader) && CloseHandle(writer));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/data.bin")), "hELlo world");
}

TEST_F(PlatformFiles, CreationDispositions) {
  // Content before, disposition, whether it opens, content after.
  const std::tuple<const char*, DWORD, bool, const char*> cases[] = {
      {"(none)", OPEN_EXISTING, false, "(none)"}, {"(none)", TRUNCATE_EXISTING, false, "(none)"},
      {"(none)", OPEN_ALWAYS, true, ""},          {"(none)", CREATE_NEW, true, ""},
      {"(none)", CREATE_ALWAYS, true, ""},        {"abc", OPEN_EXISTING, true, "abc"},
      {"abc", OPEN_ALWAYS, true, "abc"},          {"abc", TRUNCATE_EXISTING, true, ""},
      {"abc", CREATE_ALWAYS, true, ""},           {"abc", CREATE_NEW, false, "abc"}};
  std::string host = Host("DiskOnChip/f");
  for (const auto& [before, disposition, opens, after] : cases) {
    fs::remove(host);
    if (std::string(before) != "(none)") std::ofstream(host) << before;
    HANDLE file = Open(u"\\DiskOnChip\\f", kReadWrite, disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE && CloseHandle(file), opens) << disposition;
    EXPECT_EQ(ReadHost(host), after) << disposition;
  }
  // Truncating needs write access; directories and missing parents never open.
  EXPECT_EQ(Open(u"\\DiskOnChip\\f", GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadHost(host), "abc");
  fs::create_directories(Host("DiskOnChip/dir"));
  for (const WCHAR* name : {u"\\DiskOnChip\\DIR", u"\\DiskOnChip\\nodir\\f"})
    EXPECT_EQ(Open(name, kReadWrite, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
}

TEST_F(PlatformFiles, AttributesCopyAndDelete) {
  fs::create_directories(Host("dir"));
  std::ofstream(Host("a.txt")) << "first";
  std::ofstream(Host("b.txt")) << "second";
  EXPECT_EQ(GetFileAttributesW(u"\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"\\Dir"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"\\A.TXT"), FILE_ATTRIBUTE_NORMAL);
  // From, to, failIfExists, whether it copies, the host target and its content after.
  const std::tuple<const WCHAR*, const WCHAR*, BOOL, BOOL, const char*, const char*> copies[] = {
      {u"\\a.txt", u"\\B.txt", TRUE, FALSE, "b.txt", "second"},
      {u"\\a.txt", u"\\B.txt", FALSE, TRUE, "b.txt", "first"},
      {u"\\a.txt", u"\\c.txt", TRUE, TRUE, "c.txt", "first"},
      {u"\\a.txt", u"\\A.txt", FALSE, FALSE, "a.txt", "first"},  // itself
      {u"\\none", u"\\d.txt", FALSE, FALSE, "d.txt", "(none)"},
      {u"\\a.txt", u"\\dir", FALSE, FALSE, "dir", "(none)"}};
  for (const auto& [from, to, failIfExists, copied, target, content] : copies) {
    EXPECT_EQ(CopyFileW(from, to, failIfExists), copied) << target;
    EXPECT_EQ(ReadHost(Host(target)), content) << target;
  }
  EXPECT_FALSE(DeleteFileW(u"\\dir") || DeleteFileW(u"\\missing"));
  EXPECT_TRUE(DeleteFileW(u"\\C.TXT"));
  EXPECT_EQ(Entries(root_), (Names{"DiskOnChip", "SD Card", "a.txt", "b.txt", "dir"}));
}

// A file is read, replaced by a rename, made again and removed under other
// spellings of its name and folder, and always stays the one file on disk.
TEST_F(PlatformFiles, OneFileWhateverSpellingReadsReplacesOrRemovesIt) {
  const std::string draft = Host("DiskOnChip/User/MESSAGING/Email/DRAFT");
  fs::create_directories(draft);
  std::ofstream(draft + "/Old.EMAIL") << "old";
  const WCHAR* name = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\old.email";
  const WCHAR* temp = u"\\DiskOnChip\\User\\MESSAGING\\EMAIL\\DRAFT\\old.email.1.0.tmp";
  auto write = [](const WCHAR* path, const char* text) {
    HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    DWORD done = 0;
    return file != INVALID_HANDLE_VALUE && WriteFile(file, text, 3, &done, nullptr) &&
           CloseHandle(file);
  };
  HANDLE file = Open(name, GENERIC_READ, OPEN_EXISTING);
  EXPECT_EQ(GetFileSize(file, nullptr), 3u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(write(temp, "new") && MoveFileExW(temp, name, MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Entries(draft), Names{"Old.EMAIL"});
  EXPECT_TRUE(write(u"\\diskonchip\\user\\messaging\\email\\draft\\OLD.email", "3rd"));
  EXPECT_EQ(Entries(draft), Names{"Old.EMAIL"});
  EXPECT_EQ(ReadHost(draft + "/Old.EMAIL"), "3rd");
  // Renamed from outside, it is found under its new spelling.
  fs::rename(draft + "/Old.EMAIL", draft + "/OLD.EMAIL");
  EXPECT_EQ(GetFileAttributesW(name), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(write(name, "4th"));
  EXPECT_EQ(Entries(draft), Names{"OLD.EMAIL"});
  EXPECT_TRUE(DeleteFileW(name));
  EXPECT_EQ(Entries(draft), Names{});
  // Made anew, it takes the spelling asked for.
  EXPECT_TRUE(write(name, "5th"));
  EXPECT_EQ(Entries(draft), Names{"old.email"});
}

// Names found for a pattern, in the order given; "!" when nothing is found.
Names Find(const std::u16string& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return {"!"};
  Names names;
  do {
    const std::u16string name = data.cFileName;  // the test's names are ASCII
    names.emplace_back(name.begin(), name.end());
  } while (FindNextFileW(find, &data));
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindNextFileW(find, &data));
  return names;
}

TEST_F(PlatformFiles, FindMatchesWildcardsIgnoringCaseInDirectoryOrder) {
  const std::string dir = Host("DiskOnChip/Folder");
  fs::create_directories(dir + "/sub.sms");
  for (const char* name : {"/1.sms", "/22.SMS", "/3.smsx"}) std::ofstream(dir + name);
  std::ofstream(dir + "/EmsIni");
  const Names sms = {"1.sms", "22.SMS", "sub.sms"}, all = Entries(dir);
  const std::pair<std::u16string, Names> cases[] = {
      {u"\\DISKONCHIP\\folder\\*.sms", Entries(dir, &sms)},
      {u"\\DiskOnChip\\Folder\\?.SMS", {"1.sms"}},
      {u"\\DiskOnChip\\Folder\\emsini", {"EmsIni"}},
      {u"\\DiskOnChip\\Folder\\*ini*", {"EmsIni"}},
      {u"\\DiskOnChip\\Folder\\*", Entries(dir, &all)},
      {u"\\DiskOnChip\\Folder\\*.*", Entries(dir, &all)},
      {u"\\DiskOnChip\\Folder\\??.sms?", {"!"}},
      {u"\\DiskOnChip\\Missing\\*.sms", {"!"}},
      {u"\\DiskOnChip\\Folder\\", {"!"}}};
  for (const auto& [pattern, names] : cases)
    EXPECT_EQ(Find(pattern), names) << std::string(pattern.begin(), pattern.end());
  WIN32_FIND_DATAW data;
  EXPECT_TRUE(CloseHandle(FindFirstFileW(u"\\DiskOnChip\\Folder\\EMSINI", &data)));  // a search too
}

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

// Beside the tool's watch test: wide parameters, names in any case, one root.
TEST_F(PlatformHandset, WindowMessagesGoToTheProcessOfTheClassInOneRoot) {
  const WPARAM wide = UINT64_C(0x1122334455667788);
  pid_t pid = Spawn(
      [wide](int out) {
        msgstore::WindowEndpoint shell(u"WCE_APSHELL");
        msgstore::WindowMessage m{};
        if (!shell.valid() || ::write(out, "R", 1) != 1 || !shell.Receive(&m, 20000)) return 1;
        return m.className == u"WCE_APSHELL" && m.msg == 0xC44 && m.wParam == wide && m.lParam == -2
                   ? 0
                   : 2;
      },
      true);
  msgstore::SetDeviceRoot(root_ + "/other");  // the same class there is another window
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), nullptr);
  msgstore::SetDeviceRoot(root_);
  HWND shell = handset_.FindWindowW(u"wce_apshell", nullptr);
  EXPECT_TRUE(handset_.PostMessageW(shell, 0xC44, wide, -2));
  EXPECT_EQ(Wait(pid), 0);
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

TEST_F(PlatformHandset,
       MutexExcludesOtherHandlesThreadsAndProcessesOfOneRootUntilReleasedOrKilled) {
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

// The DWORD value of name, or 0xDEAD when there is no such DWORD.
DWORD GetDword(HKEY key, const WCHAR* name) {
  DWORD value = 0, type = 0, size = sizeof value;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  return result == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? value : 0xDEAD;
}

TEST_F(PlatformHandset,
       RegistryKeysAreCreatedOnceSharedBetweenProcessesOfOneRootAndQueriedAsInWin32) {
  HKEY key = reinterpret_cast<HKEY>(1), child = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  DWORD disposition = 0;
  auto create = [&](const WCHAR* path) {
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    &disposition);
    return disposition;
  };
  auto set = [&](const WCHAR* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  };
  const DWORD value = 41;
  EXPECT_EQ(Wait(Spawn([&](int) {
              return create(u"\\Software\\Corvane\\Email\\Accounts") == REG_CREATED_NEW_KEY
                         ? set(u"Id", REG_DWORD, &value, 4)
                         : 1;
            })),
            0);
  EXPECT_EQ(create(u"SOFTWARE\\corvane\\EMAIL\\accounts"), REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetDword(key, u"ID"), 41u);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\software\\CORVANE", 0, 0, &child), 0);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(child, u"Email\\Accounts", 0, KEY_QUERY_VALUE, &key), 0);
  const char16_t text[] = u"Acc1";
  ASSERT_EQ(set(u"Id", REG_SZ, text, sizeof text), ERROR_SUCCESS);  // the type is replaced too
  EXPECT_EQ(Wait(Spawn([key](int) {
              DWORD type = 0, size = 0;  // asking for the size only
              return RegQueryValueExW(key, u"iD", nullptr, &type, nullptr, &size)
                         ? 0
                         : int(type * 16 + size);
            })),
            REG_SZ * 16 + 10);
  DWORD type = 0, size = 4;
  BYTE buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
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
