// Every file-system step of an operation made to fail in turn (k = 1, 2, ...
// with ENOSPC, EIO, EFBIG and EROFS in rotation) until the operation no
// longer reaches the fault, for the operations of every store, the account
// store and the handset state. After each: the result tells whether the
// change happened, nothing stored before is lost or cut, a failure leaves
// every file as it was (but what an eviction or an emptying took away) and a
// success changes at most its own message, each phone index that listed its
// folder still does, no identifier is given twice, no temporary file is left,
// and the same operation succeeds once the fault is gone.
#include <cerrno>
#include <cstdio>
#include <map>

#include <sys/stat.h>

#include "email/email_accounts.h"
#include "ems_fixtures.h"
#include "fault_injector.h"
#include "msgstore/device.h"
#include "msgstore/email.h"
#include "msgstore/maintenance.h"
#include "msgstore/mms.h"
#include "platform/handset_state.h"

namespace msgstore_test {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, Bytes>;
enum Kind { kEms, kMms, kMail };   // of store
constexpr DWORD kAcc = 805306371;  // the e-mail account of INBOX messages
constexpr int kErrors[] = {ENOSPC, EIO, EFBIG, EROFS};

bool IsMessage(const fs::path& p) {
  for (const msgstore::StoreDescription* s : msgstore::Stores())
    if (p.extension() == Ascii(s->extension)) return true;
  return false;
}

// A new message of store s in folder, its subject s.
DWORD New(Kind s, bool card, DWORD folder, int* storage = nullptr, const WCHAR* subject = u"s") {
  tagMSGPROPS p = {};
  p.dwFolder = folder, p.ftIndexTime = {100, 0}, p.pszSubject = const_cast<WCHAR*>(subject);
  tagMMSMSGPROPS mms = {};
  tagEMAILMSGPROPS mail = {};
  mail.dwAccountId = kAcc;
  return s == kEms ? EMSMsgStore_WriteMessage(card, &p, 0, storage)
         : s == kMms
             ? MMSMsgStore_WriteMessage(card, &p, &mms, 0, reinterpret_cast<DWORD*>(storage))
             : EmailMsgStore_WriteMessage(card, &p, &mail, 0, storage);
}
// Whether oid reads back from folder of store s, on either storage.
bool Is(Kind s, DWORD oid, DWORD folder, BOOL read = 0) {
  const std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open(msgstore::GetDeviceRoot());
  for (bool card : {false, true}) {
    const msgstore::ReadResult r =
        dev->store(msgstore::StoreKind(s))
            .Read({card, folder, oid, s == kMail && folder == 1 ? kAcc : 0});
    if (oid != 0 && r && r.record.read == read && r.record.subject == u"s") return true;
  }
  return false;
}
// Messages of folder on both storages, or on the card (the e-mail INBOX:
// of every account).
DWORD Held(Kind s, DWORD folder, bool cardOnly = false) {
  DWORD n = 0;
  for (bool card : {false, true})
    n += card < cardOnly ? 0
         : s == kEms     ? EMSMsgStore_GetFolderMessageCount(card, folder)
         : s == kMms     ? MMSMsgStore_GetFolderMessageCount(card, folder)
                         : EmailMsgStore_GetFolderMessageCount(card, folder);
  return n;
}

class FaultTest : public EmsTest {
 protected:
  // Thousands of files are made and replaced: on a memory file system, when
  // there is one, no case waits for the disk.
  std::string Base() const override {
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : EmsTest::Base();
  }
  // Every file (but the mutexes' lock files), by host path; without the
  // identifier counters, which a failed write may advance. A file is read
  // again only when it is another one or has changed.
  Files Snapshot(bool counters = false) const {
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string path = e.path().string();
      struct stat st;
      if (!e.is_regular_file() || path.find("/.platform/mutex/") != std::string::npos ||
          (!counters && path.rfind("DB.ini") + 6 == path.size()) || ::stat(path.c_str(), &st))
        continue;
      const std::string key = std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
                              std::to_string(st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec);
      auto& [seen, bytes] = cache_[path];
      if (seen != key) seen = key, bytes = Load(path);
      files[path] = bytes;
    }
    return files;
  }
  mutable std::map<std::string, std::pair<std::string, Bytes>> cache_;
  // Brings the files back to what files holds.
  void Restore(const Files& files) const {
    const Files now = Snapshot(true);
    for (const auto& [path, bytes] : now)
      if (!files.count(path)) fs::remove(path);
    for (const auto& [path, bytes] : files)
      if (!now.count(path) || now.at(path) != bytes) Store(bytes, path);
  }
  // The phone folders whose index files do not list exactly their message
  // files, each once.
  static std::set<std::string> OutOfStep(const Files& files) {
    std::map<std::string, std::multiset<std::string>> held, listed;
    for (const auto& [path, bytes] : files) {
      const std::string dir = fs::path(path).parent_path(), name = fs::path(path).filename();
      if (path.find("/DiskOnChip/") == std::string::npos) continue;
      if (IsMessage(path)) held[dir].insert(name), listed[dir];
      if (name.rfind("Ini") + 3 != name.size()) continue;
      const char* ext = name.find("Email") != std::string::npos ? ".email"
                        : name[0] == 'M'                        ? ".mms"
                                                                : ".sms";
      for (size_t r = 0; r + 16 <= bytes.size(); r += 16)
        listed[dir].insert(name.substr(0, name.find('_') + 1) +
                           std::to_string(int32_t(LoadU32(bytes, r + 4))) + ext);
    }
    std::set<std::string> out;
    for (const auto& [dir, names] : listed)
      if (held[dir] != names) out.insert(dir);
    return out;
  }

