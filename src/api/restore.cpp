// Restoring messages and accounts under their own identifiers. Everything the
// writes need is checked before the first of them; each message is then
// written through its store's write operation, so that its file and every
// lock are the store's own, and the index records of a folder's messages go
// to its index in one write after their files.
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "api/folder_files.h"
#include "api/handset.h"
#include "common/index_file.h"
#include "msgstore/maintenance.h"
#include "msgstore/msgstore.h"
#include "platform/host_path.h"

namespace msgstore {

struct Restorer::State {
  struct Item {
    StoreKind store;
    Location at;
    Record record;
    std::optional<size_t> indexPosition;
    std::string source;
  };
  std::vector<Item> items;
  std::vector<std::pair<Account, size_t>> accounts;
  bool withAccounts = false;
  bool databaseExisted = false;
  DWORD databaseBytes = 0;
  DWORD accountCounter = 0;
  std::map<StoreKind, DWORD> counters;
  std::set<std::pair<StoreKind, bool>> trees;
  std::optional<std::pair<DWORD, std::string>> incomingServer;
  std::vector<std::pair<std::string, DWORD>> handsetCounters;
};

namespace {

bool CardInserted() { return api::CardIn(); }

std::string Where(const StoreDescription& s, const Location& at) {
  return api::Where(s, at.card, at.folder);
}

Result Refuse(Status status, const std::string& error) {
  Result r;
  r.status = status;
  r.refusal = status == Status::kRefused ? Refusal::kInvalid : Refusal::kNone;
  r.error = error;
  return r;
}

// The accounts in the order of their writes: each folder, in the order the
// database first names it, from its last record to its first, since the
// store puts a record in front of its folder's others and saves in that
// order.
std::vector<Account> AccountOrder(std::vector<std::pair<Account, size_t>> accounts) {
  std::stable_sort(accounts.begin(), accounts.end(),
                   [](const auto& a, const auto& b) { return a.second < b.second; });
  std::vector<DWORD> folders;
  for (const auto& a : accounts)
    if (std::find(folders.begin(), folders.end(), a.first.folder) == folders.end())
      folders.push_back(a.first.folder);
  std::vector<Account> order;
  for (DWORD folder : folders)
    for (auto it = accounts.rbegin(); it != accounts.rend(); ++it)
      if (it->first.folder == folder) order.push_back(it->first);
  return order;
}

}  // namespace

Restorer::Restorer(Device& device) : device_(device), state_(new State) {}
Restorer::~Restorer() = default;

void Restorer::Add(StoreKind store, const Location& at, const Record& record,
                   std::optional<size_t> indexPosition, const std::string& source) {
  state_->items.push_back({store, at, record, indexPosition, source});
}

void Restorer::AddAccount(const Account& account, size_t position) {
  state_->accounts.push_back({account, position});
}

void Restorer::SetAccountDatabase(bool existed, DWORD bytes, DWORD counter) {
  state_->withAccounts = true;
  state_->databaseExisted = existed;
  state_->databaseBytes = bytes;
  state_->accountCounter = counter;
}

void Restorer::SetCounter(StoreKind store, DWORD value) {
  state_->counters[store] = std::max(state_->counters[store], value);
}

void Restorer::MakeTree(StoreKind store, bool card) { state_->trees.insert({store, card}); }

void Restorer::SetIncomingServer(DWORD id, const std::string& name) {
  state_->incomingServer = {id, name};
}

void Restorer::SetHandsetCounter(const std::string& name, DWORD value) {
  state_->handsetCounters.push_back({name, value});
}

namespace {

// What a restore does after the messages and accounts: the handset's
// counters, then the incoming-server account. Checked before anything is
// written.
Result CheckAfterwards(std::optional<std::pair<DWORD, std::string>>* incoming,
                       const std::vector<std::pair<std::string, DWORD>>& counters) {
  for (const auto& counter : counters)
    if (DefaultPlatform::FindCounter(counter.first) == nullptr)
      return Refuse(Status::kRefused, "the handset has no counter " + counter.first);
  if (*incoming) return api::IncomingServerName((*incoming)->first, &(*incoming)->second);
  return {};
}

}  // namespace

Result Restorer::Commit(bool replace, Report* report,
                        const std::function<void(size_t done, size_t total)>& progress) {
  return Run(replace, true, report, progress);
}

Result Restorer::Preview(bool replace, Report* report) { return Run(replace, false, report, {}); }

Result Restorer::Run(bool replace, bool write, Report* report,
                     const std::function<void(size_t done, size_t total)>& progress) {
  State& st = *state_;
  *report = Report();
  const size_t onCard = static_cast<size_t>(std::count_if(
      st.items.begin(), st.items.end(), [](const State::Item& i) { return i.at.card; }));
  if (onCard != 0 && !CardInserted())
    return Refuse(Status::kRefused,
                  "the export holds " + std::to_string(onCard) +
                      (onCard == 1 ? " message" : " messages") +
                      " of the memory card, but no memory card is inserted ('msgstore card "
                      "insert'): nothing imported");
  const Result afterwards = CheckAfterwards(&st.incomingServer, st.handsetCounters);
  if (!afterwards) return afterwards;
  // The card state bits that keep a store's messages off the card are the
  // store's own.
  const int cardState = GetPlatform().xGetSDCardState();
  for (const State::Item& i : st.items)
    if (i.at.card && (cardState & Describe(i.store).cardUnusable) != 0)
      return Refuse(Status::kRefused, "the memory card cannot take messages now (card state " +
                                          std::to_string(cardState) + ")");

  // The stored messages the restored ones replace: of their store under
  // their identifier, on either storage.
  std::map<std::pair<StoreKind, DWORD>, std::vector<Location>> conflicts;
  size_t storedConflicts = 0;
  for (const StoreDescription* s : Stores()) {
    std::set<DWORD> ids;
    for (const State::Item& i : st.items)
      if (i.store == s->kind && api::NamesFiles(*s, i.at.card, i.at.folder, i.at.account))
        ids.insert(i.at.id);
    if (ids.empty()) continue;
    for (const Location& at : device_.store(s->kind).List().messages)
      if (ids.count(at.id) != 0) conflicts[{s->kind, at.id}].push_back(at), ++storedConflicts;
  }
  std::set<DWORD> accountConflicts;
  WIN32_FIND_DATAW database = {};
  HANDLE find =
      st.withAccounts ? FindFirstFileW(AccountStore().database, &database) : INVALID_HANDLE_VALUE;
  const bool databasePresent = find != INVALID_HANDLE_VALUE;
  if (databasePresent) {
    FindClose(find);
    const std::vector<Account> stored = device_.accounts().List().accounts;
    // Saving the store's array would lose the records its lookups miss.
    if (database.nFileSizeLow != 0 && database.nFileSizeLow != api::DatabaseBytes(stored))
      return Refuse(Status::kFailed,
                    api::DamagedDatabase(api::FileName(AccountStore().database) + " ",
                                         database.nFileSizeLow, stored) +
                        ": nothing imported");
    for (const auto& a : st.accounts)
      for (const Account& s : stored)
        if (s.id == a.first.id) accountConflicts.insert(s.id);
  }
  if (!replace && (!conflicts.empty() || !accountConflicts.empty())) {
    std::string first;
    const size_t count = storedConflicts + accountConflicts.size();
    if (!conflicts.empty()) {
      const StoreDescription& s = Describe(conflicts.begin()->first.first);
      const Location& at = conflicts.begin()->second.front();
      first = std::string(s.name) + " message " + std::to_string(at.id) + " (" + Where(s, at) + ")";
    } else {
      first = "account " + std::to_string(*accountConflicts.begin());
    }
    return Refuse(Status::kRefused,
                  "the device already holds " + first +
                      (count > 1 ? " and " + std::to_string(count - 1) + " more" : std::string()) +
                      ", which the import would replace: nothing imported (--replace replaces "
                      "them)");
  }

  if (!write) {
    for (const State::Item& i : st.items) {
      if (!api::NamesFiles(Describe(i.store), i.at.card, i.at.folder, i.at.account)) {
        report->skipped.push_back({i.store, i.at, i.source});
        continue;
      }
      ++report->written[static_cast<int>(i.store)];
      const auto stored = conflicts.find({i.store, i.at.id});
      if (stored != conflicts.end()) report->replacedMessages += stored->second.size();
    }
    report->accounts = st.withAccounts ? st.accounts.size() : 0;
    report->replacedAccounts = accountConflicts.size();
    report->handsetCounters = st.handsetCounters.size();
    if (st.withAccounts && st.incomingServer) report->incomingServer = st.incomingServer->first;
    return Result();
  }

  // The trees asked for and those the messages go to. The account database
  // lives in phone memory's messaging directory: without it, the phone trees
  // are made as a new device's are.
  const bool withDatabase = st.withAccounts && (st.databaseExisted || !st.accounts.empty());
  std::u16string messaging = AccountStore().database;
  messaging = messaging.substr(0, messaging.rfind(u'\\'));
  const bool noMessaging = GetFileAttributesW(messaging.c_str()) == INVALID_FILE_ATTRIBUTES;
  for (const StoreDescription* s : Stores())
    for (bool card : {false, true}) {
      bool made = st.trees.count({s->kind, card}) != 0 && (!card || CardInserted());
      for (const State::Item& i : st.items)
        made = made || (i.store == s->kind && i.at.card == card);
      if (made || (!card && withDatabase && noMessaging)) api::MakeTree(s->kind, card);
    }

  // The messages of one index from the last place to the first, so that each
  // new record, not older than any before it, goes in front of them all;
  // messages outside an index in the order they were added.
  std::vector<const State::Item*> order;
  for (const State::Item& i : st.items) order.push_back(&i);
  // The index a message's record goes to: (index folder, account); none on
  // the card or without a place.
  auto IndexOf = [](const State::Item& item) {
    if (item.at.card || !item.indexPosition) return std::make_pair(DWORD{0}, DWORD{0});
    const FolderDescription* f = Describe(item.store).Folder(item.at.folder);
    return std::make_pair(f != nullptr ? f->indexFolder : 0, item.at.account);
  };
  std::stable_sort(order.begin(), order.end(), [&](const State::Item* a, const State::Item* b) {
    const auto ka = std::make_pair(static_cast<int>(a->store), IndexOf(*a));
    const auto kb = std::make_pair(static_cast<int>(b->store), IndexOf(*b));
    if (ka != kb) return ka < kb;
    return a->indexPosition.value_or(0) > b->indexPosition.value_or(0);
  });
  std::map<StoreKind, DWORD> highest;
  size_t done = 0;
  // The messages of one index go to their files first; their records go to
  // the index in one write once the last of them stands written, so that an
  // index never lists a message whose file is not there yet, and each index
  // is read and written once rather than once per message.
  DeferredIndexes indexes;
  // Each folder is looked at once for names of other spellings that the
  // message files would replace, not once a message.
  platform::KeptFolderNames keptNames;
  auto failed = [&](const Result& r) {
    indexes.Flush();  // the files written so far get their records
    return r;
  };
  for (size_t k = 0; k < order.size(); ++k) {
    const State::Item* i = order[k];
    const StoreDescription& s = Describe(i->store);
    Store& store = device_.store(i->store);
    if (!api::NamesFiles(s, i->at.card, i->at.folder, i->at.account)) {
      report->skipped.push_back({i->store, i->at, i->source});
    } else {
      const auto stored = conflicts.find({i->store, i->at.id});
      if (stored != conflicts.end())
        for (const Location& at : stored->second) {
          ++report->replacedMessages;
          if (at != i->at && !store.Delete(at))
            return failed(Refuse(Status::kFailed, "could not delete " + std::string(s.name) +
                                                      " message " + std::to_string(at.id) + " in " +
                                                      Where(s, at) + " to replace it"));
        }
      Record record = i->record;
      record.id = i->at.id;
      record.folder = i->at.folder;
      if (s.HasAccounts() && i->at.account != 0) record.email.accountId = i->at.account;
      const WriteResult w = store.Put(i->at, record);
      // The storage is the one asked for; a write that chose the other one
      // (for want of free space) has not put the message back. The file
      // stands where the device API names it.
      if (!w || w.otherStorage || !w.stored || w.stored->id != i->at.id || !api::IsFile(s, i->at))
        return failed(Refuse(Status::kFailed,
                             "the store could not write " + std::string(s.name) + " message " +
                                 std::to_string(i->at.id) +
                                 (i->source.empty() ? "" : " (" + i->source + ")") + " to the " +
                                 Where(s, i->at) + ": " + std::to_string(done) + " of " +
                                 std::to_string(order.size()) + " messages imported" +
                                 (w.error.empty() ? "" : " (" + w.error + ")")));
      ++report->written[static_cast<int>(i->store)];
      highest[i->store] = std::max(highest[i->store], i->at.id);
    }
    const bool last = k + 1 == order.size() || order[k + 1]->store != i->store ||
                      IndexOf(*order[k + 1]) != IndexOf(*i);
    std::u16string index;
    if (last && !indexes.Flush(&index))
      return Refuse(Status::kFailed, "could not write the index " + api::FileName(index.c_str()) +
                                         " of the " + std::string(s.name) +
                                         " messages: " + std::to_string(done) + " of " +
                                         std::to_string(order.size()) + " messages imported");
    if (progress) progress(++done, order.size());
  }
  for (const StoreDescription* s : Stores()) {
    const DWORD value = std::max(highest[s->kind], st.counters[s->kind]);
    if (value != 0 && !api::RaiseCounter(*s, value))
      return Refuse(Status::kFailed,
                    "could not set the identifier counter " + s->CounterFileName());
  }
  for (const auto& [name, value] : st.handsetCounters) DefaultPlatform::SetCounter(name, value);
  report->handsetCounters = st.handsetCounters.size();
  if (!st.withAccounts) return Result();

  api::AccountSession session;
  if (!session.Open() && databasePresent)
    return Refuse(Status::kFailed, "the account database " +
                                       api::FileName(AccountStore().database) +
                                       " cannot be read: no account imported");
  const HANDLE accounts = session.store();
  for (DWORD id : accountConflicts)
    while (EmailMsgStore_DeleteAccount(accounts, id) != 0) ++report->replacedAccounts;
  DWORD highestAccount = st.accountCounter;
  for (const Account& account : AccountOrder(st.accounts)) {
    const Account* a = &account;
    tagEMAILACCOUNTPROPS props = {};
    std::u16string text = a->text;
    props.dwData = a->data;
    props.dwFolder = a->folder;
    props.wData1 = a->data1;
    props.wData2 = a->data2;
    props.pszText = text.empty() ? nullptr : &text[0];
    if (EmailMsgStore_WriteAccountData(accounts, &props, a->id) != a->id)
      return Refuse(Status::kFailed,
                    "the account store did not take account " + std::to_string(a->id));
    highestAccount = std::max(highestAccount, a->id);
    ++report->accounts;
  }
  // A database of no records was empty (made, never saved) or held the 4
  // bytes of a save; anything else is what a save writes.
  const bool create = st.databaseExisted || !st.accounts.empty();
  const bool save = !st.accounts.empty() || report->replacedAccounts != 0 ||
                    (!databasePresent && st.databaseExisted && st.databaseBytes != 0);
  if ((create && EmailAccMsgStore_Create() == 0) || (save && !session.Save()))
    return Refuse(Status::kFailed,
                  "could not save the account database " + api::FileName(AccountStore().database));
  if (highestAccount != 0 && !api::RaiseAccountCounter(highestAccount))
    return Refuse(Status::kFailed, "could not set the account identifier counter in the registry");
  if (!st.incomingServer) return Result();
  const Result named =
      api::WriteIncomingServer(st.incomingServer->first, st.incomingServer->second);
  if (named) report->incomingServer = st.incomingServer->first;
  return named;
}

}  // namespace msgstore
