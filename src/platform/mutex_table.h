// The layout of a device root's table of named mutexes
// (ROOT/.platform/mutex/table), which every process of the root maps: a
// header and a fixed number of slots, each a name and a robust,
// process-shared mutex. A slot counts once its state says it is ready; slots
// are filled in order, under the table file's flock, and never emptied.
#ifndef MSGSTORE_PLATFORM_MUTEX_TABLE_H_
#define MSGSTORE_PLATFORM_MUTEX_TABLE_H_

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace msgstore {
namespace platform {

struct MutexSlot {
  std::atomic<uint32_t> state;  // kSlotReady once name and mutex are written
  char name[92];                // UTF-8, ended by a 0 byte
  pthread_mutex_t mutex;
};

struct MutexTable {
  uint32_t magic;
  uint32_t version;
  uint32_t slots;
  uint32_t slotSize;
  MutexSlot slot[128];
};

constexpr uint32_t kSlotReady = 1;
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the state is shared between processes");

// Gives a fresh (zero-filled) table, or one whose header was never written,
// its header, or checks the header of one in use: false when it was laid out
// by another build. The caller holds the table file's flock.
bool InitMutexTable(MutexTable* table, bool fresh);
// The ready slot named name, or null.
pthread_mutex_t* FindMutexSlot(MutexTable* table, const std::string& name);
// The slot named name, given to it when no slot is: the caller holds the
// table file's flock. Null when the name does not fit a slot or the table is
// full.
pthread_mutex_t* AddMutexSlot(MutexTable* table, const std::string& name);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_MUTEX_TABLE_H_