  enum Flags {
    kNewId = 1,      // gives an identifier
    kRemoves = 2,    // takes its message away when it succeeds
    kEvicts = 4,     // may take the folder's oldest away, also when it fails
    kEmpties = 8,    // takes any number of messages away and leaves the index
    kRebuilds = 16,  // changes indexes also when it fails
    kFresh = 32      // set up anew for each case (it keeps state in memory)
  };
  struct Op {
    const char* name;
    int flags;
    std::function<DWORD()> setUp;     // run without faults before the first case
                                      // (the others start from the same files);
                                      // an identifier the op must not give
    std::function<DWORD()> run;       // nonzero when it reports success
    std::function<bool(DWORD)> done;  // given run's result: the change is all there
  };

  // Runs op for every fault point; returns the number of cases.
  int Walk(const Op& op) {
    FaultInjector faults;
    DWORD earlier = 0;
    Files start;
    for (long k = 1;; ++k) {
      if (k == 1 || (op.flags & kFresh)) {
        Wipe();
        for (bool card : {false, true})
          EMSMsgStore_CreateDir(card), MMSMsgStore_CreateDir(card), EmailMsgStore_CreateDir(card);
        msgstore::email::UnloadAccounts();
        earlier = op.setUp();
        start = Snapshot(true);
      } else {
        Restore(start);  // quicker than setting up anew
      }
      platform_.cardState = 1;
      const Files before = Snapshot();
      const int error = kErrors[k % 4];
      faults.Arm(k, error);
      const DWORD result = op.run();
      faults.Disarm();
      if (!faults.hit()) return static_cast<int>(k - 1);  // no fault reached: all cases done
      std::string bad;                                    // what went wrong in this case
      auto check = [&](bool ok, const std::string& fault) { bad += ok ? "" : " " + fault + ";"; };
      // An emptying or a refresh that could not read a folder whole does not
      // know that it is done.
      const bool done = op.done(result);
      check(result != 0 ? done : !done || (op.flags & (kEmpties | kRebuilds)),
            "result " + std::to_string(result) + " not the change");
      const Files after = Snapshot();
      int changed = 0, gone = 0;
      for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        if (IsMessage(path)) {
          it == after.end() ? ++gone : changed += it->second != bytes;
        } else {
          check(result != 0 || (op.flags & (kRebuilds | kEvicts)) ||
                    (it != after.end() && it->second == bytes),
                "failed, yet changed " + path);
        }
      }
      check(changed <= (result != 0 && !(op.flags & kNewId)),
            std::to_string(changed) + " messages changed");
      check((op.flags & kEmpties) ||
                gone <= !!(op.flags & kEvicts) + (result != 0 && (op.flags & kRemoves)),
            std::to_string(gone) + " messages gone");
      std::set<std::string> ids;  // storage and name of each message
      for (const auto& [path, bytes] : after) {
        const std::string name = fs::path(path).filename();
        check(!msgstore::IsTempFileName(std::u16string(name.begin(), name.end()), nullptr) &&
                  (result != 0 || before.count(path) || (op.flags & kRebuilds)),
              "left " + path);
        check(!IsMessage(path) || ids.insert(path.substr(root_.size(), 9) + name).second,
              "identifier twice: " + path);
      }
      const std::set<std::string> outBefore = OutOfStep(before);
      for (const std::string& dir : OutOfStep(after))
        check(outBefore.count(dir) || (op.flags & kEmpties), "index out of step in " + dir);
      if (result == 0 || (op.flags & kNewId)) {
        const DWORD again = op.run();
        check(again != 0 && op.done(again), "fails again without a fault");
        check(!(op.flags & kNewId) || (again != earlier && again != result),
              "identifier given twice");
        const Files later = Snapshot();
        for (const auto& [path, bytes] : after)
          check(!(op.flags & kNewId) || !IsMessage(path) || !later.count(path) ||
                    bytes == later.at(path),
                "replaced " + path);
      }
      if (bad.empty()) continue;
      ADD_FAILURE() << op.name << " failing at call " << k << " with errno " << error << ":" << bad;
      return static_cast<int>(k);
    }
  }
  int WalkAll(const char* what, const std::vector<Op>& ops) {
    int cases = 0;
    for (const Op& op : ops) cases += Walk(op);
    std::printf("%s: %d operation x fault-point cases\n", what, cases);
    return cases;
  }

  // A message (id_) in folder a beside one in SENT, or a full phone SENT.
  DWORD Two(Kind s, DWORD a) { return New(s, false, kSent), id_ = New(s, false, a); }
  DWORD Full(Kind s) {
    for (int i = 0; i < 100; ++i) New(s, false, kSent);
    return id_ = 0;
  }
  // The operations every store has, on Two's message in folder a (a new one
  // on the card finds the next name taken), and writes into a full SENT.
  struct StoreOps {
    Kind s;
    DWORD a, to;  // to: where the move goes
    std::function<DWORD(DWORD)> setRead, move, remove;
    std::function<DWORD()> empty, refresh;
  };
  std::vector<Op> Rows(const StoreOps& o) {
    const Kind s = o.s;
    const DWORD a = o.a;
    auto two = [this, s, a] { return Two(s, a); };
    auto full = [this, s] { return Full(s); };
    auto isNew = [s, a](DWORD oid) { return Is(s, oid, a); };
    const msgstore::StoreDescription& d = *msgstore::Stores()[s];
    const std::string counter = Host(d.counterFile),
                      index = Dir(d, false, kSent) + "/" + Ascii(d.indexName);
    return {
        {"new on the phone", kNewId, two, [=] { return New(s, false, a); }, isNew},
        {"new on the card, past a taken name", kNewId,
         [=] {  // the counter set back: the next name is taken on the card
           return two(), New(s, true, a, 0, u"taken"), Store(Words({2}), counter), 0u;
         },
         [=] { return New(s, true, a); }, isNew},
        {"new into a full folder through STORAGE_AUTO", kNewId, full,
         [s, this] { return storage_ = STORAGE_AUTO, New(s, false, kSent, &storage_); },
         [s](DWORD oid) { return Is(s, oid, kSent) && Held(s, kSent) - Held(s, kSent, 1) == 100; }},
        {"new into a full folder, evicting", kNewId | kEvicts, full,
         [s] { return New(s, false, kSent); },
         [s](DWORD oid) { return Is(s, oid, kSent) && Held(s, kSent) == 100; }},
        {"read flag", 0, two, [=] { return o.setRead(id_); },
         [=](DWORD) { return Is(s, id_, a, 1); }},
        {"move", kRemoves, two, [=] { return o.move(id_); },
         [=](DWORD) { return Held(s, o.to) == 1 && Held(s, a) == 0; }},
        {"deletion", kRemoves, two, [=] { return o.remove(id_); },
         [=](DWORD) { return Held(s, a) == 0; }},
        {"emptying", kEmpties, [=] { return two(), New(s, false, a); }, o.empty,
         [=](DWORD) { return Held(s, a) == 0 && Held(s, kSent) == 1; }},
        {"index refresh", kRebuilds,
         [=] { return two(), New(s, false, kSent), fs::remove(index), 0u; }, o.refresh,
         [this](DWORD) { return OutOfStep(Snapshot()).empty(); }}};
  }
  DWORD id_ = 0;
  int storage_ = STORAGE_AUTO;
};

