// The table of named mutexes of a device root.
#include "platform/mutex_table.h"

#include <cstring>

namespace msgstore {
namespace platform {
namespace {

constexpr uint32_t kMagic = 0x5854554D;  // "MUTX"
constexpr uint32_t kVersion = 1;
constexpr uint32_t kSlots = sizeof(MutexTable::slot) / sizeof(MutexSlot);

bool Named(const MutexSlot& slot, const std::string& name) {
  return std::strncmp(slot.name, name.c_str(), sizeof(slot.name)) == 0;
}

}  // namespace

bool InitMutexTable(MutexTable* table, bool fresh) {
  // A table without a header is new, also when the process that made the
  // file died before writing it.
  if (fresh || table->magic == 0) {
    table->magic = kMagic;
    table->version = kVersion;
    table->slots = kSlots;
    table->slotSize = sizeof(MutexSlot);
  }
  return table->magic == kMagic && table->version == kVersion && table->slots == kSlots &&
         table->slotSize == sizeof(MutexSlot);
}

pthread_mutex_t* FindMutexSlot(MutexTable* table, const std::string& name) {
  if (name.size() >= sizeof(MutexSlot::name)) return nullptr;
  for (MutexSlot& slot : table->slot) {
    if (slot.state.load(std::memory_order_acquire) != kSlotReady) return nullptr;
    if (Named(slot, name)) return &slot.mutex;
  }
  return nullptr;
}

pthread_mutex_t* AddMutexSlot(MutexTable* table, const std::string& name) {
  if (name.empty() || name.size() >= sizeof(MutexSlot::name)) return nullptr;
  for (MutexSlot& slot : table->slot) {
    if (slot.state.load(std::memory_order_acquire) == kSlotReady) {
      if (Named(slot, name)) return &slot.mutex;
      continue;
    }
    // The first slot not ready: never used, or left half-made by a process
    // that died while making it.
    std::memset(slot.name, 0, sizeof(slot.name));
    std::memcpy(slot.name, name.data(), name.size());
    pthread_mutexattr_t attributes;
    if (::pthread_mutexattr_init(&attributes) != 0) return nullptr;
    const bool made = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                      ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                      ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
                      ::pthread_mutex_init(&slot.mutex, &attributes) == 0;
    ::pthread_mutexattr_destroy(&attributes);
    if (!made) return nullptr;
    slot.state.store(kSlotReady, std::memory_order_release);
    return &slot.mutex;
  }
  return nullptr;
}

}  // namespace platform
}  // namespace msgstore
