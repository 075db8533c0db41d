// Named mutexes shared by all processes of one device root.
//
// A named mutex is an flock() on ROOT/.platform/mutex/m.<name>. The process
// opens that lock file once and keeps it open; its handles of the name take
// turns on it, so two handles exclude each other even in one process. Inside
// a handle, ownership belongs to one thread at a time and is recursive, as on
// the handset. Between processes the flock excludes, and the kernel drops
// the lock of a process that dies. A child made by fork opens its lock files
// anew instead of sharing the parent's. Lock files are never removed: a device
// root that is deleted and made again under running processes leaves them on
// the old lock files until they end. CreateMutexW with initialOwner takes
// the mutex only when it is free at that moment (a mutex that someone holds
// already exists).
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class MutexHandle;

// The lock file of one name in this process and the handle that holds it.
struct LockFile {
  explicit LockFile(UniqueFd fd) : fd(std::move(fd)) {}
  UniqueFd fd;
  std::mutex mutex;
  std::condition_variable changed;
  const MutexHandle* holder = nullptr;  // the handle that holds the flock
  bool taking = false;                  // a handle is waiting for the flock
};

class MutexHandle : public HandleObject {
 public:
  explicit MutexHandle(std::shared_ptr<LockFile> file) : file_(std::move(file)) {}
  ~MutexHandle() override {
    std::lock_guard<std::mutex> lock(file_->mutex);
    if (file_->holder == this) Let(lock);
  }

  DWORD Wait(DWORD milliseconds) {
    bool forever = milliseconds == INFINITE;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(file_->mutex);
    if (file_->holder == this && owner_ == self) {
      ++count_;
      return WAIT_OBJECT_0;
    }
    // Another handle, or another thread through this one, holds the mutex or
    // is taking it.
    auto free = [this] { return file_->holder == nullptr && !file_->taking; };
    if (forever) {
      file_->changed.wait(lock, free);
    } else if (!file_->changed.wait_until(lock, deadline, free)) {
      return WAIT_TIMEOUT;
    }
    file_->taking = true;
    lock.unlock();
    DWORD result = TakeFileLock(forever, deadline);
    lock.lock();
    file_->taking = false;
    if (result == WAIT_OBJECT_0) {
      file_->holder = this;
      owner_ = self;
      count_ = 1;
    }
    file_->changed.notify_all();
    return result;
  }

  bool Release() {
    std::lock_guard<std::mutex> lock(file_->mutex);
    if (file_->holder != this || owner_ != std::this_thread::get_id()) return false;
    if (--count_ == 0) Let(lock);
    return true;
  }

 private:
  void Let(const std::lock_guard<std::mutex>&) {
    count_ = 0;
    file_->holder = nullptr;
    Sys().flock(file_->fd.get(), LOCK_UN);
    file_->changed.notify_all();
  }

  DWORD TakeFileLock(bool forever, Clock::time_point deadline) {
    const int fd = file_->fd.get();
    if (forever) {
      while (Sys().flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return WAIT_FAILED;
      }
      return WAIT_OBJECT_0;
    }
    for (;;) {
      if (Sys().flock(fd, LOCK_EX | LOCK_NB) == 0) return WAIT_OBJECT_0;
      if (errno != EWOULDBLOCK && errno != EINTR) return WAIT_FAILED;
      Clock::time_point now = Clock::now();
      if (now >= deadline) return WAIT_TIMEOUT;
      auto pause = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(2));
      std::this_thread::sleep_for(pause);
    }
  }

  std::shared_ptr<LockFile> file_;
  std::thread::id owner_;
  int count_ = 0;
};

// A lock file for a name, or an unlinked one for an unnamed mutex.
UniqueFd OpenLockFile(const std::u16string& name) {
  if (!name.empty()) {
    // The lock directory is made once; only when the lock file cannot be
    // opened is it looked for (and made) again.
    const std::string path =
        UsedDeviceRoot() + "/.platform/mutex/m." + EscapeFileName(ToUtf8(name));
    UniqueFd fd(Sys().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (fd.valid() || errno != ENOENT) return fd;
  }
  std::string dir = PlatformDir("mutex");
  if (dir.empty()) return UniqueFd();
  if (name.empty()) {
    // Made under a name of its own and unlinked at once.
    static std::atomic<unsigned> serial{0};
    const std::string path = dir + "/anonymous." + std::to_string(::getpid()) + "." +
                             std::to_string(serial.fetch_add(1));
    UniqueFd fd(Sys().open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.valid()) Sys().unlink(path.c_str());
    return fd;
  }
  std::string path = dir + "/m." + EscapeFileName(ToUtf8(name));
  return UniqueFd(Sys().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
}

// The lock files of this process by device root and name, kept open for
// the life of the process. When the table grows, names that no handle uses
// are let go, so that a process that uses many device roots in turn keeps few
// lock files open.
std::mutex g_tableMutex;
std::map<std::string, std::shared_ptr<LockFile>>& Table() {
  static auto* table = new std::map<std::string, std::shared_ptr<LockFile>>();
  return *table;
}

// A fork waits until no thread uses the table. The child lets go of the lock
// files that it shares with the parent without unlocking them (a lock held
// is the parent's), and opens its own when it needs them.
void LockTable() { g_tableMutex.lock(); }
void UnlockTable() { g_tableMutex.unlock(); }
void DetachInChild() {
  for (auto& entry : Table()) {
    Sys().close(entry.second->fd.Release());
    entry.second->holder = nullptr;
  }
  Table().clear();
  g_tableMutex.unlock();
}

std::shared_ptr<LockFile> LockFileOf(const std::u16string& name) {
  if (name.empty()) {
    UniqueFd fd = OpenLockFile(name);
    return fd.valid() ? std::make_shared<LockFile>(std::move(fd)) : nullptr;
  }
  static const int registered = ::pthread_atfork(LockTable, UnlockTable, DetachInChild);
  static_cast<void>(registered);
  const std::string key = UsedDeviceRoot() + '\0' + ToUtf8(name);
  std::lock_guard<std::mutex> lock(g_tableMutex);
  auto& table = Table();
  auto it = table.find(key);
  if (it != table.end()) return it->second;
  UniqueFd fd = OpenLockFile(name);
  if (!fd.valid()) return nullptr;
  if (table.size() >= 64) {
    for (auto entry = table.begin(); entry != table.end();)
      entry = entry->second.use_count() == 1 ? table.erase(entry) : std::next(entry);
  }
  auto file = std::make_shared<LockFile>(std::move(fd));
  table.emplace(key, file);
  return file;
}

}  // namespace
}  // namespace platform
}  // namespace msgstore

using msgstore::platform::MutexHandle;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES /*securityAttributes*/, BOOL initialOwner,
                    const WCHAR* name) {
  auto file = msgstore::platform::LockFileOf(msgstore::platform::FromWide(name));
  if (!file) return nullptr;
  auto mutex = std::make_shared<MutexHandle>(std::move(file));
  if (initialOwner) mutex->Wait(0);
  return msgstore::platform::AddHandle(mutex);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto mutex = msgstore::platform::FindHandleAs<MutexHandle>(handle);
  if (!mutex) return WAIT_FAILED;
  return mutex->Wait(milliseconds);
}

BOOL ReleaseMutex(HANDLE mutex) {
  auto object = msgstore::platform::FindHandleAs<MutexHandle>(mutex);
  return object && object->Release() ? TRUE : FALSE;
}
