// The objects behind HANDLE and HKEY values. A handle is the address of an
// object registered in a process-wide table, so a stale, forged or null
// handle is recognised and refused instead of being dereferenced.
#ifndef MSGSTORE_PLATFORM_HANDLES_H_
#define MSGSTORE_PLATFORM_HANDLES_H_

#include <memory>

#include "msgstore/types.h"

namespace msgstore {
namespace platform {

// What a handle stands for; each class of handle object names its kind as
// kKind, which FindHandleAs checks.
enum class HandleKind { kFile, kFind, kMutex, kKey, kModule };

class HandleObject {
 public:
  explicit HandleObject(HandleKind kind) : kind(kind) {}
  virtual ~HandleObject() = default;
  const HandleKind kind;
};

// Owns a POSIX descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// Registers the object and returns its handle value.
void* AddHandle(std::shared_ptr<HandleObject> object);
// The object of a live handle, or nullptr.
std::shared_ptr<HandleObject> FindHandle(void* handle);
template <class T>
std::shared_ptr<T> FindHandleAs(void* handle) {
  std::shared_ptr<HandleObject> object = FindHandle(handle);
  if (!object || object->kind != T::kKind) return nullptr;
  return std::static_pointer_cast<T>(std::move(object));
}
// Unregisters the handle; the object goes when its last user lets go.
// Returns false for a handle that is not live.
bool RemoveHandle(void* handle);
// Unregisters the handle only when its object is a T.
template <class T>
bool RemoveHandleOf(void* handle) {
  return FindHandleAs<T>(handle) != nullptr && RemoveHandle(handle);
}

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_HANDLES_H_
