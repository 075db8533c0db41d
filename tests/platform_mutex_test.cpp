// Named mutexes across handles, threads and processes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "msgstore/platform.h"
#include "test_support.h"

namespace {

// Runs body in a child process and returns its exit status (or -1).
int InChild(const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// What a fresh handle of name gets with a zero time-out: 0 taken, 1 timed out.
int TryOnce(const WCHAR* name) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return 9;
  DWORD result = WaitForSingleObject(mutex, 0);
  CloseHandle(mutex);
  return result == WAIT_OBJECT_0 ? 0 : result == WAIT_TIMEOUT ? 1 : 2;
}

class PlatformMutex : public msgstore_test::DeviceTest {};

TEST_F(PlatformMutex, HandlesExcludeEachOtherAndOwnershipIsRecursive) {
  HANDLE first = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  HANDLE second = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(ReleaseMutex(first));  // not owned yet
  EXPECT_EQ(WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(second, 5), WAIT_TIMEOUT);
  EXPECT_EQ(TryOnce(u"MUTEX_READWRITETILE"), 0);  // other names are independent
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);  // still held once
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_FALSE(ReleaseMutex(first));
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);

  // Closing a handle gives up what it holds.
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(first));
}

TEST_F(PlatformMutex, InitialOwnerAndBadHandles) {
  HANDLE owner = CreateMutexW(nullptr, TRUE, u"M");
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(TryOnce(u"M"), 1);
  // A mutex that someone holds already exists, so no initial ownership.
  HANDLE late = CreateMutexW(nullptr, TRUE, u"M");
  EXPECT_FALSE(ReleaseMutex(late));
  EXPECT_TRUE(ReleaseMutex(owner));
  EXPECT_EQ(TryOnce(u"M"), 0);
  CloseHandle(late);
  CloseHandle(owner);

  HANDLE odd = CreateMutexW(nullptr, FALSE, u"a/b\\..\\c %");
  EXPECT_EQ(WaitForSingleObject(odd, 0), WAIT_OBJECT_0);
  EXPECT_EQ(TryOnce(u"a/b\\..\\c %"), 1);
  EXPECT_EQ(TryOnce(u"c %"), 0);
  CloseHandle(odd);

  HANDLE file = CreateFileW(u"\\DiskOnChip\\f", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(file, 0), WAIT_FAILED);
  EXPECT_FALSE(ReleaseMutex(file));
  CloseHandle(file);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, INFINITE), WAIT_FAILED);
  EXPECT_FALSE(ReleaseMutex(nullptr));
}

TEST_F(PlatformMutex, OneHandleBelongsToOneThreadAtATime) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"T");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  DWORD otherWait = 0;
  BOOL otherRelease = TRUE;
  std::thread([&] {
    otherWait = WaitForSingleObject(mutex, 0);
    otherRelease = ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(otherWait, WAIT_TIMEOUT);
  EXPECT_FALSE(otherRelease);
  EXPECT_TRUE(ReleaseMutex(mutex));
  std::thread([&] {
    otherWait = WaitForSingleObject(mutex, 0);
    otherRelease = ReleaseMutex(mutex);
  }).join();
  EXPECT_EQ(otherWait, WAIT_OBJECT_0);
  EXPECT_TRUE(otherRelease);
  CloseHandle(mutex);
}

TEST_F(PlatformMutex, ExcludesOtherProcessesOfTheSameRootOnly) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_READWRITETILE");
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(InChild([] { return TryOnce(u"MUTEX_READWRITETILE"); }), 1);
  EXPECT_EQ(InChild([this] {
              msgstore::SetDeviceRoot(root_ + "/other");
              return TryOnce(u"MUTEX_READWRITETILE");
            }),
            0);
  ASSERT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(InChild([] { return TryOnce(u"MUTEX_READWRITETILE"); }), 0);
  CloseHandle(mutex);
}

TEST_F(PlatformMutex, KilledHolderDoesNotBlockTheNext) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
    char taken = WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0 ? 'T' : 'F';
    if (::write(ready[1], &taken, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ASSERT_GT(pid, 0);
  ::close(ready[1]);
  char taken = 0;
  EXPECT_EQ(::read(ready[0], &taken, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(taken, 'T');
  EXPECT_EQ(TryOnce(u"MUTEX_ACCESSINI"), 1);
  ::kill(pid, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"MUTEX_ACCESSINI");
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

}  // namespace
