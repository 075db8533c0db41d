// The full reader of MMS message files in the current layout, with and
// without the body, on whatever bytes a ".mms" file may hold.
//
// A read that succeeds must give records that the writer turns back into
// the bytes they were read from (the quick and header lengths recomputed,
// the body taken where the header length points); the read without the body
// reads only the first header-length bytes and must agree with the full read
// on every field.
#include "fuzz_support.h"
#include "msgstore/mms.h"
#include "store_checks.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as INBOX message 1
WCHAR g_rewrite[MAX_PATH];  // the records read, written again as INBOX message 2

constexpr msgstore_fuzz::Format<tagMMSMSGPROPS> kFormat = {
    MMSMsgStore_ReadFromFile, MMSMsgStore_WriteToFile, MMSMsgStore_FreeMsgProps,
    msgstore_fuzz::kMmsCurrent};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("mms_read");
  FUZZ_CHECK(MMSMsgStore_CreateDir(false));
  FUZZ_CHECK(MMSMsgStore_GetFilePath(false, 1, MMS_FOLDER_INBOX, g_path));
  FUZZ_CHECK(MMSMsgStore_GetFilePath(false, 2, MMS_FOLDER_INBOX, g_rewrite));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);
  msgstore_fuzz::CheckRead(kFormat, g_path, g_rewrite, data, size);
  return 0;
}
