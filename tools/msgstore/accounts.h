// The e-mail accounts as the tool sees them: the account store's records,
// loaded from its database, and the incoming-server account that the
// registry names.
#ifndef MSGSTORE_TOOL_ACCOUNTS_H_
#define MSGSTORE_TOOL_ACCOUNTS_H_

#include <string>
#include <vector>

#include "msgstore/msgstore.h"
#include "msgstore/stores.h"

namespace tool {

struct Account {
  DWORD id;
  DWORD folder;
  DWORD data;
  WORD wdata1;
  WORD wdata2;
  std::u16string text;
};

// The account store's database ("EmailAccMsgStore.db") and the directory of
// phone memory that holds it.
std::string DatabaseName();
std::u16string DatabaseDir();

// The bytes the account store saves for these accounts: a count, then per
// record four numbers and the text with its terminator.
DWORD DatabaseBytes(const std::vector<Account>& accounts);

// The account records the store's lookups reach, in the store's order:
// every folder from 0 to 1023, every folder that holds an identifier the
// registry counter handed out (the last 65536) or that names a message file,
// and every folder that follows one of them in the store's array. Loads the
// database ("msgstore account" changes nothing until it saves).
std::vector<Account> LoadAccounts();
// Whether the database holds a record of that identifier.
bool AccountExists(DWORD id);
// The account whose inbox the store's plain inbox operations mean, as the
// store finds it in the registry; 0 when none is named.
DWORD IncomingServerAccount();
// The accounts that name inbox message files or index files of phone memory
// and, when inserted, of the memory card, ascending.
std::vector<DWORD> AccountsOnDevice();

}  // namespace tool

#endif  // MSGSTORE_TOOL_ACCOUNTS_H_