TEST_F(FaultTest, EmsOperations) {
  DWORD moved = 0;
  std::vector<Op> ems =
      Rows({kEms, kInbox, kDraft, [](DWORD id) { return EMSMsgStore_SetRead(0, kInbox, id, 1); },
            [&](DWORD id) { return EMSMsgStore_SetFolder(0, kInbox, id, kDraft, 0, &moved); },
            [](DWORD id) { return EMSMsgStore_DeleteMessage(false, kInbox, id); },
            [] { return EMSMsgStore_EmptyFolder(false, kInbox); }, EmsMsgStore_RefreshIniFiles});
  // A move into a full folder that a busy card makes evict its oldest.
  ems.push_back({"move evicting", kRemoves | kEvicts,
                 [this] { return Full(kEms), id_ = New(kEms, false, kInbox); },
                 [&] {
                   platform_.cardState = 3;
                   return DWORD(EMSMsgStore_SetFolder(false, kInbox, id_, kSent, 0, &moved));
                 },
                 [](DWORD) { return Held(kEms, kSent) == 100 && Held(kEms, kInbox) == 0; }});
  EXPECT_GT(WalkAll("EMS", ems), 300);
}

TEST_F(FaultTest, MmsOperations) {
  std::vector<Op> mms = Rows(
      {kMms, kInbox, kDraft, [](DWORD id) { return MMSMsgStore_SetReadStatus(0, kInbox, id, 1); },
       [](DWORD id) { return MMSMsgStore_SetFolder(0, kInbox, &id, kDraft, 0); },
       [](DWORD id) { return MMSMsgStore_DeleteMessage(0, kInbox, id); },
       [] { return MMSMsgStore_EmptyFolder(false, kInbox); }, MMSMsgStore_RefreshIniFiles});
  EXPECT_GT(WalkAll("MMS", mms), 300);
}

