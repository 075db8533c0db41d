// The reader of MMS message files in the old layout (one header word, no
// pszText2, every MMS field in the tail), with and without the body.
//
// A read that succeeds must give records that the old writer turns back into
// the bytes they were read from (the header length recomputed, the body
// taken where it points); the read without the body reads only the first
// header-length bytes and must agree with the full read; pszText2, which
// the old layout does not hold, must stay as it was.
#include "fuzz_support.h"
#include "msgstore/mms.h"
#include "store_checks.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as INBOX message 1
WCHAR g_rewrite[MAX_PATH];  // the records read, written again as INBOX message 2

int ReadOld(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms, bool withBody) {
  return MMSMsgStore_ReadFromFileOld(path, props, mms, withBody);
}

constexpr msgstore_fuzz::Format<tagMMSMSGPROPS> kFormat = {
    ReadOld, MMSMsgStore_WriteToFileOld, MMSMsgStore_FreeMsgProps, msgstore_fuzz::kMmsOld};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("mms_read_old");
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
