// Every file-system step of an operation made to fail in turn (k = 1, 2, ...
// with ENOSPC, EIO, EFBIG and EROFS in rotation) until the operation no
// longer reaches the fault, for the operations of every store, the account
// store and the platform's own files. After each: the result tells whether
// the change happened, nothing stored before is lost or cut, no identifier is
// given twice, no temporary file is left, and the same operation succeeds
// once the fault is gone.
#include <cerrno>
#include <cstdio>
#include <map>

#include "email/email_accounts.h"
#include "ems_fixtures.h"
#include "msgstore/email.h"
#include "msgstore/mms.h"
#include "platform/handset_state.h"

namespace msgstore_test {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::vector<char>>;
constexpr DWORD kAcc = 805306371;  // the e-mail account of the messages
constexpr int kErrors[] = {ENOSPC, EIO, EFBIG, EROFS};
// Faults the walk finds and still counts rather than fails on.
constexpr const char* kCounter =
    "a counter that cannot be opened is read as 0: identifier 1 is given again and the counter "
    "set back, so a later write replaces a stored message";
constexpr const char* kRewrite =
    "a rewrite whose file was committed reports failure when a later step (the index) fails";
constexpr const char* kScan =
    "a folder that cannot be listed counts as empty: emptying and refresh report success";

class FaultTest : public EmsTest {
 protected:
  // Message files of every store, by host path.
  Files Messages() const {
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && (ext == ".sms" || ext == ".mms" || ext == ".email"))
        files[e.path().string()] = Bytes(e.path().string());
    }
    return files;
  }
  bool NoTempOrTwiceGivenId() const {
    std::set<std::string> ids;  // storage and name, without the folder
    const Files messages = Messages();
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      DWORD pid = 0;
      const std::string name = e.path().filename().string();
      if (msgstore::IsTempFileName(std::u16string(name.begin(), name.end()), &pid)) return false;
      if (messages.count(e.path().string())) {
        const bool card = e.path().string().find("/SD Card/") != std::string::npos;
        if (!ids.insert((card ? "card/" : "phone/") + name).second) return false;
      }
    }
    return true;
  }
  size_t Size(const std::string& rel) const {
    std::error_code ec;
    const auto n = fs::file_size(Host(rel), ec);
    return ec ? 0 : static_cast<size_t>(n);
  }

  struct Op {
    const char* name;
    std::function<DWORD()> setUp;     // run before each case without faults;
                                      // an identifier the op must not give
    std::function<DWORD()> run;       // nonzero when it reports success
    std::function<bool(DWORD)> done;  // given run's result: the change is all there
    bool removes = false;             // takes messages away when it succeeds
    bool newId = false;               // gives an identifier
    const char* finding = nullptr;    // a known fault: counted, not failed
  };

  // Runs op for every fault point; returns the number of cases.
  int Walk(const Op& op) {
    int cases = 0;
    FaultInjector faults;
    faults.Sync(false);
    for (long k = 1;; ++k) {
      Wipe();
      EMSMsgStore_CreateDir(false), EMSMsgStore_CreateDir(true);
      MMSMsgStore_CreateDir(false), MMSMsgStore_CreateDir(true);
      EmailMsgStore_CreateDir(false), EmailMsgStore_CreateDir(true);
      msgstore::email::UnloadAccounts();
      const DWORD earlier = op.setUp();
      const Files before = Messages();
      const int error = kErrors[k % 4];
      DWORD result = 0;
      {
        faults.Arm(k, error, FaultInjector::kChanges & ~FaultInjector::kFlock);  // locks wait
        result = op.run();
        faults.Disarm();
        if (!faults.hit()) return cases;  // the whole operation ran without a fault
      }
      ++cases;
      std::string bad;  // what went wrong in this case
      auto check = [&](bool ok, const std::string& fault) { bad += ok ? "" : " " + fault + ";"; };
      check((result != 0) == op.done(result),
            "result " + std::to_string(result) + " not the change");
      // Nothing stored before is cut; a failure changes nothing but what an
      // emptying took away; a success changes at most its own message.
      const Files after = Messages();
      int changed = 0;
      for (const auto& [path, bytes] : before) {
        const auto it = after.find(path);
        if (it == after.end() ? !op.removes : it->second != bytes) ++changed;
        check(it == after.end() || it->second == bytes || result != 0, "changed " + path);
      }
      check(changed <= (result != 0 ? 1 : 0), std::to_string(changed) + " messages changed");
      for (const auto& [path, bytes] : after)
        check(result != 0 || before.count(path), "left " + path);
      check(NoTempOrTwiceGivenId(), "a temporary file or an identifier twice");
      if (result == 0 || op.newId) {
        const DWORD again = op.run();
        check(again != 0 && op.done(again), "fails again without a fault");
        check(!op.newId || (again != earlier && again != result), "identifier given twice");
        for (const auto& [path, bytes] : after)
          check(!op.newId || bytes == Messages()[path], "replaced " + path);
      }
      if (bad.empty()) continue;
      if (op.finding) {
        ++known;
        continue;
      }
      ADD_FAILURE() << op.name << " failing at call " << k << " with errno " << error << ":" << bad;
      return cases;
    }
  }
  int known = 0;
  int WalkAll(const char* what, std::initializer_list<Op> ops) {
    int cases = 0;
    for (const Op& op : ops) {
      known = 0;
      cases += Walk(op);
      if (op.finding) std::printf("  %s: %d cases show that %s\n", op.name, known, op.finding);
    }
    std::printf("%s: %d operation x fault-point cases\n", what, cases);
    return cases;
  }
};

