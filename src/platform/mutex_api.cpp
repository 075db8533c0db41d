// Named mutexes shared by all processes of one device root.
//
// The named mutexes of a root live in one file, ROOT/.platform/mutex/table,
// that every process maps once: a table of names, each with a robust,
// process-shared pthread mutex. Taking and letting go of a free mutex are
// atomic operations in this process's memory, without a system call; a
// waiter sleeps in the kernel only while another holds the mutex. When a
// holder dies, the kernel marks its mutexes, and the next one to take such a
// mutex makes it consistent again and holds it.
//
// Ownership belongs to a handle and, inside it, to one thread at a time, and
// is recursive, as on the handset: the pthread mutex (an error-checking one,
// owned by the thread) is taken once, and the handle counts the nested
// waits. Two handles of one name exclude each other, also in one thread: a
// thread that holds the mutex through one handle and waits for it through
// another times out (or, waiting without a time-out, fails at once rather
// than wait for itself for ever). A child made by fork shares the table with
// its parent; what the parent held stays the parent's, so every handle's
// hold ends in the child.
//
// Slots are handed out under an flock of the table file and never taken
// back; a slot counts only once its name and mutex are written. A name too
// long for a slot, a full table, or a root where the table cannot be mapped
// (a file system without shared mappings) uses a lock file instead, as
// before: an flock() on ROOT/.platform/mutex/m.<name>, opened once per
// process and kept open; the kernel drops the lock of a process that dies,
// and a child opens its lock files anew. A process decides once per root and
// name which of the two it uses; a table file that cannot be opened or locked
// at the moment (no descriptor left, say) gives no mutex that time, as a
// mutex that cannot be created, rather than a lock file that the processes
// using the table would not see. Neither tables nor lock files are removed:
// a device root that is deleted and made again under running processes
// leaves them on the old ones until they end. CreateMutexW with initialOwner
// takes the mutex only when it is free at that moment.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "msgstore/platform.h"
#include "platform/handles.h"
#include "platform/host_path.h"
#include "platform/mutex_table.h"
#include "platform/named_mutex.h"
#include "platform/sys_calls.h"

namespace msgstore {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Bumped in every child made by fork: holds of an earlier generation are the
// parent's.
std::atomic<unsigned> g_generation{0};

class MutexHandle : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kMutex;
  MutexHandle() : HandleObject(kKind) {}
  virtual DWORD Wait(DWORD milliseconds) = 0;
  virtual bool Release() = 0;
};

// ---- The shared table ---------------------------------------------------

// A mapped table of one device root, unmapped when no handle and no cache
// entry uses it.
struct MappedTable {
  MappedTable(MutexTable* table, std::string path) : table(table), path(std::move(path)) {}
  ~MappedTable() { Sys().munmap(table, sizeof(MutexTable)); }
  MappedTable(const MappedTable&) = delete;
  MappedTable& operator=(const MappedTable&) = delete;
  MutexTable* table;
  const std::string path;
};

