// The platform: one file whatever spelling reaches it, paths kept within the
// device root, named mutexes, and the state the default handset keeps; and
// what it keeps from one call to the next (the root in use, the host folder
// of the device folder named last, a mutex name's slot in the root's table),
// never used once the root is set again or a folder is found under another
// spelling.
#include <sys/mman.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <thread>

#include "api/folder_files.h"
#include "msgstore/device.h"
#include "msgstore/maintenance.h"
#include "msgstore/msgstore.h"
#include "msgstore/platform.h"
#include "platform/mutex_table.h"
#include "platform/sys_calls.h"
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

bool Put(const WCHAR* path, const char* text) {
  HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
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
  HANDLE file = Open(name, GENERIC_READ, OPEN_EXISTING);
  EXPECT_EQ(GetFileSize(file, nullptr), 3u);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(Put(temp, "new") && MoveFileExW(temp, name, MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Entries(draft), Names{"Old.EMAIL"});
  EXPECT_TRUE(Put(u"\\diskonchip\\user\\messaging\\email\\draft\\OLD.email", "3rd"));
  EXPECT_EQ(Entries(draft), Names{"Old.EMAIL"});
  EXPECT_EQ(Text(draft + "/Old.EMAIL"), "3rd");
  // Renamed from outside, it is found under its new spelling.
  fs::rename(draft + "/Old.EMAIL", draft + "/OLD.EMAIL");
  EXPECT_EQ(GetFileAttributesW(name), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(Put(name, "4th"));
  EXPECT_EQ(Entries(draft), Names{"OLD.EMAIL"});
  EXPECT_TRUE(DeleteFileW(name));
  EXPECT_EQ(Entries(draft), Names{});
  // Made anew, it takes the spelling asked for.
  EXPECT_TRUE(Put(name, "5th"));
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
// The same in a child process.
int TryInChild(const WCHAR* name) {
  msgstore_test::Children child;
  child.Spawn([&](int) { return TryOnce(name); });
  return child.Finish()[0];
}

// A mutex excludes the other handles, threads and processes of its root
// until released. A child made by fork shares the parent's table of mutexes:
// what the parent holds stays the parent's (an inherited handle neither
// releases nor re-enters it) until the parent lets go, and a holder killed
// without letting go leaves the mutex to the next one, whole: it can be taken
// and let go again.
TEST_F(PlatformHandset, MutexExcludesHandlesThreadsAndProcessesAndAKilledHolderLeavesItWhole) {
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
  std::pair<DWORD, BOOL> inThread;                // one handle belongs to one thread at a time
  std::thread([&] { inThread = {WaitForSingleObject(h[1], 0), ReleaseMutex(h[1])}; }).join();
  EXPECT_EQ(inThread, std::make_pair(WAIT_TIMEOUT, FALSE));
  EXPECT_EQ(TryInChild(u"MUTEX_ACCESSINI"), 1);
  EXPECT_TRUE(CloseHandle(h[1]));  // gives up what it holds
  EXPECT_EQ(TryInChild(u"MUTEX_ACCESSINI"), 0);

  ASSERT_EQ(WaitForSingleObject(h[0], INFINITE), WAIT_OBJECT_0);
  msgstore_test::Children child;
  child.Spawn([h = h[0]](int out) {
    const BOOL released = ReleaseMutex(h);
    const DWORD entered = WaitForSingleObject(h, 0);
    if (!msgstore_test::Report(out, {DWORD(released), entered})) return 1;
    const DWORD taken = WaitForSingleObject(h, 10000);
    const DWORD nested = WaitForSingleObject(h, 0);
    const BOOL let = ReleaseMutex(h) && ReleaseMutex(h);
    const DWORD again = WaitForSingleObject(h, 0);  // and is killed holding it
    if (!msgstore_test::Report(out, {taken, nested, DWORD(let), again})) return 1;
    for (;;) ::pause();
  });
  ASSERT_TRUE(child.Await(0, 2));
  EXPECT_TRUE(ReleaseMutex(h[0]));
  EXPECT_TRUE(child.Await(0, 6) && WaitForSingleObject(h[0], 0) == WAIT_TIMEOUT);
  child.Kill(0);
  EXPECT_EQ(child.Finish(), std::vector<int>{-SIGKILL});
  EXPECT_EQ(child.Words(0), (std::vector<DWORD>{FALSE, WAIT_TIMEOUT, WAIT_OBJECT_0, WAIT_OBJECT_0,
                                                TRUE, WAIT_OBJECT_0}));
  for (int round = 0; round < 2; ++round)
    EXPECT_TRUE(WaitForSingleObject(h[0], 0) == WAIT_OBJECT_0 && ReleaseMutex(h[0])) << round;
  EXPECT_TRUE(CloseHandle(h[0]));
}

// Where the shared table cannot be mapped or is another build's, where it is
// full and for a name too long for it, a mutex is a lock file of its own,
// which excludes other processes all the same.
TEST_F(PlatformHandset, MutexWithoutTheSharedTableIsALockFile) {
  const std::string dir = root_ + "/.platform/mutex/";
  std::vector<std::u16string> names;  // 130 to fill the table, then one too long for it
  std::vector<HANDLE> handles;
  for (int i = 0; i <= 130; ++i) {
    const std::string number = std::to_string(i);
    names.push_back(i < 130 ? u"MUTEX_FILL_" + std::u16string(number.begin(), number.end())
                            : u"MUTEX_" + std::u16string(90, u'L'));
    handles.push_back(CreateMutexW(nullptr, FALSE, names.back().c_str()));
  }
  EXPECT_TRUE(fs::exists(dir + "table"));
  // The table's last slot, then lock files: each excludes a fresh handle in
  // another process.
  for (size_t i : {127, 128, 129, 130}) {
    EXPECT_EQ(fs::exists(dir + "m." + msgstore_test::Ascii(names[i].c_str())), i != 127) << i;
    EXPECT_EQ(WaitForSingleObject(handles[i], 0), WAIT_OBJECT_0);
    EXPECT_EQ(TryInChild(names[i].c_str()), 1) << i;
  }
  for (HANDLE h : handles) CloseHandle(h);

  // A table file that its maker did not live to give a header is taken as a
  // new table; one of another size (another build's) is not used.
  for (const size_t size : {sizeof(msgstore::platform::MutexTable), size_t{100}}) {
    const std::string other = root_ + "/table" + std::to_string(size);
    fs::create_directories(other + "/.platform/mutex");
    std::ofstream(other + "/.platform/mutex/table") << std::string(size, '\0');
    msgstore::SetDeviceRoot(other);
    HANDLE h = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
    EXPECT_EQ(fs::exists(other + "/.platform/mutex/m.MUTEX_ACCESSINI"), size == 100) << size;
    EXPECT_TRUE(WaitForSingleObject(h, 0) == WAIT_OBJECT_0 && ReleaseMutex(h) && CloseHandle(h));
  }

  auto& sys = msgstore::platform::Sys();
  // A table file that cannot be opened at the moment gives no mutex, and the
  // table the next time.
  const auto open = sys.open;
  sys.open = [](const char* path, int flags, mode_t mode) {
    if (fs::path(path).filename() == "table") return errno = EMFILE, -1;
    return msgstore::platform::HostSysCalls().open(path, flags, mode);
  };
  msgstore::SetDeviceRoot(root_ + "/busy");
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI"), nullptr);
  sys.open = open;
  HANDLE busy = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  EXPECT_TRUE(busy != nullptr && CloseHandle(busy));
  EXPECT_TRUE(fs::exists(root_ + "/busy/.platform/mutex/table"));
  EXPECT_FALSE(fs::exists(root_ + "/busy/.platform/mutex/m.MUTEX_ACCESSINI"));

  // Another root, where no shared mapping can be made.
  const auto mmap = sys.mmap;
  sys.mmap = [](void*, size_t, int, int, int, off_t) { return errno = ENODEV, MAP_FAILED; };
  msgstore::SetDeviceRoot(root_ + "/unmapped");
  HANDLE h = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  sys.mmap = mmap;
  EXPECT_TRUE(fs::exists(root_ + "/unmapped/.platform/mutex/m.MUTEX_ACCESSINI"));
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(h));
  EXPECT_EQ(TryInChild(u"MUTEX_ACCESSINI"), 1);
  EXPECT_TRUE(ReleaseMutex(h) && !ReleaseMutex(h));
  EXPECT_EQ(TryInChild(u"MUTEX_ACCESSINI"), 0);
  EXPECT_TRUE(CloseHandle(h));
}

// The default handset keeps its state under the device root: the language,
// the card present exactly when "SD Card" is a directory (not another
// spelling's, not a file), with its busy flags beside, which the library's
// own look at the card follows; a free space cap, and counters (the SIM's
// replaced by their setters).
TEST_F(PlatformHandset, DefaultHandsetStateLivesUnderTheRoot) {
  using msgstore::DefaultPlatform;
  msgstore::SetPlatform(nullptr);
  DefaultPlatform h;
  auto card = [&h] {
    const int state = h.xGetSDCardState();
    EXPECT_EQ(msgstore::api::CardIn(), (state & 1) != 0) << state;
    return state;
  };
  const std::u16string language = h.xGetSystemLanguage();
  DefaultPlatform::SetSystemLanguage(u"DEU");
  DefaultPlatform::SetCardFlags(4);
  DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 1000);
  uint64_t space[3] = {};
  h.GetDiskFreeSpaceExW(u"\\sd card", &space[0], &space[1], &space[2]);
  const int in = card();
  RemoveCard();
  h.xSetEms_SDRecvMsgCount(5), h.xSetEms_SDReadMsgCount(2);
  for (DWORD n : {4u, 3u}) h.xSetSentSmsCountInSim(n), h.xSetUnsentSmsCountInSim(n + 3);
  EXPECT_EQ(std::make_tuple(language + h.xGetSystemLanguage(), in, card(), space[0], space[2],
                            h.xGetEms_SDRecvMsgCount(), h.xGetEms_SDReadMsgCount(),
                            h.xGetSentSmsCountInSim(), h.xGetUnsentSmsCountInSim()),
            std::make_tuple(std::u16string(u"ENGDEU"), 5, 4, uint64_t{1000}, uint64_t{1000}, 5u, 2u,
                            3u, 6u));
  fs::create_directories(Host("sd card"));
  std::ofstream(Host("SD Card")) << "not a directory";
  EXPECT_EQ(card(), 4);
  fs::remove(Host("SD Card"));
  fs::create_directories(Host("SD Card"));
  DefaultPlatform::SetCardFlags(6);
  EXPECT_EQ(card(), 7);
}

using PlatformKept = msgstore_test::DeviceTest;

// Files and mutexes go to the root set last, on the thread that set it and on
// a thread that used the root before, and back to the first root when it is
// set again.
TEST_F(PlatformKept, ARootSetAgainTakesFilesAndMutexesAtOnce) {
  const std::string other = root_ + "-other";
  fs::remove_all(other);
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

  msgstore::SetDeviceRoot(root_);
  EXPECT_EQ(TryOnce(u"MUTEX_KEPT"), 1);  // still held here
  ReleaseMutex(held);
  CloseHandle(held);

  EXPECT_EQ(Text(Host("DiskOnChip/t1")) + Text(Host("DiskOnChip/a")), "firstfirst");
  EXPECT_EQ(Text(other + "/DiskOnChip/t2") + Text(other + "/DiskOnChip/b"), "otherother");
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/t2")) || fs::exists(Host("DiskOnChip/b")));
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
// A restore looks at a folder once for the names of other spellings that its
// messages replace, and each of them is replaced; a write after the restore
// looks at the folder afresh.
TEST_F(PlatformKept, AFolderOrNamesFoundUnderOtherSpellingsAreLookedForOnce) {
  auto& sys = msgstore::platform::Sys();
  const auto open = sys.open;
  sys.open = CountedOpen;
  fs::create_directories(Host("DiskOnChip/lower"));
  for (const char* name : {"a", "b", "c"}) std::ofstream(Host("DiskOnChip/lower/") + name) << name;
  auto opensOf = [](const WCHAR* path) {
    g_opens = 0;
    HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
    const int opens = g_opens;
    EXPECT_EQ(GetFileSize(file, nullptr), 1u);
    CloseHandle(file);
    return opens;
  };
  EXPECT_GT(opensOf(u"\\DiskOnChip\\LOWER\\a"), 1);  // tried as spelled, then settled
  EXPECT_EQ(opensOf(u"\\DiskOnChip\\LOWER\\b"), 1);
  EXPECT_EQ(opensOf(u"\\DiskOnChip\\LOWER\\c"), 1);

  std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open(root_, true);
  ASSERT_TRUE(dev && dev->Init());
  const std::string draft = Host("DiskOnChip/User/MESSAGING/EMS/DRAFT");
  std::ofstream(draft + "/7.SMS") << "old seven";
  std::ofstream(draft + "/8.Sms") << "old eight";
  // How many times a restore of these drafts opens the folder.
  auto opensOfRestore = [&](std::vector<DWORD> ids) {
    msgstore::Restorer restore(*dev);
    for (size_t k = 0; k < ids.size(); ++k) {
      msgstore::Record r;
      r.folder = EMS_FOLDER_DRAFT, r.subject = u"draft " + std::u16string(1, u'0' + ids[k] % 10);
      r.indexTime = r.time = {100 - ids[k], 0x01D00000u};
      restore.Add(msgstore::StoreKind::kSms, {false, EMS_FOLDER_DRAFT, ids[k], 0}, r, k);
    }
    msgstore::Restorer::Report report;
    g_counted = draft, g_opens = 0;
    const msgstore::Result done = restore.Commit(true, &report);
    g_counted.clear();
    EXPECT_TRUE(done) << done.error;
    return g_opens.load();
  };
  // The folder is looked at as often for six names as for three.
  EXPECT_EQ(opensOfRestore({7, 8, 9}), opensOfRestore({11, 12, 13, 14, 15, 16}));
  EXPECT_EQ(Entries(draft), (Names{"11.sms", "12.sms", "13.sms", "14.sms", "15.sms", "16.sms",
                                   "7.SMS", "8.Sms", "9.sms", "EmsIni"}));
  EXPECT_EQ(dev->sms().Read({false, EMS_FOLDER_DRAFT, 8, 0}).record.subject, u"draft 8");

  std::ofstream(draft + "/10.SMS") << "made after the restore";
  tagMSGPROPS ten = Message(EMS_FOLDER_DRAFT, 0);
  EXPECT_EQ(EMSMsgStore_WriteMessage(false, &ten, 10, nullptr), 10u);
  EXPECT_EQ(Entries(draft).front(), "10.SMS");
  EXPECT_EQ(Entries(draft).size(), 11u);
  sys.open = open;
}

}  // namespace
