// The MMS folder index ("MmsIni") on whatever bytes it may hold: the record
// reader, the quick list, and the add and removal that read the file before
// they rewrite it (see CheckIndex for what each must do).
#include "fuzz_support.h"
#include "mms/mms_internal.h"
#include "msgstore/mms.h"
#include "store_checks.h"

namespace {

WCHAR g_index[MAX_PATH];

constexpr msgstore_fuzz::IndexOps kOps = {MMSMsgStore_GetQuickMsgList, MMSMsgStore_AddMsgToIni,
                                          MMSMsgStore_DeleteMsgFromIni};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("mms_index");
  FUZZ_CHECK(MMSMsgStore_CreateDir(false));
  FUZZ_CHECK(msgstore::mms::IndexPath(MMS_FOLDER_INBOX, g_index));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_index, data, size);
  msgstore_fuzz::CheckIndex(kOps, MMS_FOLDER_INBOX, g_index, data, size);
  return 0;
}
