// The platform: one file whatever spelling reaches it, paths kept within the
// device root, named mutexes, and the state the default handset keeps.
#include <fstream>
#include <thread>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names Entries(const std::string& dir) {
  Names names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

HANDLE Open(const WCHAR* name, DWORD access, DWORD disposition) {
  return CreateFileW(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

using PlatformFiles = msgstore_test::DeviceTest;

// A file is read, replaced by a rename, made again and removed under other
// spellings of its name and folder, and always stays the one file on disk.
TEST_F(PlatformFiles, OneFileWhateverSpellingReadsReplacesOrRemovesIt) {
  EXPECT_EQ(msgstore::HostPath(u"\\..\\..\\etc\\..\\..\\passwd"), root_ + "/passwd");
  const std::string draft = Host("DiskOnChip/User/MESSAGING/Email/DRAFT");
  fs::create_directories(draft);
  std::ofstream(draft + "/Old.EMAIL") << "old";
  EXPECT_FALSE(CreateDirectoryW(u"\\DISKONCHIP\\user\\MESSAGING\\email\\Draft", nullptr));
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email")), Names{"DRAFT"});
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
  std::string text;
  EXPECT_EQ((std::ifstream(draft + "/Old.EMAIL") >> text, text), "3rd");
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

using PlatformHandset = msgstore_test::DeviceTest;

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
  EXPECT_EQ(TryOnce(u"MUTEX_READWRITETILE"), 0);  // other names are independent
  auto inThread = [&h] {                          // one handle belongs to one thread at a time
    std::pair<DWORD, BOOL> result;
    std::thread([&] { result = {WaitForSingleObject(h[1], 0), ReleaseMutex(h[1])}; }).join();
    return result;
  };
  EXPECT_EQ(inThread(), std::make_pair(WAIT_TIMEOUT, FALSE));
  auto tryIn = [this](const char* root) {  // in a child process on root_ + root
    msgstore_test::Children child;
    child.Spawn(
        [&](int) { return msgstore::SetDeviceRoot(root_ + root), TryOnce(u"MUTEX_ACCESSINI"); });
    return child.Finish()[0];
  };
  EXPECT_EQ(std::make_pair(tryIn(""), tryIn("/other")), std::make_pair(1, 0));
  EXPECT_TRUE(CloseHandle(h[1]));  // gives up what it holds
  EXPECT_EQ(tryIn(""), 0);
  msgstore_test::Children holder;
  holder.Spawn([](int out) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0 || !msgstore_test::Report(out, {1}))
      return 1;
    for (;;) ::pause();
  });
  EXPECT_TRUE(holder.Await(0, 1) && WaitForSingleObject(h[0], 0) == WAIT_TIMEOUT);
  holder.Kill(0);
  EXPECT_EQ(holder.Finish(), std::vector<int>{-SIGKILL});
  EXPECT_EQ(WaitForSingleObject(h[0], 0), WAIT_OBJECT_0);  // the dead holder's is free
  EXPECT_TRUE(ReleaseMutex(h[0]) && CloseHandle(h[0]));
}

// The default handset keeps its state under the device root: the language,
// the card present exactly when "SD Card" exists with its busy flags, a free
// space cap, and counters (the SIM's replaced by their setters).
TEST_F(PlatformHandset, DefaultHandsetStateLivesUnderTheRoot) {
  using msgstore::DefaultPlatform;
  DefaultPlatform h;
  const std::u16string language = h.xGetSystemLanguage();
  DefaultPlatform::SetSystemLanguage(u"DEU");
  DefaultPlatform::SetCardFlags(4);
  DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 1000);
  uint64_t space[3] = {};
  h.GetDiskFreeSpaceExW(u"\\sd card", &space[0], &space[1], &space[2]);
  const int card = h.xGetSDCardState();
  RemoveCard();
  h.xSetEms_SDRecvMsgCount(5), h.xSetEms_SDReadMsgCount(2);
  for (DWORD n : {4u, 3u}) h.xSetSentSmsCountInSim(n), h.xSetUnsentSmsCountInSim(n + 3);
  EXPECT_EQ(std::make_tuple(language + h.xGetSystemLanguage(), card, h.xGetSDCardState(), space[0],
                            space[2], h.xGetEms_SDRecvMsgCount(), h.xGetEms_SDReadMsgCount(),
                            h.xGetSentSmsCountInSim(), h.xGetUnsentSmsCountInSim()),
            std::make_tuple(std::u16string(u"ENGDEU"), 5, 4, uint64_t{1000}, uint64_t{1000}, 5u, 2u,
                            3u, 6u));
}

}  // namespace
