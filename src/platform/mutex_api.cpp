// Named mutexes shared by all processes of one device root.
//
// A named mutex is an flock() on ROOT/.platform/mutex/m.<name>. Each handle
// opens the lock file on its own, so two handles exclude each other even in
// one process, and the kernel drops the lock of a process that dies. Inside
// a handle, ownership belongs to one thread at a time and is recursive, as on
// the handset. CreateMutexW with initialOwner takes the mutex only when it is
// free at that moment (a mutex that someone holds already exists).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"

namespace msgstore {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class MutexObject : public HandleObject {
 public:
  explicit MutexObject(UniqueFd fd) : fd_(std::move(fd)) {}
  ~MutexObject() override {
    if (count_ > 0) ::flock(fd_.get(), LOCK_UN);
  }

  DWORD Wait(DWORD milliseconds) {
    bool forever = milliseconds == INFINITE;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    if (count_ > 0 && owner_ == self) {
      ++count_;
      return WAIT_OBJECT_0;
    }
    // Another thread of this process owns the handle, or is taking it.
    auto free = [this] { return count_ == 0 && !taking_; };
    if (forever) {
      changed_.wait(lock, free);
    } else if (!changed_.wait_until(lock, deadline, free)) {
      return WAIT_TIMEOUT;
    }
    taking_ = true;
    lock.unlock();
    DWORD result = TakeFileLock(forever, deadline);
    lock.lock();
    taking_ = false;
    if (result == WAIT_OBJECT_0) {
      owner_ = self;
      count_ = 1;
    }
    changed_.notify_all();
    return result;
  }

  bool Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ == 0 || owner_ != std::this_thread::get_id()) return false;
    if (--count_ == 0) {
      ::flock(fd_.get(), LOCK_UN);
      changed_.notify_all();
    }
    return true;
  }

 private:
  DWORD TakeFileLock(bool forever, Clock::time_point deadline) {
    if (forever) {
      while (::flock(fd_.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return WAIT_FAILED;
      }
      return WAIT_OBJECT_0;
    }
    for (;;) {
      if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return WAIT_OBJECT_0;
      if (errno != EWOULDBLOCK && errno != EINTR) return WAIT_FAILED;
      Clock::time_point now = Clock::now();
      if (now >= deadline) return WAIT_TIMEOUT;
      auto pause = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(2));
      std::this_thread::sleep_for(pause);
    }
  }

  UniqueFd fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread::id owner_;
  int count_ = 0;
  bool taking_ = false;
};

// A lock file for a name, or an unlinked one for an unnamed mutex.
UniqueFd OpenLockFile(const std::u16string& name) {
  if (!name.empty()) {
    // The lock directory is made once; only when the lock file cannot be
    // opened is it looked for (and made) again.
    const std::string path =
        UsedDeviceRoot() + "/.platform/mutex/m." + EscapeFileName(ToUtf8(name));
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.valid() || errno != ENOENT) return fd;
  }
  std::string dir = PlatformDir("mutex");
  if (dir.empty()) return UniqueFd();
  if (name.empty()) {
    std::string pattern = dir + "/anonymous.XXXXXX";
    UniqueFd fd(::mkostemp(&pattern[0], O_CLOEXEC));
    if (fd.valid()) ::unlink(pattern.c_str());
    return fd;
  }
  std::string path = dir + "/m." + EscapeFileName(ToUtf8(name));
  return UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
}

}  // namespace
}  // namespace platform
}  // namespace msgstore

using msgstore::platform::MutexObject;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES /*securityAttributes*/, BOOL initialOwner,
                    const WCHAR* name) {
  msgstore::platform::UniqueFd fd =
      msgstore::platform::OpenLockFile(msgstore::platform::FromWide(name));
  if (!fd.valid()) return nullptr;
  auto mutex = std::make_shared<MutexObject>(std::move(fd));
  if (initialOwner) mutex->Wait(0);
  return msgstore::platform::AddHandle(mutex);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto mutex = msgstore::platform::FindHandleAs<MutexObject>(handle);
  if (!mutex) return WAIT_FAILED;
  return mutex->Wait(milliseconds);
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto object = msgstore::platform::FindHandleAs<MutexObject>(mutex);
  return object && object->Release() ? TRUE : FALSE;
}
