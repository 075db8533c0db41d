// The full reader of e-mail message files in the current layout, with and
// without the content, on whatever bytes a ".email" file may hold.
//
// A read that succeeds must give records that the writer turns back into
// the bytes they were read from (the quick and header lengths recomputed);
// the read without the content reads only the first header-length bytes and
// must agree with the full read on every field.
#include "fuzz_support.h"
#include "msgstore/email.h"
#include "store_checks.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as SENT message 1
WCHAR g_rewrite[MAX_PATH];  // the records read, written again as SENT message 2

constexpr msgstore_fuzz::Format<tagEMAILMSGPROPS> kFormat = {
    EmailMsgStore_ReadFromFile, EmailMsgStore_WriteToFile, EmailMsgStore_FreeMsgProps,
    msgstore_fuzz::kEmailCurrent};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("email_read");
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