// A full e-mail folder is walked by the evicting write alone (the other
// storage of STORAGE_AUTO is the shared code the MMS walk takes).
TEST_F(FaultTest, EmailOperations) {
  std::vector<Op> mail = Rows(
      {kMail, kInbox, EMAIL_FOLDER_SPAM,
       [](DWORD id) { return EmailMsgStore_SetReadStatusInbox(false, kAcc, id, 1); },
       [](DWORD id) { return EmailMsgStore_MoveInboxToSpam(false, kAcc, id); },
       [](DWORD id) { return EmailMsgStore_DeleteMessageInbox(false, kAcc, id); },
       [] { return EmailMsgStore_EmptyFolderInbox(false, kAcc); }, EmailMsgStore_RefreshIniFiles});
  mail.erase(mail.begin() + 2);  // through STORAGE_AUTO
  mail.push_back(
      {"restore from SPAM", kRemoves,
       [this] {
         return Two(kMail, kInbox), EmailMsgStore_MoveInboxToSpam(false, kAcc, id_), ++id_;
       },
       [this] { return DWORD(EmailMsgStore_RestoreMessageToInbox(false, id_)); },
       [](DWORD) { return Held(kMail, EMAIL_FOLDER_SPAM) == 0 && Held(kMail, kInbox) == 1; }});
  EXPECT_GT(WalkAll("e-mail", mail), 500);
}

