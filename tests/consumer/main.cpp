// Uses an installed msgstore: stores a message in each of the three stores
// and an account, reads them back.
#include <msgstore/msgstore.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

WCHAR subject[] = u"hello";

bool SameSubject(const tagMSGPROPS& props) {
  return props.pszSubject != nullptr && std::u16string(props.pszSubject) == subject;
}

tagMSGPROPS Draft() {
  tagMSGPROPS props;
  std::memset(&props, 0, sizeof props);
  props.dwFolder = 2;  // DRAFT in every store
  props.pszSubject = subject;
  return props;
}

bool Report(const char* what, bool ok) {
  std::printf("consumer: %s: %s\n", what, ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace

int main() {
  bool ok = true;

  EMSMsgStore_CreateDir(false);
  tagMSGPROPS sms = Draft(), back = {};
  DWORD oid = EMSMsgStore_WriteMessage(false, &sms, 0, nullptr);
  ok &= Report("sms",
               oid != 0 && EMSMsgStore_ReadMessage(false, oid, true, &back) && SameSubject(back));
  EMSMsgStore_FreeMsgProps(&back);

  MMSMsgStore_CreateDir(false);
  tagMSGPROPS mms = Draft(), mmsBack = {};
  tagMMSMSGPROPS mmsPart = {}, mmsPartBack = {};
  oid = MMSMsgStore_WriteMessage(false, &mms, &mmsPart, 0, nullptr);
  ok &=
      Report("mms", oid != 0 && MMSMsgStore_ReadMessage(false, oid, true, &mmsBack, &mmsPartBack) &&
                        SameSubject(mmsBack));
  MMSMsgStore_FreeMsgProps(&mmsBack, &mmsPartBack);

  EMSMsgStore_CreateDir(false);  // makes \DiskOnChip\User, which the e-mail tree needs
  EmailMsgStore_CreateDir(false);
  tagMSGPROPS email = Draft(), emailBack = {};
  tagEMAILMSGPROPS emailPart = {}, emailPartBack = {};
  oid = EmailMsgStore_WriteMessage(false, &email, &emailPart, 0, nullptr);
  ok &= Report("email", oid != 0 &&
                            EmailMsgStore_ReadFolderMessage(false, 2, 0, oid, true, &emailBack,
                                                            &emailPartBack) &&
                            SameSubject(emailBack));
  EmailMsgStore_FreeMsgProps(&emailBack, &emailPartBack);

  HANDLE store = nullptr;
  EmailAccMsgStore_Create();
  EmailAccMsgStore_Open(&store);
  tagEMAILACCOUNTPROPS account = {}, accountBack = {};
  account.dwFolder = 1;
  account.pszText = subject;
  const DWORD accountId = EmailMsgStore_WriteAccountData(store, &account, 0);
  ok &= Report("account", accountId != 0 && EmailMsgStore_Close(store) &&
                              EmailAccMsgStore_Open(&store) &&
                              EmailMsgStore_ReadFolderAccount(store, accountId, &accountBack) &&
                              accountBack.pszText != nullptr &&
                              std::u16string(accountBack.pszText) == subject);
  std::free(accountBack.pszText);
  return ok ? 0 : 1;
}
