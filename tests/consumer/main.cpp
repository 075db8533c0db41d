// Uses an installed msgstore: stores a message in each of the three stores
// and an account, reads them back.
#include <msgstore/msgstore.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

WCHAR subject[] = u"hello";

bool Same(const WCHAR* text) { return text != nullptr && std::u16string(text) == subject; }

bool Report(const char* what, bool ok) {
  std::printf("consumer: %s: %s\n", what, ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace

int main() {
  bool ok = true;
  tagMSGPROPS draft = {}, back = {}, mmsBack = {}, emailBack = {};
  draft.dwFolder = 2;  // DRAFT in every store
  draft.pszSubject = subject;

  EMSMsgStore_CreateDir(false);  // also makes \DiskOnChip\User, which the e-mail tree needs
  tagMSGPROPS sms = draft;
  DWORD oid = EMSMsgStore_WriteMessage(false, &sms, 0, nullptr);
  ok &= Report("sms",
               oid && EMSMsgStore_ReadMessage(false, oid, true, &back) && Same(back.pszSubject));
  EMSMsgStore_FreeMsgProps(&back);

  MMSMsgStore_CreateDir(false);
  tagMSGPROPS mms = draft;
  tagMMSMSGPROPS mmsPart = {}, mmsPartBack = {};
  oid = MMSMsgStore_WriteMessage(false, &mms, &mmsPart, 0, nullptr);
  ok &= Report("mms", oid && MMSMsgStore_ReadMessage(false, oid, true, &mmsBack, &mmsPartBack) &&
                          Same(mmsBack.pszSubject));
  MMSMsgStore_FreeMsgProps(&mmsBack, &mmsPartBack);

  EmailMsgStore_CreateDir(false);
  tagMSGPROPS email = draft;
  tagEMAILMSGPROPS emailPart = {}, emailPartBack = {};
  oid = EmailMsgStore_WriteMessage(false, &email, &emailPart, 0, nullptr);
  ok &= Report(
      "email",
      oid && EmailMsgStore_ReadFolderMessage(false, 2, 0, oid, true, &emailBack, &emailPartBack) &&
          Same(emailBack.pszSubject));
  EmailMsgStore_FreeMsgProps(&emailBack, &emailPartBack);

  HANDLE store = nullptr;
  EmailAccMsgStore_Create();
  EmailAccMsgStore_Open(&store);
  tagEMAILACCOUNTPROPS account = {}, accountBack = {};
  account.dwFolder = 1;
  account.pszText = subject;
  const DWORD accountId = EmailMsgStore_WriteAccountData(store, &account, 0);
  ok &=
      Report("account", accountId && EmailMsgStore_Close(store) && EmailAccMsgStore_Open(&store) &&
                            EmailMsgStore_ReadFolderAccount(store, accountId, &accountBack) &&
                            Same(accountBack.pszText));
  std::free(accountBack.pszText);
  return ok ? 0 : 1;
}
