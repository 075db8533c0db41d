// The quick reader of e-mail message files: by storage, folder and
// identifier. A folder of its own (DRAFT) names "<id>.email"; the INBOX file
// "<account>_<id>.email" is found through the account, given as the folder
// value (12 or more) or, for the plain INBOX, looked up in the registry.
//
// The three ways to the same bytes must give the same result. The quick read
// takes only the quick length's worth of the file after its first four
// bytes: where the full reader succeeds it must succeed exactly when the
// quick part (up to the end of pszText2) lies within them, and then agree
// with the full reader on dwOid, bRead, wStatus, ftIndexTime, dwFolder,
// pszSubject and pszText2 and report wQuickValue in wUser2. It must touch
// nothing else, nor wUser2 when it fails.
#include "fuzz_support.h"
#include "msgstore/email.h"
#include "store_checks.h"

namespace {

constexpr DWORD kOid = 1;
constexpr DWORD kAccount = 805306371;
WCHAR g_draft[MAX_PATH];  // DRAFT\1.email
WCHAR g_inbox[MAX_PATH];  // INBOX\805306371_1.email

void SetValue(const WCHAR* key, const WCHAR* name, DWORD type, const void* data, DWORD size) {
  HKEY handle = nullptr;
  FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &handle, nullptr) == ERROR_SUCCESS);
  FUZZ_CHECK(RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size) ==
             ERROR_SUCCESS);
  RegCloseKey(handle);
}

// Quick-reads message 1 of folder into a marked record and checks that only
// the quick part was filled.
int QuickRead(DWORD folder, tagMSGPROPS* quick) {
  msgstore_fuzz::Mark(quick);
  const tagMSGPROPS mark = *quick;  // only compared with, never released
  const int read = EmailMsgStore_QuickReadFromFile(false, folder, kOid, quick);
  FUZZ_CHECK(quick->dwUser1 == mark.dwUser1 && quick->pszText1 == mark.pszText1 &&
             quick->cbData == mark.cbData && quick->pData == mark.pData &&
             msgstore_fuzz::SameTime(quick->ftTime, mark.ftTime) && quick->pszTo == mark.pszTo &&
             quick->pszText3 == mark.pszText3 && quick->pszText4 == mark.pszText4 &&
             quick->dwUser2 == mark.dwUser2 && quick->pszMsgID == mark.pszMsgID &&
             quick->wUser1 == mark.wUser1 && quick->dwUser3 == mark.dwUser3);
  if (read == 0) FUZZ_CHECK(quick->wUser2 == mark.wUser2);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("email_quick_read");
  msgstore_fuzz::CreateEmailTree();
  FUZZ_CHECK(EmailMsgStore_GetFilePath(false, kOid, EMAIL_FOLDER_DRAFT, g_draft));
  FUZZ_CHECK(EmailMsgStore_GetFilePathInbox(false, kOid, kAccount, g_inbox));
  // The account "Work" receives the plain INBOX's mail.
  static const char16_t kName[] = u"Work";
  SetValue(u"Software\\Corvane\\Email\\Preferences", u"IncomingServerAccount", REG_SZ, kName,
           sizeof kName);
  const DWORD account = kAccount;
  SetValue(u"Software\\Corvane\\Email\\Accounts\\Work", u"AccountUniqueID", REG_DWORD, &account,
           sizeof account);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_draft, data, size);
  msgstore_fuzz::PutDeviceFile(g_inbox, data, size);

  tagMSGPROPS draft, account, inbox;
  const int read = QuickRead(EMAIL_FOLDER_DRAFT, &draft);
  if (size < 36) FUZZ_CHECK(read == 0);  // the smallest quick part
  FUZZ_CHECK(QuickRead(kAccount, &account) == read &&
             QuickRead(EMAIL_FOLDER_INBOX, &inbox) == read);
  if (read)
    FUZZ_CHECK(msgstore_fuzz::SameFields(draft, account) &&
               msgstore_fuzz::SameFields(draft, inbox));

  tagMSGPROPS full = {};
  tagEMAILMSGPROPS email = {};
  if (EmailMsgStore_ReadFromFile(g_draft, &full, &email, true)) {
    const size_t quickEnd =
        32 + msgstore_fuzz::StoredSize(full.pszSubject) + msgstore_fuzz::StoredSize(full.pszText2);
    FUZZ_CHECK(read == (quickEnd <= msgstore_fuzz::LoadU32(data) + size_t{4} ? 1 : 0));
    if (read) FUZZ_CHECK(msgstore_fuzz::SameHead(draft, full) && draft.wUser2 == email.wQuickValue);
  }

  EmailMsgStore_FreeMsgProps(&draft, nullptr);
  EmailMsgStore_FreeMsgProps(&account, nullptr);
  EmailMsgStore_FreeMsgProps(&inbox, nullptr);
  EmailMsgStore_FreeMsgProps(&full, &email);
  return 0;
}
