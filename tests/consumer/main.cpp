// Uses an installed msgstore: stores a message in each store through the C++
// API and one through the handset's operations, and an account, and reads
// them back.
#include <msgstore/device.h>
#include <msgstore/msgstore.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

WCHAR subject[] = u"hello";

bool Same(const WCHAR* text) { return text != nullptr && std::u16string(text) == subject; }

bool Report(const std::string& what, bool ok) {
  std::printf("consumer: %s: %s\n", what.c_str(), ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace

int main() {
  bool ok = true;
  std::unique_ptr<msgstore::Device> device = msgstore::Device::Open("", true);
  ok &= Report("message trees", static_cast<bool>(device->Init()));
  for (const msgstore::StoreDescription* description : msgstore::Stores()) {
    msgstore::Store& store = device->store(description->kind);
    msgstore::Record draft;
    draft.folder = 2;  // DRAFT in every store
    draft.subject = subject;
    const msgstore::WriteResult written = store.Add(draft);
    ok &= Report(description->name,
                 written && store.Read(*written.stored).record.subject == draft.subject);
  }

  tagMSGPROPS sms = {}, back = {};
  sms.dwFolder = 2;
  sms.pszSubject = subject;
  const DWORD oid = EMSMsgStore_WriteMessage(false, &sms, 0, nullptr);
  ok &= Report("sms operations",
               oid && EMSMsgStore_ReadMessage(false, oid, true, &back) && Same(back.pszSubject));
  EMSMsgStore_FreeMsgProps(&back);

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
