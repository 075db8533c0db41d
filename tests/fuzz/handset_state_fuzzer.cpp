// The simulated handset's state file, ROOT/.platform/handset/state
// ("key=value" lines, both sides %XX-escaped), read through the services the
// stores call: card state, SMS counters, system language, free space.
//
// Whatever the file holds, the services must answer within their ranges, and
// a change made through them must keep every other setting as it was read.
#include <string>

#include "fuzz_support.h"
#include "platform/handset_state.h"

namespace {

using msgstore::DefaultPlatform;

const char* const kCounters[] = {"EmsRecv",    "EmsRead",   "Ems_SDRecv",
                                 "Ems_SDRead", "SentInSim", "UnsentInSim"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("handset_state");
  DefaultPlatform::SetCounter("SentInSim", 1);
  // The harness replaces the state file directly: make sure it is where the
  // platform keeps it.
  std::string stored;
  FUZZ_CHECK(msgstore_fuzz::GetHostFile(msgstore_fuzz::HandsetStateFile(), &stored));
  FUZZ_CHECK(stored == "counter.SentInSim=1\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutHostFile(msgstore_fuzz::HandsetStateFile(), data, size);
  DefaultPlatform platform;

  FUZZ_CHECK(!platform.xGetSystemLanguage().empty());
  FUZZ_CHECK((DefaultPlatform::GetCardFlags() & ~6) == 0);
  // No card is inserted under the scratch root.
  int card = platform.xGetSDCardState();
  FUZZ_CHECK(card >= 0 && card <= 7 && (card & 1) == 0);
  for (const char* name : kCounters) DefaultPlatform::GetCounter(name);
  platform.xGetEms_SDRecvMsgCount();
  platform.xGetSentSmsCountInSim();
  uint64_t available = 0, total = 0, free = 0;
  FUZZ_CHECK(platform.GetDiskFreeSpaceExW(u"\\DiskOnChip", &available, &total, &free));
  FUZZ_CHECK(available <= total && free <= total);

  // Replacing one counter keeps every other setting, however it was written.
  msgstore::platform::StateMap before = msgstore::platform::ReadHandsetState();
  platform.xSetUnsentSmsCountInSim(7);
  FUZZ_CHECK(DefaultPlatform::GetCounter("UnsentInSim") == 7);
  before["counter.UnsentInSim"] = "7";
  FUZZ_CHECK(msgstore::platform::ReadHandsetState() == before);

  // An added counter never goes below zero.
  DWORD received = DefaultPlatform::GetCounter("EmsRecv");
  platform.xSetEmsRecvMsgCount(-1);
  FUZZ_CHECK(DefaultPlatform::GetCounter("EmsRecv") == (received > 0 ? received - 1 : 0));
  return 0;
}
