// Several processes on one device root: writers at the same time and writers
// killed at arbitrary moments. Nothing stored may be lost, cut short or
// handed out twice. (Writes that fail part-way are walked step by step in
// fault_injection_test.cpp.)
#include <chrono>
#include <random>
#include <thread>

#include "ems_fixtures.h"
#include "msgstore/maintenance.h"
#include "platform/sys_calls.h"

namespace msgstore_test {
namespace {

namespace fs = std::filesystem;

class Reliability : public EmsTest {
 protected:
  const unsigned seed_ = std::random_device()();
  std::mt19937 random_{seed_};
  // Message seq of writer: an index time and a content of its own that starts
  // with writer and seq, so that a file can be checked by itself.
  static DWORD Time(DWORD writer, DWORD seq) { return writer * 1000 + seq + 1; }
  static std::vector<BYTE> Content(DWORD writer, DWORD seq) {
    std::vector<BYTE> content(8 + 1500 + (writer * 977 + seq * 389) % 4000);
    for (size_t i = 0; i < content.size(); ++i)
      content[i] = i < 8 ? BYTE((i < 4 ? writer : seq) >> (8 * (i % 4)))
                         : BYTE(writer * 7 + seq * 13 + i * 31 + (i >> 8));
    return content;
  }
  // Writes message seq of writer as a new message.
  static DWORD Store(bool card, DWORD folder, DWORD writer, DWORD seq) {
    std::vector<BYTE> content = Content(writer, seq);
    tagMSGPROPS props = Message(folder, Time(writer, seq));
    props.cbData = static_cast<DWORD>(content.size()), props.pData = content.data();
    return EMSMsgStore_WriteMessage(card, &props, 0, nullptr);
  }
  // Whether oid reads back whole as message seq of writer (writer -1: the
  // one its content names).
  static ::testing::AssertionResult ReadsBack(bool card, DWORD folder, DWORD oid, int writer = -1,
                                              int seq = -1) {
    Record r(card, folder, oid);
    const tagMSGPROPS& p = r.props;
    const Bytes content(p.pData, p.pData + (r.ok ? p.cbData : 0));
    if (writer < 0 && content.size() >= 8)
      writer = static_cast<int>(LoadU32(content, 0)), seq = static_cast<int>(LoadU32(content, 4));
    if (writer < 0 || p.dwOid != oid || p.dwFolder != folder ||
        p.ftIndexTime.dwLowDateTime != Time(writer, seq) || content != Content(writer, seq))
      return ::testing::AssertionFailure()
             << folder << "/" << oid << " is not message " << writer << "." << seq << " whole";
    return ::testing::AssertionSuccess();
  }
  static std::vector<DWORD> Listed(bool card, DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetMessageList(card, folder, list);
    std::vector<DWORD> oids;
    for (long i = 0; i < list.GetSize(); ++i) oids.push_back(list[i].dwOid);
    std::sort(oids.begin(), oids.end());
    return oids;
  }
};

// Writers on both storages at once, beside a process that deletes older
// phone messages: each identifier is handed out once, from one counter, every
// new message lands whole, listed and indexed, and the deleted ones are gone;
// no change to the handset counters, the SIM sent count lowered by each
// writer's deletions of SIM copies, or the registry is lost.
TEST_F(Reliability, ConcurrentWritersLoseNothing) {
  constexpr DWORD kWriters = 6, kMessages = 15;  // writers 4 to 6 on the card
  constexpr DWORD kOld = 10;                     // identifiers 1 to 10, deleted
  for (DWORD seq = 0; seq < kOld; ++seq) ASSERT_EQ(Store(false, kDraft, 99, seq), seq + 1);
  for (DWORD oid = 500; oid < 500 + kWriters * 17; ++oid) Put(false, kSimSent, oid, 1);
  msgstore::DefaultPlatform::SetCounter("SentInSim", kWriters * 17);
  Children children;
  children.Spawn([=](int) {
    for (DWORD oid = 1; oid <= kOld; ++oid)
      if (EMSMsgStore_DeleteMessage(false, kDraft, oid) == 0) return 3;
    return 0;
  });
  for (DWORD w = 1; w <= kWriters; ++w)
    children.Spawn([=](int out) {
      for (BYTE i = 1; i <= 50; ++i) {
        if (i <= 17 &&
            EMSMsgStore_DeleteMessage(false, kSimSent, 500 + w - 1 + kWriters * (i - 1)) != 1)
          return 5;
        msgstore::GetPlatform().xSetEmsRecvMsgCount(1);
        if (RegSetValueExW(HKEY_LOCAL_MACHINE, u"v", 0, REG_BINARY, &i, 1)) return 4;
      }
      for (DWORD seq = 0; seq < kMessages; ++seq)
        if (!Report(out, {Store(w > kWriters / 2, kDraft, w, seq)})) return 3;
      return 0;
    });
  ASSERT_EQ(children.Finish(), std::vector<int>(kWriters + 1, 0));
  std::set<DWORD> handedOut, range;     // every draw took the next number, once
  std::vector<DWORD> listed[2], index;  // of each storage; the phone index, newest first
  for (DWORD w = kWriters; w >= 1; --w) {
    const std::vector<DWORD> oids = children.Words(w);
    ASSERT_EQ(oids.size(), kMessages) << "writer " << w;
    const bool card = w > kWriters / 2;
    for (DWORD seq = kMessages; seq-- > 0;) {
      EXPECT_TRUE(ReadsBack(card, kDraft, oids[seq], w, seq));
      listed[card].push_back(oids[seq]);
      if (!card) index.insert(index.end(), {kDraft, oids[seq], Time(w, seq), 0});
      handedOut.insert(oids[seq]);
      range.insert(kOld + 1 + (w - 1) * kMessages + seq);
    }
  }
  EXPECT_EQ(handedOut, range);
  EXPECT_EQ(Counter(), Words({kOld + kWriters * kMessages}));
  DWORD type = 0, size = 1;  // and no change to the handset or the registry was lost
  BYTE last = 0;
  RegQueryValueExW(HKEY_LOCAL_MACHINE, u"v", nullptr, &type, &last, &size);
  EXPECT_EQ(std::make_tuple(msgstore::DefaultPlatform::GetCounter("EmsRecv"),
                            msgstore::DefaultPlatform::GetCounter("SentInSim"), type, last, size),
            std::make_tuple(kWriters * 50, 0u, REG_BINARY, BYTE{50}, 1u));
  for (bool card : {false, true}) {
    std::sort(listed[card].begin(), listed[card].end());
    EXPECT_EQ(Listed(card, kDraft), listed[card]) << card;
  }
  EXPECT_EQ(Load(Dir(false, kDraft) + "/EmsIni"), Words(index));
}

TEST_F(Reliability, KilledWritersLeaveWholeFilesAndAUsableCounterAndIndex) {
  constexpr DWORD kForeign = 100000;  // index records without files
  SCOPED_TRACE("random seed " + std::to_string(seed_));
  ASSERT_EQ(Store(false, kDraft, 0, 0), 1u);  // both indexes exist before the first kill
  EMSMsgStore_AddMsgToIni(kForeign, kSent, {1, 0});
  for (DWORD round = 1; round <= 5; ++round) {
    // Two phone writers, a card writer and two index writers, each killed
    // after its first few operations, up to 3 ms later: anywhere in a write.
    Children children;
    for (DWORD k = 0; k < 5; ++k)
      children.Spawn([writer = round * 10 + k, k](int out) {
        for (DWORD seq = 0; seq < 300; ++seq) {
          if (k < 3 && Store(k == 2, kDraft, writer, seq) == 0) return 3;
          if (k >= 3) EMSMsgStore_AddMsgToIni(kForeign + writer * 1000 + seq, kSent, {seq + 2, 0});
          if (!Report(out, {seq})) return 3;
        }
        return 0;
      });
    std::vector<size_t> order = {0, 1, 2, 3, 4};
    std::shuffle(order.begin(), order.end(), random_);
    for (size_t i : order) {
      ASSERT_TRUE(children.Await(i, 1 + random_() % 3)) << "round " << round << " child " << i;
      std::this_thread::sleep_for(std::chrono::microseconds(random_() % 3000));
      children.Kill(i);
    }
    for (int code : children.Finish()) EXPECT_TRUE(code == -SIGKILL || code == 0) << code;
  }
  std::set<DWORD> stored;
  for (bool card : {false, true})
    for (DWORD oid : Listed(card, kDraft)) {
      EXPECT_TRUE(ReadsBack(card, kDraft, oid));
      EXPECT_TRUE(stored.insert(oid).second) << oid << " on both storages";
    }
  const Bytes counter = Counter();
  ASSERT_EQ(counter.size(), 4u);
  EXPECT_GE(LoadU32(counter, 0), *stored.rbegin());
  for (DWORD folder : {kDraft, kSent}) {  // whole records of the folder, newest first
    const Bytes index = Load(Dir(false, folder) + "/EmsIni");
    EXPECT_TRUE(!index.empty() && index.size() % 16 == 0) << index.size();
    for (size_t at = 0; at + 16 <= index.size(); at += 16) {
      EXPECT_EQ(LoadU32(index, at), folder);
      EXPECT_TRUE(at == 0 || LoadU32(index, at + 8) <= LoadU32(index, at - 8)) << at / 16;
    }
  }
  const DWORD next = Store(false, kDraft, 1000, 0);
  EXPECT_EQ(stored.count(next), 0u) << "identifier " << next << " taken again";
  EXPECT_TRUE(ReadsBack(false, kDraft, next, 1000, 0));
  EXPECT_TRUE(Indexed(kDraft, next));

  // The refresh clears what the killed writers left, not a live writer's file.
  const std::string live =
      Dir(false, kDraft) + "/7.sms." + std::to_string(::getpid()) + ".4000000000.tmp";
  std::ofstream(live) << "being written";
  EXPECT_EQ(EmsMsgStore_RefreshIniFiles(), 1);
  std::vector<std::string> temporary;
  for (const char* volume : {"DiskOnChip", "SD Card"})
    for (const auto& e : fs::recursive_directory_iterator(Host(volume)))
      if (e.path().extension() == ".tmp") temporary.push_back(e.path().string());
  EXPECT_EQ(temporary, std::vector<std::string>{live});
}

// A restore of 3 folders of 40 messages on each storage writes each phone
// index once, after the files of its folder. Killed anywhere, or failing at a
// message whose name a directory takes: what it left lists no message in an
// index before the message's file stands written, and every phone file it
// wrote is indexed when it failed; after Repair, a second restore that
// replaces completes it into the same files as a restore never interrupted.
TEST_F(Reliability, RestoreKilledOrFailedLeavesIndexesBehindFilesAndARerunCompletesIt) {
  constexpr DWORD kPerFolder = 40, kTotal = 6 * kPerFolder;
  const DWORD folders[] = {kInbox, kDraft, kSent};
  auto restore = [&](const std::string& root, bool replace,
                     const std::function<void(size_t, size_t)>& progress = {}) {
    msgstore::SetDeviceRoot(root);
    fs::create_directories(root + "/SD Card");
    std::unique_ptr<msgstore::Device> dev = msgstore::Device::Open(root);
    msgstore::Restorer r(*dev);
    DWORD id = 0;
    for (bool card : {false, true})
      for (DWORD folder : folders)
        for (DWORD k = 0; k < kPerFolder; ++k) {
          msgstore::Record m;
          m.folder = folder, m.subject = u"m", m.indexTime = m.time = {++id * 1000, 0x01D00000u};
          m.content = Content(card, id);
          r.Add(msgstore::StoreKind::kSms, {card, folder, id, 0}, m,
                card ? std::nullopt : std::optional<size_t>(kPerFolder - 1 - k));
        }
    msgstore::Restorer::Report report;
    return r.Commit(replace, &report, progress);
  };
  // The files of a root's message trees by path under the root.
  auto files = [](const std::string& root) {
    std::map<std::string, Bytes> out;
    for (const char* volume : {"DiskOnChip", "SD Card"})
      for (const auto& e : fs::recursive_directory_iterator(root + "/" + volume))
        if (e.is_regular_file())
          out[e.path().string().substr(root.size())] = Load(e.path().string());
    return out;
  };
  // Phone folders whose index names a message without its file (unindexed:
  // or whose files the index does not list).
  auto ahead = [&](const std::string& root, bool unindexed) {
    std::vector<DWORD> out;
    for (DWORD folder : folders) {
      std::set<DWORD> held, listed;
      const std::string dir = root + Dir(false, folder).substr(root_.size());
      for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".sms")
          held.insert(std::stoul(e.path().stem().string()));
      for (const auto& record : LoadIndex(dir + "/EmsIni")) listed.insert(record[1]);
      if (!std::includes(held.begin(), held.end(), listed.begin(), listed.end()) ||
          (unindexed && held != listed))
        out.push_back(folder);
    }
    return out;
  };
  // Uninterrupted, it writes each phone index once, after the last file of
  // its folder.
  static std::vector<std::string> renamed;
  auto& sys = msgstore::platform::Sys();
  const auto rename = sys.rename;
  sys.rename = [](const char* from, const char* to) {
    renamed.push_back(fs::path(to).parent_path().filename() / fs::path(to).filename());
    return msgstore::platform::HostSysCalls().rename(from, to);
  };
  const msgstore::Result whole = restore(root_ + "/whole", false);
  sys.rename = rename;
  ASSERT_TRUE(whole) << whole.error;
  std::map<std::string, std::string> last;  // folder: the last file put in it
  std::vector<std::string> indexes;
  for (const std::string& name : renamed) {
    const std::string folder = name.substr(0, name.find('/'));
    last[folder] = name;
    if (name == folder + "/EmsIni") indexes.push_back(name);
  }
  EXPECT_EQ(indexes, (std::vector<std::string>{"INBOX/EmsIni", "DRAFT/EmsIni", "SENT/EmsIni"}));
  for (const std::string& index : indexes)
    EXPECT_EQ(last[index.substr(0, index.find('/'))], index) << "a message after its index";
  const auto expected = files(root_ + "/whole");
  ASSERT_EQ(expected.size(), kTotal + 3 + 1);  // messages, phone indexes, counter

