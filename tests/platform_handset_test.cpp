// The default handset services and notice windows, shared by processes.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using msgstore::DefaultPlatform;

// Runs body in a child process and returns its exit status (or -1).
int InChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class PlatformHandset : public msgstore_test::DeviceTest {
 protected:
  DefaultPlatform handset_;
};

TEST_F(PlatformHandset, SetPlatformReplacesAndNullRestoresTheDefault) {
  EXPECT_EQ(&msgstore::GetPlatform(), &platform_);
  msgstore::SetPlatform(nullptr);
  msgstore::Platform& standard = msgstore::GetPlatform();
  EXPECT_NE(dynamic_cast<DefaultPlatform*>(&standard), nullptr);
  EXPECT_EQ(&msgstore::GetPlatform(), &standard);
  EXPECT_EQ(standard.xGetSDCardState(), 1);
  EXPECT_EQ(standard.xGetSystemLanguage(), u"ENG");
}

TEST_F(PlatformHandset, EmsCountersAddAndSimCountersReplace) {
  handset_.xSetEmsRecvMsgCount(3);
  handset_.xSetEmsRecvMsgCount(2);
  handset_.xSetEmsRecvMsgCount(-1);
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRecv"), 4u);
  handset_.xSetEmsRecvMsgCount(-10);  // never below 0
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRecv"), 0u);
  handset_.xSetEmsReadMsgCount(1);
  handset_.xSetEms_SDRecvMsgCount(5);
  handset_.xSetEms_SDReadMsgCount(2);
  handset_.xSetEms_SDReadMsgCount(1);
  EXPECT_EQ(DefaultPlatform::GetCounter("EmsRead"), 1u);
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 5u);
  EXPECT_EQ(handset_.xGetEms_SDReadMsgCount(), 3u);

  handset_.xSetSentSmsCountInSim(5);
  handset_.xSetSentSmsCountInSim(2);
  handset_.xSetUnsentSmsCountInSim(9);
  EXPECT_EQ(handset_.xGetSentSmsCountInSim(), 2u);
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 9u);
  DefaultPlatform::SetCounter("Ems_SDRecv", 0xFFFFFFFFu);
  handset_.xSetEms_SDRecvMsgCount(1);  // stays at the top
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 0xFFFFFFFFu);

  DefaultPlatform::SetCounter("NoSuchCounter", 3);
  EXPECT_EQ(DefaultPlatform::GetCounter("NoSuchCounter"), 0u);
  EXPECT_EQ(DefaultPlatform::GetCounter("emsrecv"), 0u);

  // Another device root keeps counters of its own.
  msgstore::SetDeviceRoot(root_ + "/other");
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 0u);
}

TEST_F(PlatformHandset, CountersAreSharedAndUpdatedAtomicallyAcrossProcesses) {
  EXPECT_EQ(InChild([] {
              DefaultPlatform().xSetUnsentSmsCountInSim(7);
              return 0;
            }),
            0);
  EXPECT_EQ(handset_.xGetUnsentSmsCountInSim(), 7u);

  // Two processes adding at once lose no change.
  pid_t children[2];
  for (pid_t& child : children) {
    child = ::fork();
    if (child == 0) {
      DefaultPlatform handset;
      for (int i = 0; i < 40; ++i) handset.xSetEms_SDRecvMsgCount(1);
      ::_exit(0);
    }
  }
  for (pid_t child : children) ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_EQ(handset_.xGetEms_SDRecvMsgCount(), 80u);
}

TEST_F(PlatformHandset, CardStateFollowsTheCardDirectoryAndFlags) {
  EXPECT_EQ(handset_.xGetSDCardState(), 1);
  DefaultPlatform::SetCardFlags(7);
  EXPECT_EQ(DefaultPlatform::GetCardFlags(), 6);
  EXPECT_EQ(handset_.xGetSDCardState(), 7);
  EXPECT_EQ(InChild([] { return DefaultPlatform().xGetSDCardState(); }), 7);
  RemoveCard();
  EXPECT_EQ(handset_.xGetSDCardState(), 6);
  DefaultPlatform::SetCardFlags(2);
  EXPECT_EQ(handset_.xGetSDCardState(), 2);
  fs::create_directory(Host("SD Card"));
  EXPECT_EQ(handset_.xGetSDCardState(), 3);
}

