// Every file-system step of an operation made to fail in turn (k = 1, 2, ...
// with ENOSPC, EIO, EFBIG and EROFS) until the operation no longer reaches
// the fault. After each: the result tells whether the change happened,
// nothing stored before is lost or cut, no identifier is given twice, no
// temporary file is left, and the same operation succeeds once the fault is
// gone.
#include <cerrno>
#include <cstdio>
#include <map>

#include "ems_fixtures.h"
#include "platform/handset_state.h"

namespace msgstore_test {
namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::vector<char>>;

class FaultTest : public EmsTest {
 protected:
  // Message files (all but indexes, counters and the platform's own files).
  Files Messages() const {
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      if (e.is_regular_file() && e.path().extension() == ".sms")
        files[e.path().string()] = Bytes(e.path().string());
    return files;
  }
  void ExpectNoTempOrTwiceGivenId(const std::string& what) {
    std::set<std::string> ids;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      DWORD pid = 0;
      const std::string name = e.path().filename().string();
      EXPECT_FALSE(msgstore::IsTempFileName(std::u16string(name.begin(), name.end()), &pid))
          << what << ": " << e.path();
      if (e.path().extension() == ".sms") {
        EXPECT_TRUE(ids.insert(e.path().stem().string()).second) << what << ": " << e.path();
      }
    }
  }

  struct Op {
    const char* name;
    std::function<void(FaultTest&)> setUp;  // run before each case, no faults
    std::function<bool()> run;              // true when it reports success
    std::function<bool()> done;             // the change is all there
  };

  // Runs op for every fault point and error; returns the number of cases.
  int Walk(const Op& op) {
    int cases = 0;
    for (int error : {ENOSPC, EIO, EFBIG, EROFS}) {
      for (long k = 1;; ++k) {
        Wipe();
        op.setUp(*this);
        const Files before = Messages();
        FaultInjector faults;
        faults.Arm(k, error);
        const bool reported = op.run();
        faults.Disarm();
        if (!faults.hit()) break;  // the whole operation ran without a fault
        ++cases;
        const std::string what = std::string(op.name) + " failing at call " + std::to_string(k) +
                                 " with errno " + std::to_string(error);
        EXPECT_EQ(reported, op.done()) << what;
        const Files after = Messages();
        if (!reported) {
          EXPECT_EQ(before, after) << what;
        }
        ExpectNoTempOrTwiceGivenId(what);
        if (!reported) {
          EXPECT_TRUE(op.run() && op.done()) << what << ", then without a fault";
        }
        if (HasFailure()) return cases;
      }
    }
    return cases;
  }
};

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
      {"registry value", [&](FaultTest&) { ASSERT_TRUE(setValue(7)); }, [&] { return setValue(8); },
       [&] {
         const unsigned v = readValue();
         EXPECT_TRUE(v == 7 || v == 8) << v;
         return v == 8;
       }},
      {"handset state",
       [](FaultTest&) {
         ASSERT_TRUE(msgstore::platform::UpdateHandsetState(
             [](StateMap& s) { s["language"] = "FRA", s["counter.x"] = "1"; }));
       },
       [] {
         return msgstore::platform::UpdateHandsetState([](StateMap& s) { s["counter.x"] = "2"; });
       },
       [&] {
         EXPECT_EQ("FRA", state("language"));
         return state("counter.x") == "2";
       }},
  };
  int cases = 0;
  for (const Op& op : ops) cases += Walk(op);
  std::printf("platform files: %d operation x fault-point cases\n", cases);
  EXPECT_GT(cases, 8);
}

}  // namespace
}  // namespace msgstore_test
