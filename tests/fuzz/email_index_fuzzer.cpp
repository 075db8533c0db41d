// The e-mail folder indexes on whatever bytes they may hold: the plain
// INBOX's "EmailIni" and an account inbox's "<account>_EmailIni", side by
// side in the INBOX directory. Both hold the input; the reader, the quick
// list, the add and the removal on one must do what CheckIndex says and
// leave the other as it was.
#include "email/email_internal.h"
#include "fuzz_support.h"
#include "msgstore/email.h"
#include "store_checks.h"

namespace {

constexpr DWORD kAccount = 805306371;
WCHAR g_inbox[MAX_PATH];    // INBOX\EmailIni
WCHAR g_account[MAX_PATH];  // INBOX\805306371_EmailIni

constexpr msgstore_fuzz::IndexOps kOps = {EmailMsgStore_GetQuickMsgList, EmailMsgStore_AddMsgToIni,
                                          EmailMsgStore_DeleteMsgFromIni};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("email_index");
  msgstore_fuzz::CreateEmailTree();
  FUZZ_CHECK(msgstore::email::IndexPath(EMAIL_FOLDER_INBOX, g_inbox));
  FUZZ_CHECK(msgstore::email::IndexPath(kAccount, g_account));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_inbox, data, size);
  msgstore_fuzz::PutDeviceFile(g_account, data, size);
  // The account's index is checked second: it must still hold the input.
  msgstore_fuzz::CheckIndex(kOps, EMAIL_FOLDER_INBOX, g_inbox, data, size);
  msgstore_fuzz::CheckIndex(kOps, kAccount, g_account, data, size);
  return 0;
}
