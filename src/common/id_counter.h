// The identifier counter files ("EmsDB.ini" and its kin): 4 bytes, the last
// identifier handed out, little-endian. A missing or unreadable file counts
// as 0. The counter is read, advanced and written under a named mutex of its
// own, taken for that alone, so that no two processes or threads are ever
// handed the same identifier; the file is replaced whole.
#ifndef MSGSTORE_COMMON_ID_COUNTER_H_
#define MSGSTORE_COMMON_ID_COUNTER_H_

#include "msgstore/types.h"

namespace msgstore {

struct IdCounter {
  const WCHAR* path;
  const WCHAR* mutexName;
};

// The value stored in the counter file, 0 when it is missing or unreadable.
DWORD ReadIdCounter(const WCHAR* path);

// Adds 1 to the counter and returns the new value; 0 (never an identifier)
// when the counter file is there but cannot be read, or the advanced value
// cannot be written, so that no identifier is handed out twice.
DWORD NextId(const IdCounter& counter);

// Sets the counter to value; false when the file cannot be written.
bool SetIdCounter(const IdCounter& counter, DWORD value);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_ID_COUNTER_H_