  SCOPED_TRACE("random seed " + std::to_string(seed_));
  for (int round = 0; round < 3; ++round) {
    const std::string root = root_ + "/killed" + std::to_string(round);
    Children child;
    child.Spawn([&](int out) {
      auto report = [out](size_t done, size_t) { Report(out, {DWORD(done)}); };
      return restore(root, false, report) ? 0 : 1;
    });
    child.Await(0, 1 + random_() % (kTotal - 1));
    std::this_thread::sleep_for(std::chrono::microseconds(random_() % 2000));
    child.Kill(0);
    for (int code : child.Finish()) EXPECT_TRUE(code == -SIGKILL || code == 0) << code;
    EXPECT_EQ(ahead(root, false), std::vector<DWORD>{}) << "round " << round;
    msgstore::SetDeviceRoot(root);
    EXPECT_TRUE(msgstore::Repair(*msgstore::Device::Open(root)).after.ok()) << "round " << round;
    const msgstore::Result rerun = restore(root, true);
    EXPECT_TRUE(rerun) << rerun.error;
    EXPECT_TRUE(files(root) == expected) << "round " << round;
  }

  const std::string failing = root_ + "/failing";
  fs::create_directories(failing + "/DiskOnChip/User/MESSAGING/EMS/DRAFT/" +
                         std::to_string(kPerFolder + kPerFolder / 2) + ".sms");
  const msgstore::Result failed = restore(failing, false);
  EXPECT_EQ(failed.status, msgstore::Status::kFailed);
  EXPECT_EQ(ahead(failing, true), std::vector<DWORD>{});
  msgstore::SetDeviceRoot(root_);
}

}  // namespace
}  // namespace msgstore_test
