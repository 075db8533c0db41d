// What the platform keeps from one call to the next (the root in use, the
// host folder of the device folder named last, a mutex name's slot in the
// root's table) is never used once the root is set again or a folder is
// found under another spelling.
#include <algorithm>
#include <fstream>
#include <future>
#include <thread>

#include "api/folder_files.h"
#include "msgstore/device.h"
#include "msgstore/maintenance.h"
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
std::string g_counted;  // when set, only opens of this path count
int CountedOpen(const char* path, int flags, mode_t mode) {
  if (g_counted.empty() || g_counted == path) ++g_opens;
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

namespace {

msgstore::Record Draft(DWORD time, const std::u16string& subject) {
  msgstore::Record r;
  r.folder = EMS_FOLDER_DRAFT, r.subject = subject, r.indexTime = r.time = {time, 0x01D00000u};
  return r;
}

std::vector<std::string> MessageFiles(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() != "" &&
        entry.path().filename().string().find(".tmp") == std::string::npos)
      names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A restore looks at a folder once for the names of other spellings that
// its messages replace, and each of them is replaced; a write after the
// restore looks at the folder afresh.
TEST_F(PlatformKept, ARestoreReplacesOtherSpellingsFromOneLookAtTheFolder) {
  std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open(root_, true);
  ASSERT_TRUE(dev && dev->Init());
  const std::string draft = Host("DiskOnChip/User/MESSAGING/EMS/DRAFT");
  std::ofstream(draft + "/7.SMS") << "old seven";
  std::ofstream(draft + "/8.Sms") << "old eight";
  // How many times a restore of these drafts opens the folder.
  auto opensOfRestore = [&](std::vector<DWORD> ids) {
    msgstore::Restorer restore(*dev);
    for (size_t k = 0; k < ids.size(); ++k)
      restore.Add(msgstore::StoreKind::kSms, {false, EMS_FOLDER_DRAFT, ids[k], 0},
                  Draft(100 - ids[k], u"draft " + std::u16string(1, u'0' + ids[k] % 10)), k);
    msgstore::Restorer::Report report;
    auto& sys = msgstore::platform::Sys();
    const auto open = sys.open;
    sys.open = CountedOpen;
    g_counted = draft;
    g_opens = 0;
    const msgstore::Result done = restore.Commit(true, &report);
    sys.open = open;
    g_counted.clear();
    EXPECT_TRUE(done) << done.error;
    return g_opens.load();
  };
  // The folder is looked at as often for six names as for three.
  EXPECT_EQ(opensOfRestore({7, 8, 9}), opensOfRestore({11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(MessageFiles(draft),
            (std::vector<std::string>{"11.sms", "12.sms", "13.sms", "14.sms", "15.sms", "16.sms",
                                      "7.SMS", "8.Sms", "9.sms"}));
  EXPECT_EQ(dev->sms().Read({false, EMS_FOLDER_DRAFT, 8, 0}).record.subject, u"draft 8");

  std::ofstream(draft + "/10.SMS") << "made after the restore";
  tagMSGPROPS ten = {};
  ten.dwFolder = EMS_FOLDER_DRAFT;
  EXPECT_EQ(EMSMsgStore_WriteMessage(false, &ten, 10, nullptr), 10u);
  EXPECT_EQ(MessageFiles(draft).front(), "10.SMS");
  EXPECT_EQ(MessageFiles(draft).size(), 10u);
}

}  // namespace