TEST_F(PlatformHandset, EjectKeepsTheCardAsideAndInsertBringsItBack) {
  ASSERT_TRUE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  std::ofstream(Host("SD Card/User/1.sms")) << "msg";
  EXPECT_FALSE(DefaultPlatform::InsertCard());  // already in
  EXPECT_TRUE(DefaultPlatform::EjectCard());
  EXPECT_FALSE(DefaultPlatform::EjectCard());
  EXPECT_FALSE(fs::exists(Host("SD Card")));
  EXPECT_EQ(handset_.xGetSDCardState() & 1, 0);
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr));

  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_EQ(handset_.xGetSDCardState() & 1, 1);
  std::ifstream in(Host("SD Card/User/1.sms"));
  std::string text;
  in >> text;
  EXPECT_EQ(text, "msg");

  // With no card ever ejected, inserting gives an empty one.
  msgstore::SetDeviceRoot(root_ + "/fresh");
  EXPECT_TRUE(DefaultPlatform::InsertCard());
  EXPECT_TRUE(fs::is_directory(root_ + "/fresh/SD Card"));
  EXPECT_TRUE(fs::is_empty(root_ + "/fresh/SD Card"));
}

TEST_F(PlatformHandset, LanguageIsPersisted) {
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"ENG");
  EXPECT_EQ(InChild([] {
              DefaultPlatform::SetSystemLanguage(u"CHT");
              return 0;
            }),
            0);
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"CHT");
  DefaultPlatform::SetSystemLanguage(u"x=\n\u00E9");
  EXPECT_EQ(handset_.xGetSystemLanguage(), u"x=\n\u00E9");
}

TEST_F(PlatformHandset, FreeSpaceIsTheVolumesCappedWhenAsked) {
  uint64_t available = 0, total = 0, free = 0;
  ASSERT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\DiskOnChip", &available, &total, &free));
  ASSERT_GT(available, 4096u);
  EXPECT_GE(total, free);
  EXPECT_GE(free, available);

  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip\\", 1000);
  ASSERT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\diskonchip\\", &available, nullptr, &free));
  EXPECT_EQ(available, 1000u);
  EXPECT_EQ(free, 1000u);
  ASSERT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\SD Card\\", &available, nullptr, nullptr));
  EXPECT_GT(available, 1000u);  // the cap is per volume
  DefaultPlatform::SetFreeSpaceCap(u"\\SD Card", 0);
  ASSERT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\SD Card", &available, nullptr, nullptr));
  EXPECT_EQ(available, 0u);

  DefaultPlatform::SetFreeSpaceCap(u"\\DiskOnChip", UINT64_MAX);
  ASSERT_TRUE(handset_.GetDiskFreeSpaceExW(u"\\DiskOnChip", &available, nullptr, nullptr));
  EXPECT_GT(available, 1000u);

  RemoveCard();
  EXPECT_FALSE(handset_.GetDiskFreeSpaceExW(u"\\SD Card", &available, nullptr, nullptr));
  EXPECT_FALSE(handset_.GetDiskFreeSpaceExW(u"\\Windows", &available, nullptr, nullptr));
  EXPECT_FALSE(handset_.GetDiskFreeSpaceExW(nullptr, &available, nullptr, nullptr));
}

class PlatformWindow : public msgstore_test::DeviceTest {
 protected:
  DefaultPlatform handset_;
};

