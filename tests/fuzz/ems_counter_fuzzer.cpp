// The EMS identifier counter, "EmsDB.ini", as the write path advances it.
//
// The file holds the last identifier handed out in its first 4 bytes,
// little-endian; a shorter file counts with what it has (the rest zero) and
// bytes after the fourth are ignored. The next identifier is that value plus
// one, and the file must hold exactly the new value afterwards.
#include <string>

#include "ems/ems_internal.h"
#include "fuzz_support.h"
#include "msgstore/ems.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("ems_counter");
  FUZZ_CHECK(EMSMsgStore_CreateDir(false));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string host = msgstore::HostPath(msgstore::ems::kCounterFile);
  msgstore_fuzz::PutHostFile(host, data, size);
  uint8_t stored[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < size && i < 4; ++i) stored[i] = data[i];
  const DWORD last = msgstore_fuzz::LoadU32(stored);

  FUZZ_CHECK(msgstore::ReadIdCounter(msgstore::ems::kCounterFile) == last);
  const DWORD next = msgstore::ems::GetNextEmsOid();
  FUZZ_CHECK(next == last + 1);
  std::string now;
  FUZZ_CHECK(msgstore_fuzz::GetHostFile(host, &now));
  FUZZ_CHECK(now.size() == 4 &&
             msgstore_fuzz::LoadU32(reinterpret_cast<const uint8_t*>(now.data())) == next);
  return 0;
}
