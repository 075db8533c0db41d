// Every file-system step of an operation made to fail in turn (k = 1, 2, ...
// with ENOSPC, EIO, EFBIG and EROFS in rotation) until the operation no
// longer reaches the fault, for the operations of every store, the account
// store and the platform's own files. After each: the result tells whether
// the change happened, nothing stored before is lost or cut, a failure leaves
// every file as it was (but what an eviction or an emptying took away), each
// phone index that listed its folder still does, no identifier is given
// twice, no temporary file is left, and the same operation succeeds once the
// fault is gone.
#include <cerrno>
#include <cstdio>
#include <map>

#include <sys/stat.h>

#include "email/email_accounts.h"
#include "ems_fixtures.h"
#include "msgstore/email.h"
#include "msgstore/mms.h"
#include "platform/handset_state.h"

namespace msgstore_test {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::vector<char>>;
enum Store { kEms, kMms, kMail };
constexpr const char* kStoreDirs[] = {"EMS", "MMS", "Email"};
constexpr DWORD kAcc = 805306371;  // the e-mail account of INBOX messages
constexpr int kErrors[] = {ENOSPC, EIO, EFBIG, EROFS};
const std::string kDatabase = "DiskOnChip/User/MESSAGING/EmailAccMsgStore.db";

bool IsMessage(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".sms" || ext == ".mms" || ext == ".email";
}

// A new message of store s in folder (over an existing one), its subject s.
DWORD New(Store s, bool card, DWORD folder, int* storage = nullptr, DWORD over = 0,
          const WCHAR* subject = u"s") {
  tagMSGPROPS p = {};
  p.dwFolder = folder, p.ftIndexTime = {100, 0}, p.pszSubject = const_cast<WCHAR*>(subject);
  tagMMSMSGPROPS mms = {};
  tagEMAILMSGPROPS mail = {};
  mail.dwAccountId = kAcc;
  return s == kEms ? EMSMsgStore_WriteMessage(card, &p, over, storage)
         : s == kMms
             ? MMSMsgStore_WriteMessage(card, &p, &mms, over, reinterpret_cast<DWORD*>(storage))
             : EmailMsgStore_WriteMessage(card, &p, &mail, over, storage);
}
// Whether oid reads back from folder of store s, on either storage.
bool Is(Store s, DWORD oid, DWORD folder, BOOL read = 0, const WCHAR* subject = u"s") {
  for (bool card : {false, true}) {
    tagMSGPROPS p = {};
    tagMMSMSGPROPS mms = {};
    tagEMAILMSGPROPS mail = {};
    const int got =
        oid == 0      ? 0  // would read the folder's last file
        : s == kEms   ? EMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &p)
        : s == kMms   ? MMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &p, &mms)
        : folder == 1 ? EmailMsgStore_ReadFolderMessageInbox(card, kAcc, -1, oid, true, &p, &mail)
                      : EmailMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &p, &mail);
    const bool ok = got == 1 && p.bRead == read && std::u16string(p.pszSubject) == subject;
    s == kEms   ? EMSMsgStore_FreeMsgProps(&p)
    : s == kMms ? MMSMsgStore_FreeMsgProps(&p, &mms)
                : EmailMsgStore_FreeMsgProps(&p, &mail);
    if (ok) return true;
  }
  return false;
}
// Messages of folder on both storages, or on the card (the e-mail INBOX:
// of every account).
DWORD Held(Store s, DWORD folder, bool cardOnly = false) {
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
          (!counters && path.find("DB.ini") != std::string::npos) || ::stat(path.c_str(), &st))
        continue;
      const std::string key = std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
                              std::to_string(st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec);
      auto& [seen, bytes] = cache_[path];
      if (seen != key) seen = key, bytes = Bytes(path);
      files[path] = bytes;
    }
    return files;
  }
  mutable std::map<std::string, std::pair<std::string, std::vector<char>>> cache_;
  // Brings the files back to what files holds.
  void Restore(const Files& files) const {
    const Files now = Snapshot(true);
    for (const auto& [path, bytes] : now)
      if (!files.count(path)) fs::remove(path);
    for (const auto& [path, bytes] : files)
      if (!now.count(path) || now.at(path) != bytes) msgstore_test::Store(path, bytes);
  }
  // Each phone folder directory, and whether its index files list exactly
  // its message files, each once (a missing index lists none).
  std::map<std::string, bool> InStep() const {
    std::map<std::string, std::multiset<std::string>> files, listed;
    for (const auto& e : fs::recursive_directory_iterator(Host("DiskOnChip/User/MESSAGING"))) {
      const std::string dir = e.path().parent_path().string(), name = e.path().filename().string();
      files[dir];
      if (IsMessage(e.path())) files[dir].insert(name);
      const size_t at = name.find("Ini");
      if (at == std::string::npos || at + 3 != name.size()) continue;
      const std::string ext = name.find("Email") != std::string::npos ? ".email"
                              : name[0] == 'M'                        ? ".mms"
                                                                      : ".sms";
      const std::string account = name.substr(0, name.find('_') + 1);
      const std::vector<char> index = Bytes(e.path().string());
      for (size_t r = 0; r + 16 <= index.size(); r += 16) {
        int32_t oid = 0;
        std::memcpy(&oid, &index[r + 4], 4);
        listed[dir].insert(account + std::to_string(oid) + ext);
      }
    }
    std::map<std::string, bool> inStep;
    for (const auto& [dir, names] : files) inStep[dir] = listed[dir] == names;
    return inStep;
  }
  bool AllInStep() const {
    for (const auto& [dir, ok] : InStep())
      if (!ok) return false;
    return true;
  }
  bool NoTempOrTwiceGivenId() const {
    std::set<std::string> ids;  // storage and name, without the folder
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      DWORD pid = 0;
      const std::string name = e.path().filename().string();
      if (msgstore::IsTempFileName(std::u16string(name.begin(), name.end()), &pid)) return false;
      const bool card = e.path().string().find("/SD Card/") != std::string::npos;
      if (IsMessage(e.path()) && !ids.insert((card ? "card/" : "phone/") + name).second)
        return false;
    }
    return true;
  }
  size_t Size(const std::string& rel) const {
    std::error_code ec;
    const auto n = fs::file_size(Host(rel), ec);
    return ec ? 0 : static_cast<size_t>(n);
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
    int cases = 0;
    FaultInjector faults;
    faults.Sync(false);
    DWORD earlier = 0;
    Files start;
    for (long k = 1;; ++k) {
      if (k == 1 || (op.flags & kFresh)) {
        Wipe();
        EMSMsgStore_CreateDir(false), EMSMsgStore_CreateDir(true);
        MMSMsgStore_CreateDir(false), MMSMsgStore_CreateDir(true);
        EmailMsgStore_CreateDir(false), EmailMsgStore_CreateDir(true);
        msgstore::email::UnloadAccounts();
        earlier = op.setUp();
        start = Snapshot(true);
      } else {
        Restore(start);  // quicker than setting up anew
      }
      platform_.cardState = 1;
      const Files before = Snapshot();
      const std::map<std::string, bool> inStep = InStep();
      const int error = kErrors[k % 4];
      faults.Arm(k, error, ~FaultInjector::kFlock);  // locks wait  // locks wait
      const DWORD result = op.run();
      faults.Disarm();
      if (!faults.hit()) return cases;  // the whole operation ran without a fault
      ++cases;
      std::string bad;  // what went wrong in this case
      auto check = [&](bool ok, const std::string& fault) { bad += ok ? "" : " " + fault + ";"; };
      // An emptying or a refresh that could not read a folder whole does not
      // know that it is done.
      const bool done = op.done(result);
      check(result != 0 ? done : !done || (op.flags & (kEmpties | kRebuilds)),
            "result " + std::to_string(result) + " not the change");
      // Nothing stored before is cut; a failure changes nothing but what an
      // eviction or an emptying took away; a success changes at most its
      // own message.
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
      for (const auto& [path, bytes] : after)
        check(result != 0 || before.count(path) || (op.flags & kRebuilds), "left " + path);
      for (const auto& [dir, ok] : InStep())
        check(ok || !inStep.count(dir) || !inStep.at(dir) || (op.flags & kEmpties),
              "index out of step in " + dir);
      check(NoTempOrTwiceGivenId(), "a temporary file or an identifier twice");
      if (result == 0 || (op.flags & kNewId)) {
        const DWORD again = op.run();
        check(again != 0 && op.done(again), "fails again without a fault");
        check(!(op.flags & kNewId) || (again != earlier && again != result),
              "identifier given twice");
        const Files later = Snapshot();
        for (const auto& [path, bytes] : after)
          check(!(op.flags & kNewId) || !IsMessage(path) || later.count(path) == 0 ||
                    bytes == later.at(path),
                "replaced " + path);
      }
      if (bad.empty()) continue;
      ADD_FAILURE() << op.name << " failing at call " << k << " with errno " << error << ":" << bad;
      return cases;
    }
  }
  int WalkAll(const char* what, const std::vector<Op>& ops) {
    int cases = 0;
    for (const Op& op : ops) cases += Walk(op);
    std::printf("%s: %d operation x fault-point cases\n", what, cases);
    return cases;
  }

  // The operations every store has, on a message (id_) in folder a beside
  // one in SENT (a new one on the card finds the next name taken), and
  // writes into a full phone SENT.
  struct StoreOps {
    Store s;
    DWORD a, to;  // to: where the move goes
    std::function<DWORD(DWORD)> setRead, move, remove;
    std::function<DWORD()> empty, refresh;
  };
  std::vector<Op> Rows(const StoreOps& o) {
    const Store s = o.s;
    const DWORD a = o.a, sent = 3;
    auto two = [this, s, a] { return New(s, false, sent), id_ = New(s, false, a); };
    auto full = [this, s] {
      for (int i = 0; i < 100; ++i) New(s, false, sent);
      return id_ = 0;
    };
    auto isNew = [s, a](DWORD oid) { return Is(s, oid, a); };
    const std::string root = "DiskOnChip/User/MESSAGING/" + std::string(kStoreDirs[s]) + "/";
    const std::string index = root + "SENT/" +
                              (s == kEms   ? "EmsIni"
                               : s == kMms ? "MmsIni"
                                           : "EmailIni");
    return {
        {"new on the phone", kNewId, two, [=] { return New(s, false, a); }, isNew},
        {"new on the card, past a taken name", kNewId,
         [=] {  // the counter set back: the next name is taken on the card
           two(), New(s, true, a);
           return msgstore_test::Store(Host(root + (s == kEms   ? "EmsDB.ini"
                                                    : s == kMms ? "MMSDB.ini"
                                                                : "EmailDB.ini")),
                                       Words({2})),
                  0u;
         },
         [=] { return New(s, true, a); }, isNew},
        {"new into a full folder through STORAGE_AUTO", kNewId, full,
         [s, this] { return storage_ = STORAGE_AUTO, New(s, false, sent, &storage_); },
         [s](DWORD oid) { return Is(s, oid, sent) && Held(s, sent) - Held(s, sent, true) == 100; }},
        {"new into a full folder, evicting", kNewId | kEvicts, full,
         [s] { return New(s, false, sent); },
         [s](DWORD oid) { return Is(s, oid, sent) && Held(s, sent) == 100; }},
        {"rewrite", 0, two, [=] { return New(s, false, a, nullptr, id_, u"new"); },
         [=](DWORD) { return Is(s, id_, a, 0, u"new"); }},
        {"read flag", 0, two, [=] { return o.setRead(id_); },
         [=](DWORD) { return Is(s, id_, a, 1); }},
        {"move", kRemoves, two, [=] { return o.move(id_); },
         [=](DWORD) { return Held(s, o.to) == 1 && Held(s, a) == 0; }},
        {"deletion", kRemoves, two, [=] { return o.remove(id_); },
         [=](DWORD) { return Held(s, a) == 0; }},
        {"emptying", kEmpties, [=] { return two(), New(s, false, a); }, o.empty,
         [=](DWORD) { return Held(s, a) == 0 && Held(s, sent) == 1; }},
        {"index refresh", kRebuilds,
         [=] { return two(), New(s, false, sent), fs::remove(Host(index)), 0u; }, o.refresh,
         [this](DWORD) { return AllInStep(); }}};
  }
  DWORD id_ = 0;
  int storage_ = STORAGE_AUTO;
};

