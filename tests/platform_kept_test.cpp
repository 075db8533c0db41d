// What the platform keeps from one call to the next (the root in use, the
// host folder of the device folder named last, a mutex name's slot in the
// root's table) is never used once the root is set again or a folder is
// found under another spelling.
#include <fstream>
#include <future>
#include <thread>

#include "api/folder_files.h"
#include "msgstore/msgstore.h"
#include "msgstore/platform.h"
#include "platform/sys_calls.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using PlatformKept = msgstore_test::DeviceTest;

bool Put(const WCHAR* path, const char* text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  const DWORD size = static_cast<DWORD>(std::strlen(text));
  return file != INVALID_HANDLE_VALUE && WriteFile(file, text, size, &done, nullptr) &&
         CloseHandle(file);
}

std::string Text(const std::string& host) {
  std::string text;
  std::ifstream(host) >> text;
  return text;
}

// 0 taken by a fresh handle, 1 timed out, 2 failed.
int TryOnce(const WCHAR* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  const DWORD result = WaitForSingleObject(mutex, 0);
  CloseHandle(mutex);
  return result == WAIT_OBJECT_0 ? 0 : result == WAIT_TIMEOUT ? 1 : 2;
}

// Files and mutexes go to the root set last, on the thread that set it and on
// a thread that used the root before, and back to the first root when it is
// set again; a read of a message goes to the same root as its write.
TEST_F(PlatformKept, ARootSetAgainTakesFilesAndMutexesAtOnce) {
  const std::string other = root_ + "-other";
  fs::remove_all(other);
  const std::string first = root_;
  std::promise<void> switched;
  std::promise<bool> before;
  std::thread user([&] {
    before.set_value(Put(u"\\DiskOnChip\\t1", "first"));
    switched.get_future().wait();
    Put(u"\\DiskOnChip\\t2", "other");
  });
  ASSERT_TRUE(before.get_future().get());
  ASSERT_TRUE(Put(u"\\DiskOnChip\\a", "first"));
  HANDLE held = CreateMutexW(nullptr, FALSE, u"MUTEX_KEPT");
  ASSERT_EQ(WaitForSingleObject(held, 0), WAIT_OBJECT_0);
  EXPECT_EQ(TryOnce(u"MUTEX_KEPT"), 1);

  msgstore::SetDeviceRoot(other);
  switched.set_value();
  user.join();
  EXPECT_TRUE(Put(u"\\DiskOnChip\\b", "other"));
  EXPECT_EQ(TryOnce(u"MUTEX_KEPT"), 0);  // the other root's own mutex
  EMSMsgStore_CreateDir(false);
  tagMSGPROPS m = Message(2, 5, 0, u"in the other root");
  const DWORD oid = EMSMsgStore_WriteMessage(false, &m, 0, nullptr);
  EXPECT_NE(oid, 0u);
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(EMSMsgStore_GetFilePath(false, oid, 2, path));
  tagMSGPROPS read = {};
  EXPECT_EQ(EMSMsgStore_ReadFromFile(path, &read, true), 1);
  EXPECT_EQ(std::u16string(read.pszSubject ? read.pszSubject : u""), u"in the other root");
  EMSMsgStore_FreeMsgProps(&read);

  msgstore::SetDeviceRoot(first);
  EXPECT_EQ(TryOnce(u"MUTEX_KEPT"), 1);                       // still held here
  EXPECT_EQ(EMSMsgStore_ReadFromFile(path, &read, true), 0);  // written in the other root only
  EMSMsgStore_FreeMsgProps(&read);
  ReleaseMutex(held);
  CloseHandle(held);

  EXPECT_EQ(Text(first + "/DiskOnChip/t1") + Text(first + "/DiskOnChip/a"), "firstfirst");
  EXPECT_EQ(Text(other + "/DiskOnChip/t2") + Text(other + "/DiskOnChip/b"), "otherother");
  EXPECT_FALSE(fs::exists(first + "/DiskOnChip/t2") || fs::exists(first + "/DiskOnChip/b"));
  EXPECT_TRUE(fs::exists(other + "/.platform/mutex/table"));
  fs::remove_all(other);
}

std::atomic<int> g_opens{0};
int CountedOpen(const char* path, int flags, mode_t mode) {
  ++g_opens;
  return msgstore::platform::HostSysCalls().open(path, flags, mode);
}

// Once a folder is found under another spelling, the files named in it are
// opened there at the first try, also right after the folder named before it.
TEST_F(PlatformKept, AFolderFoundUnderAnotherSpellingIsOpenedThereFirst) {
  fs::create_directories(Host("DiskOnChip/lower"));
  for (const char* name : {"a", "b", "c"}) std::ofstream(Host("DiskOnChip/lower/") + name) << name;
  auto opensOf = [](const WCHAR* path) {
    g_opens = 0;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const int opens = g_opens;
    EXPECT_EQ(GetFileSize(file, nullptr), 1u);
    CloseHandle(file);
    return opens;
  };
  auto& sys = msgstore::platform::Sys();
  const auto open = sys.open;
  sys.open = CountedOpen;
  EXPECT_GT(opensOf(u"\\DiskOnChip\\LOWER\\a"), 1);  // tried as spelled, then settled
  EXPECT_EQ(opensOf(u"\\DiskOnChip\\LOWER\\b"), 1);
  EXPECT_EQ(opensOf(u"\\DiskOnChip\\LOWER\\c"), 1);
  sys.open = open;
}

}  // namespace

namespace {

// With the default handset, a card is in exactly when its directory is, as
// its card state's bit 1 says, whatever the card's flags.
TEST_F(PlatformKept, TheDefaultCardIsInExactlyWhenItsDirectoryIs) {
  msgstore::SetPlatform(nullptr);
  auto in = [] {
    const bool state = (msgstore::GetPlatform().xGetSDCardState() & 1) != 0;
    EXPECT_EQ(msgstore::api::CardIn(), state);
    return state;
  };
  const std::string card = Host("SD Card");
  EXPECT_TRUE(in());
  msgstore::DefaultPlatform::SetCardFlags(6);
  EXPECT_TRUE(in());
  fs::remove_all(card);
  EXPECT_FALSE(in());
  fs::create_directories(Host("sd card"));
  EXPECT_FALSE(in());
  std::ofstream(card) << "not a directory";
  EXPECT_FALSE(in());
  fs::remove(card);
  fs::create_directories(card);
  msgstore::DefaultPlatform::SetCardFlags(0);
  EXPECT_TRUE(in());
}

}  // namespace