TEST_F(PlatformWindow, MessagePostedInOneProcessIsReceivedInAnother) {
  int pipes[2][2];
  ASSERT_EQ(::pipe(pipes[0]), 0);  // child -> parent: ready, then the message
  ASSERT_EQ(::pipe(pipes[1]), 0);  // parent -> child: finish
  pid_t pid = ::fork();
  if (pid == 0) {
    msgstore::WindowEndpoint shell(u"WCE_APSHELL");
    char ready = shell.valid() ? 'R' : 'F';
    msgstore::WindowMessage message{};
    bool got = ::write(pipes[0][1], &ready, 1) == 1 && shell.Receive(&message, 20000);
    struct {
      UINT msg;
      uint64_t wParam;
      int64_t lParam;
      char16_t className[12];
    } report{};
    if (got) {
      report.msg = message.msg;
      report.wParam = message.wParam;
      report.lParam = message.lParam;
      message.className.copy(report.className, 11);
    }
    if (::write(pipes[0][1], &report, sizeof report) != sizeof report) ::_exit(1);
    char done;
    if (::read(pipes[1][0], &done, 1) != 1) ::_exit(1);
    ::_exit(0);
  }
  ASSERT_GT(pid, 0);
  char ready = 0;
  ASSERT_EQ(::read(pipes[0][0], &ready, 1), 1);
  ASSERT_EQ(ready, 'R');

  msgstore::WindowEndpoint second(u"WCE_APSHELL");
  EXPECT_FALSE(second.valid());  // the child has that class
  HWND shell = handset_.FindWindowW(u"wce_apshell", nullptr);
  ASSERT_NE(shell, nullptr);
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), shell);
  EXPECT_TRUE(handset_.PostMessageW(shell, 0xC44, UINT64_C(0x1122334455667788), -2));

  struct {
    UINT msg;
    uint64_t wParam;
    int64_t lParam;
    char16_t className[12];
  } report{};
  ASSERT_EQ(::read(pipes[0][0], &report, sizeof report), static_cast<ssize_t>(sizeof report));
  EXPECT_EQ(report.msg, 0xC44u);
  EXPECT_EQ(report.wParam, UINT64_C(0x1122334455667788));
  EXPECT_EQ(report.lParam, -2);
  EXPECT_EQ(std::u16string(report.className), u"WCE_APSHELL");

  ASSERT_EQ(::write(pipes[1][1], "x", 1), 1);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
  for (auto& p : pipes) {
    ::close(p[0]);
    ::close(p[1]);
  }
  // The window went with its process.
  EXPECT_EQ(handset_.FindWindowW(u"WCE_APSHELL", nullptr), nullptr);
  EXPECT_FALSE(handset_.PostMessageW(shell, 0xC44, 0, 0));
}

TEST_F(PlatformWindow, EndpointsBelongToOneRootAndMissingWindowsDropNotices) {
  EXPECT_EQ(handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr), nullptr);
  EXPECT_FALSE(handset_.PostMessageW(nullptr, 0x19A0, 0, 0));
  int notAWindow = 0;
  EXPECT_FALSE(handset_.PostMessageW(&notAWindow, 0x19A0, 0, 0));
  EXPECT_EQ(handset_.FindWindowW(nullptr, nullptr), nullptr);

  msgstore::WindowEndpoint app(u"WCE_CVMESSAGEEXEC");
  ASSERT_TRUE(app.valid());
  ASSERT_GE(app.fd(), 0);
  msgstore::WindowMessage message{};
  EXPECT_FALSE(app.Receive(&message, 0));  // nothing waiting
  HWND hwnd = handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(handset_.PostMessageW(hwnd, 0x19A1, 3, 4));
  EXPECT_TRUE(handset_.PostMessageW(hwnd, 0x19A2, 5, 6));
  ASSERT_TRUE(app.Receive(&message, 0));
  EXPECT_EQ(message.msg, 0x19A1u);
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_EQ(message.lParam, 4);
  ASSERT_TRUE(app.Receive(&message, -1));
  EXPECT_EQ(message.msg, 0x19A2u);

  // The same class under another root is another window.
  msgstore::SetDeviceRoot(root_ + "/other");
  EXPECT_EQ(handset_.FindWindowW(u"WCE_CVMESSAGEEXEC", nullptr), nullptr);
  EXPECT_FALSE(handset_.PostMessageW(hwnd, 0x19A4, 0, 0));
  msgstore::WindowEndpoint other(u"WCE_CVMESSAGEEXEC");
  EXPECT_TRUE(other.valid());
  msgstore::WindowEndpoint nameless(u"");
  EXPECT_FALSE(nameless.valid());
  EXPECT_FALSE(nameless.Receive(&message, 0));
}

}  // namespace
