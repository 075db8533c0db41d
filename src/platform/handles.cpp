// The process-wide table of live handles.
#include "platform/handles.h"
#include "platform/sys_calls.h"

#include <unistd.h>

#include <mutex>
#include <unordered_map>

namespace msgstore {
namespace platform {

void UniqueFd::Reset() {
  if (fd_ >= 0) Sys().close(fd_);
  fd_ = -1;
}

namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<void*, std::shared_ptr<HandleObject>> objects;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives static destructors
  return *table;
}

}  // namespace

void* AddHandle(std::shared_ptr<HandleObject> object) {
  if (!object) return nullptr;
  void* handle = object.get();
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects[handle] = std::move(object);
  return handle;
}

std::shared_ptr<HandleObject> FindHandle(void* handle) {
  if (handle == nullptr) return nullptr;
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(handle);
  return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(void* handle) {
  std::shared_ptr<HandleObject> doomed;  // destroyed after the table is unlocked
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.objects.find(handle);
  if (it == table.objects.end()) return false;
  doomed = std::move(it->second);
  table.objects.erase(it);
  return true;
}

}  // namespace platform
}  // namespace msgstore