// The account store (a new account's identifier from the registry, saves; a
// removal is made in the array and reaches the file through the same save)
// and the default platform's handset state.
TEST_F(FaultTest, AccountStoreAndHandsetState) {
  tagEMAILACCOUNTPROPS account = {1, 2, 3, 4, 0, const_cast<WCHAR*>(u"acct")};
  auto add = [&account] { return EmailMsgStore_WriteAccountData(nullptr, &account, 0); };
  auto saved = [&add] { return add(), add(), EmailMsgStore_Close(nullptr), add(); };
  const std::string db = Host(msgstore::AccountStore().database);
  auto size = [db] { return fs::exists(db) ? fs::file_size(db) : 0; };
  auto state = [](const char* n) {
    using msgstore::platform::StateMap;
    return DWORD(msgstore::platform::UpdateHandsetState([n](StateMap& s) { s["n"] = n; }));
  };
  EXPECT_GT(
      WalkAll("the account store and the handset state",
              {{"new account", kNewId | kFresh, add, add,
                [](DWORD id) {
                  tagEMAILACCOUNTPROPS p{};
                  const bool in = EmailMsgStore_ReadFolderAccount(nullptr, id, &p) == 1;
                  return std::free(p.pszText), in;
                }},
               {"save", kFresh, saved, [] { return DWORD(EmailMsgStore_Close(nullptr)); },
                [&](DWORD) { return size() == 4 + 3 * 26; }},
               {"handset state", kFresh, [&] { return state("1"); }, [&] { return state("2"); },
                [](DWORD) { return msgstore::platform::ReadHandsetState()["n"] == "2"; }}}),
      20);
}

// A restore of accounts, or an account added or removed, that fails at any
// step leaves none of its changes in the account store's array of this
// process that it did not save: a save of the array that follows (a caller of
// the account store's own operations) writes none of them. A failed addition
// or removal leaves the database as it was.
TEST_F(FaultTest, FailedAccountChangesLeaveNoneInTheAccountArray) {
  std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open(root_);
  ASSERT_TRUE(dev->Init());
  const DWORD id = dev->accounts().Add({0, 1, 0, 0, 0, u"mine"}).account.id;
  const std::string database = Host(msgstore::AccountStore().database);
  const Bytes before = Load(database);
  auto restore = [&] {
    msgstore::Restorer restore(*dev);
    restore.AddAccount({id, 1, 0, 0, 0, u"restored"}, 0);
    restore.AddAccount({id + 1, 1, 0, 0, 0, u"new"}, 1);
    restore.SetAccountDatabase(true, DWORD(before.size()), id);
    msgstore::Restorer::Report report;
    return static_cast<bool>(restore.Commit(true, &report));
  };
  // What a save after the change keeps as the change left it: which of the
  // restore's records and the account it replaces the database holds, or the
  // whole database.
  auto restored = [&database] {
    const Bytes db = Load(database);
    auto holds = [&db](const std::u16string& text) {
      const auto* p = reinterpret_cast<const unsigned char*>(text.data());
      return std::search(db.begin(), db.end(), p, p + 2 * text.size()) != db.end();
    };
    return Bytes{holds(u"restored"), holds(u"new"), holds(u"mine")};
  };
  auto whole = [&database] { return Load(database); };
  auto add = [&] { return static_cast<bool>(dev->accounts().Add({0, 1, 0, 0, 0, u"added"})); };
  auto remove = [&] { return static_cast<bool>(dev->accounts().Remove(id)); };
  const std::tuple<std::string, std::function<bool()>, std::function<Bytes()>> changes[] = {
      {"restore", restore, restored}, {"add", add, whole}, {"remove", remove, whole}};
  FaultInjector faults;
  for (const auto& [what, change, kept] : changes) {
    Store(before, database);
    EmailAccMsgStore_Open(nullptr);
    int failures = 0;
    for (long k = 1;; ++k) {
      faults.Arm(k, kErrors[k % 4]);
      const bool done = change();
      faults.Disarm();
      if (!faults.hit()) break;
      failures += !done;
      EXPECT_TRUE(done || what == "restore" || Load(database) == before) << what << ", fault " << k;
      const Bytes left = kept();
      EmailMsgStore_Close(nullptr);
      EXPECT_EQ(kept(), left) << what << ", fault " << k;
      Store(before, database);
    }
    EXPECT_GT(failures, 0) << what;
  }
}

}  // namespace
}  // namespace msgstore_test