TEST_F(FaultTest, EveryStepOfEveryStoreOperationFailedInTurn) {
  DWORD moved = 0;
  const int ems = WalkAll(
      "EMS",
      Rows({kEms, kInbox, kDraft,
            [](DWORD id) { return DWORD(EMSMsgStore_SetRead(false, kInbox, id, 1)); },
            [&](DWORD id) {
              return DWORD(EMSMsgStore_SetFolder(false, kInbox, id, kDraft, nullptr, &moved));
            },
            [](DWORD id) { return DWORD(EMSMsgStore_DeleteMessage(false, kInbox, id)); },
            [] { return DWORD(EMSMsgStore_EmptyFolder(false, kInbox)); },
            [] { return DWORD(EmsMsgStore_RefreshIniFiles()); }}));
  const int mms = WalkAll(
      "MMS",
      Rows({kMms, MMS_FOLDER_INBOX, MMS_FOLDER_DRAFT,
            [](DWORD id) { return MMSMsgStore_SetReadStatus(false, MMS_FOLDER_INBOX, id, 1); },
            [](DWORD id) {
              return DWORD(
                  MMSMsgStore_SetFolder(false, MMS_FOLDER_INBOX, &id, MMS_FOLDER_DRAFT, nullptr));
            },
            [](DWORD id) { return DWORD(MMSMsgStore_DeleteMessage(false, MMS_FOLDER_INBOX, id)); },
            [] { return DWORD(MMSMsgStore_EmptyFolder(false, MMS_FOLDER_INBOX)); },
            [] { return DWORD(MMSMsgStore_RefreshIniFiles()); }}));
  std::vector<Op> mail =
      Rows({kMail, EMAIL_FOLDER_INBOX, EMAIL_FOLDER_SPAM,
            [](DWORD id) { return DWORD(EmailMsgStore_SetReadStatusInbox(false, kAcc, id, 1)); },
            [](DWORD id) { return DWORD(EmailMsgStore_MoveInboxToSpam(false, kAcc, id)); },
            [](DWORD id) { return DWORD(EmailMsgStore_DeleteMessageInbox(false, kAcc, id)); },
            [] { return DWORD(EmailMsgStore_EmptyFolderInbox(false, kAcc)); },
            [] { return DWORD(EmailMsgStore_RefreshIniFiles()); }});
  mail.push_back({"restore from SPAM", kRemoves,
                  [this] {
                    New(kMail, false, 3), id_ = New(kMail, false, EMAIL_FOLDER_INBOX);
                    return EmailMsgStore_MoveInboxToSpam(false, kAcc, id_), ++id_;
                  },
                  [this] { return DWORD(EmailMsgStore_RestoreMessageToInbox(false, id_)); },
                  [](DWORD) {
                    return Held(kMail, EMAIL_FOLDER_SPAM) == 0 &&
                           Held(kMail, EMAIL_FOLDER_INBOX) == 1;
                  }});
  const int email = WalkAll("e-mail", mail);
  // The account store: a new account's identifier from the registry, a
  // removal saved, the database made.
  tagEMAILACCOUNTPROPS account = {1, 2, 3, 4, 0, const_cast<WCHAR*>(u"acct")};
  auto add = [&account] { return EmailMsgStore_WriteAccountData(nullptr, &account, 0); };
  auto saved = [&add] { return add(), add(), EmailMsgStore_Close(nullptr), add(); };
  const int accounts = WalkAll(
      "accounts",
      {{"new account", kNewId | kFresh, add, add,
        [](DWORD id) {
          HKEY key = nullptr;
          DWORD value = 0, size = 4;
          RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0, 0, &key);
          RegQueryValueExW(key, u"AccoutnId", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                           &size);
          RegCloseKey(key);
          return id != 0 && value == id;
        }},
       {"save", kFresh, saved, [] { return DWORD(EmailMsgStore_Close(nullptr)); },
        [this](DWORD) { return Size(kDatabase) == 4 + 3 * 26; }},
       {"removal saved", kFresh, saved,
        [] {
          EmailMsgStore_DeleteAccount(nullptr, kAcc),
              EmailMsgStore_DeleteAccount(nullptr, kAcc + 1);
          return DWORD(EmailMsgStore_Close(nullptr));
        },
        [this](DWORD) { return Size(kDatabase) == 4 + 26; }},
       {"database made", kFresh, [] { return 0u; }, [] { return DWORD(EmailAccMsgStore_Create()); },
        [this](DWORD) { return fs::exists(Host(kDatabase)); }}});
  EXPECT_GT(ems + mms + email + accounts, 500);
}