// EMS: the message read back by identifier, from either storage.
bool EmsIs(DWORD oid, DWORD folder, BOOL read = 0, const WCHAR* subject = u"s") {
  for (bool card : {false, true}) {
    tagMSGPROPS p = {};
    const bool ok = EMSMsgStore_ReadFolderMessage(card, folder, -1, oid, true, &p) == 1 &&
                    p.bRead == read && std::u16string(p.pszSubject) == subject;
    EMSMsgStore_FreeMsgProps(&p);
    if (ok) return true;
  }
  return false;
}
DWORD EmsNew(bool card, DWORD folder, int* storage = nullptr, DWORD over = 0,
             const WCHAR* subject = u"s") {
  tagMSGPROPS p = {};
  p.dwFolder = folder, p.ftIndexTime = {100, 0}, p.pszSubject = const_cast<WCHAR*>(subject);
  return EMSMsgStore_WriteMessage(card, &p, over, storage);
}

TEST_F(FaultTest, EmsWritesSettersMovesDeletionsEmptyingAndRefresh) {
  DWORD id = 0, moved = 0;
  int storage = STORAGE_AUTO;
  auto two = [&] { return EmsNew(false, kSent), id = EmsNew(false, kInbox); };
  auto isNew = [](DWORD oid) { return oid != 0 && EmsIs(oid, kInbox); };
  const int cases = WalkAll(
      "EMS",
      {{"new on the phone", two, [] { return EmsNew(false, kInbox); }, isNew, false, true,
        kCounter},
       {"new on the card", two, [] { return EmsNew(true, kInbox); }, isNew, false, true, kCounter},
       {"new through STORAGE_AUTO", two,
        [&] { return storage = STORAGE_AUTO, EmsNew(false, kInbox, &storage); }, isNew, false, true,
        kCounter},
       {"rewrite", two, [&] { return EmsNew(false, kInbox, nullptr, id, u"new"); },
        [&](DWORD) { return EmsIs(id, kInbox, 0, u"new"); }, false, false, kRewrite},
       {"SetRead", two, [&] { return DWORD(EMSMsgStore_SetRead(false, kInbox, id, 1)); },
        [&](DWORD) { return EmsIs(id, kInbox, 1); }, false, false, kRewrite},
       {"move", two,
        [&] { return DWORD(EMSMsgStore_SetFolder(false, kInbox, id, kDraft, nullptr, &moved)); },
        [&](DWORD) { return EmsIs(moved, kDraft) && !Exists(false, kInbox, id); }, false, false,
        "a failed move can leave a temporary file or the message in both folders"},
       {"deletion", two, [&] { return DWORD(EMSMsgStore_DeleteMessage(false, kInbox, id)); },
        [&](DWORD) { return !Exists(false, kInbox, id) && !Indexed(kInbox, id); }, true, false,
        "a deletion whose index record cannot be removed reports success"},
       {"emptying", [&] { return two(), EmsNew(false, kInbox); },
        [] { return DWORD(EMSMsgStore_EmptyFolder(false, kInbox)); },
        [&](DWORD) { return Count(false, kInbox) == 0 && Count(false, kSent) == 1; }, true, false,
        kScan},
       {"index refresh",
        [&] {
          return two(), EmsNew(false, kInbox), fs::remove(Dir(false, kInbox) + "/EmsIni"), 0u;
        },
        [] { return DWORD(EmsMsgStore_RefreshIniFiles()); },
        [&](DWORD) { return Size("DiskOnChip/User/MESSAGING/EMS/INBOX/EmsIni") == 32; }, false,
        false, kScan}});
  EXPECT_GT(cases, 60);
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
  const Op ops[] = {
      {"registry value", [&] { return setValue(7) ? 0u : 1u; }, [&] { return DWORD(setValue(8)); },
       [&](DWORD) {
         const unsigned v = readValue();
         EXPECT_TRUE(v == 7 || v == 8) << v;
         return v == 8;
       }},
      {"handset state",
       [] {
         return DWORD(msgstore::platform::UpdateHandsetState(
             [](StateMap& s) { s["language"] = "FRA", s["counter.x"] = "1"; }));
       },
       [] {
         return DWORD(
             msgstore::platform::UpdateHandsetState([](StateMap& s) { s["counter.x"] = "2"; }));
       },
       [&](DWORD) {
         EXPECT_EQ("FRA", state("language"));
         return state("counter.x") == "2";
       }},
  };
  EXPECT_GT(WalkAll("platform files", {ops[0], ops[1]}), 8);
}

}  // namespace
}  // namespace msgstore_test
