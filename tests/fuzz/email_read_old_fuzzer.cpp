// The reader of e-mail message files in the old layout (one header word, no
// pszText2, the e-mail fields after the shared ones), with and without the
// content.
//
// A read that succeeds must give records that the old writer turns back into
// the bytes they were read from (the header length recomputed); the read
// without the content reads only the first header-length bytes and must
// agree with the full read; pszText2, which the old layout does not hold,
// must stay as it was.
#include "fuzz_support.h"
#include "msgstore/email.h"
#include "store_checks.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as SENT message 1
WCHAR g_rewrite[MAX_PATH];  // the records read, written again as SENT message 2

constexpr msgstore_fuzz::Format<tagEMAILMSGPROPS> kFormat = {
    EmailMsgStore_ReadFromFileOld, EmailMsgStore_WriteToFileOld, EmailMsgStore_FreeMsgProps,
    msgstore_fuzz::kEmailOld};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("email_read_old");
  msgstore_fuzz::CreateEmailTree();
  FUZZ_CHECK(EmailMsgStore_GetFilePath(false, 1, EMAIL_FOLDER_SENT, g_path));
  FUZZ_CHECK(EmailMsgStore_GetFilePath(false, 2, EMAIL_FOLDER_SENT, g_rewrite));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);
  msgstore_fuzz::CheckRead(kFormat, g_path, g_rewrite, data, size);
  return 0;
}