// The platform's own files: a registry value and the handset state.
TEST_F(FaultTest, ThePlatformsRegistryAndHandsetStateAreReplacedWholeOrNotAtAll) {
  auto readValue = [] {
    HKEY key = nullptr;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Test", 0, 0, &key) != ERROR_SUCCESS)
      return 0u;
    RegQueryValueExW(key, u"Id", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return static_cast<unsigned>(value);
  };
  auto setValue = [](DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Test", 0, nullptr, 0, 0, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return false;
    const LONG set =
        RegSetValueExW(key, u"Id", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
  };
  using msgstore::platform::StateMap;
  auto state = [](const char* key) { return msgstore::platform::ReadHandsetState()[key]; };
  const int cases = WalkAll(
      "platform files", {{"registry value", 0, [&] { return setValue(7) ? 0u : 1u; },
                          [&] { return DWORD(setValue(8)); },
                          [&](DWORD) {
                            const unsigned v = readValue();
                            EXPECT_TRUE(v == 7 || v == 8) << v;
                            return v == 8;
                          }},
                         {"handset state", kFresh,
                          [] {
                            return DWORD(msgstore::platform::UpdateHandsetState(
                                [](StateMap& s) { s["language"] = "FRA", s["counter.x"] = "1"; }));
                          },
                          [] {
                            return DWORD(msgstore::platform::UpdateHandsetState(
                                [](StateMap& s) { s["counter.x"] = "2"; }));
                          },
                          [&](DWORD) {
                            EXPECT_EQ("FRA", state("language"));
                            return state("counter.x") == "2";
                          }}});
  EXPECT_GT(cases, 8);
}

}  // namespace
}  // namespace msgstore_test