// Runs under the table file's flock: the file is made to the table's size
// and given its header when new. *never is set when the table cannot be used
// on this root at all: a file of another size or header (another build's
// layout), or no shared mapping of it; a file that cannot be opened, locked
// or sized now may be another time.
std::shared_ptr<MappedTable> MapTable(const std::string& path, bool* never) {
  *never = false;
  UniqueFd fd(Sys().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.valid()) return nullptr;
  while (Sys().flock(fd.get(), LOCK_EX) != 0)
    if (errno != EINTR) return nullptr;
  // The mapping keeps the file open after fd closes, and the flock with it.
  struct Unlock {
    int fd;
    ~Unlock() { Sys().flock(fd, LOCK_UN); }
  } unlock{fd.get()};
  struct stat info;
  if (Sys().fstat(fd.get(), &info) != 0) return nullptr;
  const bool fresh = info.st_size == 0;
  if (fresh && Sys().ftruncate(fd.get(), sizeof(MutexTable)) != 0) return nullptr;
  *never = true;
  if (!fresh && info.st_size != static_cast<off_t>(sizeof(MutexTable))) return nullptr;
  void* at =
      Sys().mmap(nullptr, sizeof(MutexTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (at == MAP_FAILED || at == nullptr) return nullptr;
  auto mapped = std::make_shared<MappedTable>(static_cast<MutexTable*>(at), path);
  if (!InitMutexTable(mapped->table, fresh)) return nullptr;
  *never = false;
  return mapped;
}

// The slot of name, handed out under the table file's flock when no process
// has named it yet. Null with *noRoom when the table is full or the name too
// long for it, without when the file cannot be opened or locked now.
pthread_mutex_t* SlotOf(MappedTable& mapped, const std::string& name, bool* noRoom) {
  *noRoom = false;
  if (pthread_mutex_t* found = FindMutexSlot(mapped.table, name)) return found;
  UniqueFd fd(Sys().open(mapped.path.c_str(), O_RDWR | O_CLOEXEC, 0));
  if (!fd.valid()) return nullptr;
  while (Sys().flock(fd.get(), LOCK_EX) != 0)
    if (errno != EINTR) return nullptr;
  pthread_mutex_t* added = AddMutexSlot(mapped.table, name);
  *noRoom = added == nullptr;
  return added;
}

class SharedMutexHandle : public MutexHandle {
 public:
  SharedMutexHandle(std::shared_ptr<MappedTable> table, pthread_mutex_t* mutex)
      : table_(std::move(table)), mutex_(mutex) {}
  ~SharedMutexHandle() override {
    std::lock_guard<std::mutex> lock(state_);
    if (!Held()) return;
    if (owner_ == std::this_thread::get_id()) {
      ::pthread_mutex_unlock(mutex_);
    } else {
      // Only the owning thread can let go; until it ends, the mapping must
      // stay where that thread's list of held mutexes points.
      new std::shared_ptr<MappedTable>(table_);
    }
  }

  DWORD Wait(DWORD milliseconds) override {
    const std::thread::id self = std::this_thread::get_id();
    {
      std::lock_guard<std::mutex> lock(state_);
      if (Held() && owner_ == self) {
        ++count_;
        return WAIT_OBJECT_0;
      }
    }
    int result = 0;
    if (milliseconds == 0) {
      result = ::pthread_mutex_trylock(mutex_);
    } else if (milliseconds == INFINITE) {
      result = ::pthread_mutex_lock(mutex_);
    } else {
      struct timespec deadline;
      ::clock_gettime(CLOCK_MONOTONIC, &deadline);
      deadline.tv_sec += milliseconds / 1000;
      deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
      if (deadline.tv_nsec >= 1000000000) deadline.tv_sec += 1, deadline.tv_nsec -= 1000000000;
      result = ::pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &deadline);
      // This thread holds it through another handle: nobody lets go before
      // the time is up.
      if (result == EDEADLK) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    if (result == EOWNERDEAD) result = ::pthread_mutex_consistent(mutex_);  // a holder died
    if (result == EBUSY || result == ETIMEDOUT || (result == EDEADLK && milliseconds != INFINITE))
      return WAIT_TIMEOUT;
    if (result != 0) return WAIT_FAILED;
    std::lock_guard<std::mutex> lock(state_);
    owner_ = self;
    generation_ = g_generation.load(std::memory_order_relaxed);
    count_ = 1;
    return WAIT_OBJECT_0;
  }

  bool Release() override {
    std::lock_guard<std::mutex> lock(state_);
    if (!Held() || owner_ != std::this_thread::get_id()) return false;
    if (--count_ == 0) ::pthread_mutex_unlock(mutex_);
    return true;
  }

 private:
  // Caller holds state_.
  bool Held() const {
    return count_ > 0 && generation_ == g_generation.load(std::memory_order_relaxed);
  }

  std::shared_ptr<MappedTable> table_;
  pthread_mutex_t* mutex_;
  std::mutex state_;  // guards the three below
  std::thread::id owner_;
  unsigned generation_ = 0;
  int count_ = 0;
};

// ---- Lock files ---------------------------------------------------------

class FileMutexHandle;

// The lock file of one name in this process and the handle that holds it.
struct LockFile {
  explicit LockFile(UniqueFd fd) : fd(std::move(fd)) {}
  UniqueFd fd;
  std::mutex mutex;
  std::condition_variable changed;
  const FileMutexHandle* holder = nullptr;  // the handle that holds the flock
  bool taking = false;                      // a handle is waiting for the flock
};

class FileMutexHandle : public MutexHandle {
 public:
  explicit FileMutexHandle(std::shared_ptr<LockFile> file) : file_(std::move(file)) {}
  ~FileMutexHandle() override {
    std::lock_guard<std::mutex> lock(file_->mutex);
    if (file_->holder == this) Let(lock);
  }

  DWORD Wait(DWORD milliseconds) override {
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

  bool Release() override {
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
UniqueFd OpenLockFile(const std::string& root, const std::u16string& name) {
  if (!name.empty()) {
    // The lock directory is made once; only when the lock file cannot be
    // opened is it looked for (and made) again.
    const std::string path = root + "/.platform/mutex/m." + EscapeFileName(ToUtf8(name));
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

// ---- This process's tables and lock files --------------------------------

// By device root: the mapped table (null where it cannot be mapped, which is
// then not tried again); by root and name: the lock files. Tables and lock
// files that no handle uses are let go when there are many, so that a
// process that uses many device roots in turn keeps few open.
struct Known {
  std::map<std::string, std::shared_ptr<MappedTable>> tables;
  std::map<std::string, std::shared_ptr<LockFile>> files;
};
std::mutex g_knownMutex;
Known& TheKnown() {
  static auto* known = new Known();
  return *known;
}

// A fork waits until no thread uses the tables. The child keeps the mapped
// tables (what the parent holds in them stays the parent's) and lets go of
// the lock files that it shares with the parent without unlocking them, and
// opens its own when it needs them.
void LockKnown() { g_knownMutex.lock(); }
void UnlockKnown() { g_knownMutex.unlock(); }
void DetachInChild() {
  g_generation.fetch_add(1, std::memory_order_relaxed);
  for (auto& entry : TheKnown().files) {
    Sys().close(entry.second->fd.Release());
    entry.second->holder = nullptr;
  }
  TheKnown().files.clear();
  g_knownMutex.unlock();
}

template <class Map>
void LetUnused(Map& map, size_t most) {
  if (map.size() < most) return;
  for (auto entry = map.begin(); entry != map.end();)
    entry = entry->second && entry->second.use_count() == 1 ? map.erase(entry) : std::next(entry);
}

// The root's table into *table, null where it can never be mapped; false
// when it could not be opened now (tried again at the next mutex). Caller
// holds g_knownMutex.
bool TableOf(const std::string& root, std::shared_ptr<MappedTable>* table) {
  Known& known = TheKnown();
  auto it = known.tables.find(root);
  if (it != known.tables.end()) return *table = it->second, true;
  const std::string path = root + "/.platform/mutex/table";
  bool never = false;
  *table = MapTable(path, &never);
  if (!*table && !never && errno == ENOENT && !PlatformDir("mutex").empty())
    *table = MapTable(path, &never);
  if (!*table && !never) return false;
  LetUnused(known.tables, 16);
  known.tables.emplace(root, *table);
  return true;
}

// The table slots of the names used lately under the root of one version
// (DeviceRootVersion), so that a name used again is not looked up in the
// table; forgotten when the root is set again. Caller holds g_knownMutex.
struct UsedSlot {
  std::u16string name;
  std::shared_ptr<MappedTable> table;
  pthread_mutex_t* mutex;
};
struct UsedSlots {
  unsigned version = kRootNotReady;
  std::vector<UsedSlot> slots;
};
UsedSlots& TheUsedSlots() {
  static auto* used = new UsedSlots();
  return *used;
}

void NoteUsedSlot(unsigned version, std::u16string_view name,
                  const std::shared_ptr<MappedTable>& table, pthread_mutex_t* mutex) {
  UsedSlots& used = TheUsedSlots();
  if (used.version != version) {
    used.slots.clear();
    used.version = version;
  }
  constexpr size_t kMostSlots = 16;
  if (used.slots.size() < kMostSlots) used.slots.push_back({std::u16string(name), table, mutex});
}

std::shared_ptr<MutexHandle> NewMutex(std::u16string_view name) {
  if (name.empty()) {
    UniqueFd fd = OpenLockFile(UsedDeviceRoot(), std::u16string());
    if (!fd.valid()) return nullptr;
    return std::make_shared<FileMutexHandle>(std::make_shared<LockFile>(std::move(fd)));
  }
  static const int registered = ::pthread_atfork(LockKnown, UnlockKnown, DetachInChild);
  static_cast<void>(registered);
  const unsigned version = DeviceRootVersion();
  {
    std::lock_guard<std::mutex> lock(g_knownMutex);
    const UsedSlots& used = TheUsedSlots();
    if (used.version == version)
      for (const UsedSlot& slot : used.slots)
        if (slot.name == name) return std::make_shared<SharedMutexHandle>(slot.table, slot.mutex);
  }
  unsigned readyVersion = kRootNotReady;
  const std::string root = UsedDeviceRoot(&readyVersion);
  const std::string utf8 = ToUtf8(std::u16string(name));
  std::lock_guard<std::mutex> lock(g_knownMutex);
  Known& known = TheKnown();
  const std::string key = root + '\0' + utf8;
  auto it = known.files.find(key);
  if (it == known.files.end()) {
    // A table or slot that cannot be had now gives no mutex this time rather
    // than a lock file that other processes, using the table, would not see.
    std::shared_ptr<MappedTable> table;
    if (!TableOf(root, &table)) return nullptr;
    if (table) {
      bool noRoom = false;
      if (pthread_mutex_t* mutex = SlotOf(*table, utf8, &noRoom)) {
        // Only a root that is made and still the one in use.
        if (readyVersion == version) NoteUsedSlot(version, name, table, mutex);
        return std::make_shared<SharedMutexHandle>(std::move(table), mutex);
      }
      if (!noRoom) return nullptr;
    }
    UniqueFd fd = OpenLockFile(root, std::u16string(name));
    if (!fd.valid()) return nullptr;
    LetUnused(known.files, 64);
    it = known.files.emplace(key, std::make_shared<LockFile>(std::move(fd))).first;
  }
  return std::make_shared<FileMutexHandle>(it->second);
}

}  // namespace

HeldNamedMutex::HeldNamedMutex(const WCHAR* name) {
  const std::u16string_view view = WideView(name);
  if (!view.empty()) {
    const unsigned version = DeviceRootVersion();
    std::lock_guard<std::mutex> lock(g_knownMutex);
    const UsedSlots& used = TheUsedSlots();
    if (used.version == version)
      for (const UsedSlot& slot : used.slots)
        if (slot.name == view) {
          table_ = slot.table;
          slot_ = slot.mutex;
          break;
        }
  }
  if (slot_ != nullptr) {
    // As a fresh handle's wait: a holder that died leaves it to this one;
    // this thread holding it through another handle (EDEADLK) leaves it
    // not held.
    auto* mutex = static_cast<pthread_mutex_t*>(slot_);
    int result = ::pthread_mutex_lock(mutex);
    if (result == EOWNERDEAD) result = ::pthread_mutex_consistent(mutex);
    if (result != 0) slot_ = nullptr;
    return;
  }
  std::shared_ptr<MutexHandle> handle = NewMutex(view);
  if (handle) handle->Wait(INFINITE);
  handle_ = std::move(handle);
}

HeldNamedMutex::~HeldNamedMutex() {
  if (slot_ != nullptr) ::pthread_mutex_unlock(static_cast<pthread_mutex_t*>(slot_));
  if (handle_) static_cast<MutexHandle&>(*handle_).Release();
}

}  // namespace platform
}  // namespace msgstore

using msgstore::platform::MutexHandle;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES /*securityAttributes*/, BOOL initialOwner,
                    const WCHAR* name) {
  std::shared_ptr<MutexHandle> mutex =
      msgstore::platform::NewMutex(msgstore::platform::WideView(name));
  if (!mutex) return nullptr;
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
