// Scoped holders for what the stores open: platform handles, write streams
// and message records read for the caller's own use.
#ifndef MSGSTORE_COMMON_SCOPED_H_
#define MSGSTORE_COMMON_SCOPED_H_

#include <memory>

#include "common/msg_props.h"
#include "msgstore/platform.h"

namespace msgstore {

// A platform handle closed with Close on the way out.
template <BOOL (*Close)(HANDLE)>
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() {
    if (valid()) Close(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  // Closes the handle held and holds h.
  void reset(HANDLE h) {
    if (valid()) Close(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

using ScopedFile = ScopedHandle<CloseHandle>;
using ScopedFind = ScopedHandle<FindClose>;

// A zero-filled message record whose owned members are released on the way
// out.
class ScopedMsgProps {
 public:
  ScopedMsgProps() : props_{} {}
  ~ScopedMsgProps() { ReleaseMsgProps(&props_); }
  ScopedMsgProps(const ScopedMsgProps&) = delete;
  ScopedMsgProps& operator=(const ScopedMsgProps&) = delete;
  tagMSGPROPS* get() { return &props_; }
  tagMSGPROPS* operator->() { return &props_; }

 private:
  tagMSGPROPS props_;
};

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_SCOPED_H_
