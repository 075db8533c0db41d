// A store's messages counted folder by folder, account by account, and the
// inbox's unread messages as the handset counts them; a folder emptied with
// its index.
#include <map>
#include <utility>

#include "msgstore/maintenance.h"

namespace msgstore {

std::vector<DWORD> ListedFolders(const StoreDescription& store, bool card) {
  std::vector<DWORD> folders;
  for (DWORD number : store.shown)
    if (store.Folder(number)->hasFolderPath && (!card || store.Folder(number)->onCard()))
      folders.push_back(number);
  return folders;
}

StoreCounts CountStore(Device& device, StoreKind kind) {
  const Store& store = device.store(kind);
  const StoreDescription& s = store.description();
  const bool card = store.TreeMade(true);
  StoreCounts out;
  Result failed;  // the first count that failed: the whole count's result
  // The messages and the unread ones of a folder (of one account), on the
  // card too when onCard.
  auto tally = [&](DWORD folder, DWORD account, bool onCard) {
    CountResult counts[2];
    for (bool there : {false, true}) {
      if (there && !onCard) continue;
      counts[there] = store.Count(there, folder, account);
      if (!counts[there] && failed) failed = counts[there];
    }
    auto of = [&](size_t CountResult::*n) {
      return Tally{counts[0].*n, onCard ? std::optional<size_t>(counts[1].*n) : std::nullopt};
    };
    return std::pair(of(&CountResult::messages), of(&CountResult::unread));
  };

  for (DWORD number : ListedFolders(s, false)) {
    const FolderDescription& f = *s.Folder(number);
    out.folders.push_back({&f, tally(number, 0, card && f.onCard()).first});
    if (f.sim) out.simCopies = out.simCopies.value_or(0) + out.folders.back().messages.phone;
  }

  if (const FolderDescription* byAccount = s.AccountFolder()) {
    std::map<DWORD, std::optional<std::u16string>> texts;
    for (const Location& at : store.List(std::nullopt, byAccount->number).messages)
      texts.emplace(at.account, std::nullopt);
    for (const Account& a : device.accounts().List().accounts) texts[a.id] = a.text;
    for (const auto& [id, text] : texts) {
      if (id < s.firstAccountFolder) continue;
      const auto [messages, unread] = tally(byAccount->number, id, card);
      out.accounts.push_back({id, text, messages, unread});
    }
    out.incomingServer = device.accounts().IncomingServer();
  }

  const DWORD inbox = s.shown.numbers[0];
  const bool perAccount = s.Folder(inbox)->perAccount;
  out.noInboxAccount = perAccount && out.incomingServer == 0;
  out.inboxUnread.card = card ? std::optional<size_t>(0) : std::nullopt;
  if (!out.noInboxAccount)
    out.inboxUnread = tally(inbox, perAccount ? out.incomingServer : 0, card).second;
  if (!failed) static_cast<Result&>(out) = failed;
  return out;
}

EmptyResult EmptyFolderAndIndex(Device& device, StoreKind kind, bool card, DWORD folder,
                                DWORD account) {
  EmptyResult emptied = device.store(kind).EmptyFolder(card, folder, account);
  // The card has no index files.
  if (emptied && !card && Describe(kind).Folder(folder)->indexed())
    static_cast<Result&>(emptied) = DropRecordsWithoutFiles(device, kind, folder, account);
  return emptied;
}

}  // namespace msgstore
