// The e-mail account store inside the library: the record of the account
// array, and the array itself with the hooks by which library start-up makes
// it at load and drops it at unload. Where the database and the registry
// counter are: email::kAccountStore.
#ifndef MSGSTORE_EMAIL_EMAIL_ACCOUNTS_H_
#define MSGSTORE_EMAIL_EMAIL_ACCOUNTS_H_

#include "email/email_description.h"
#include "msgstore/types.h"

namespace msgstore {

namespace email {

constexpr size_t kAccountTextUnits = kAccountStore.textUnits;

}  // namespace email

// One element of the account array. The text is held inline: at most
// kAccountTextUnits code units and a terminator.
struct EmailAccountRecord {
  DWORD dwData;
  DWORD dwFolder;
  WORD wData1;
  WORD wData2;
  DWORD dwAccountId;
  WCHAR szText[email::kAccountTextUnits + 1];
};

using EmailAccountArray = CArray<EmailAccountRecord, const EmailAccountRecord&>;

namespace email {

// The process's account array. Made empty on first use when start-up has
// not made it yet.
EmailAccountArray& AccountArray();

// Library start-up: the array is constructed empty at load and destroyed,
// unsaved, at unload.
void ConstructAccountArray();
void DestroyAccountArray();

// Drops every account without saving, as an unload followed by a new load
// does.
void UnloadAccounts();

}  // namespace email
}  // namespace msgstore

#endif  // MSGSTORE_EMAIL_EMAIL_ACCOUNTS_H_
