// Several processes on one device root: writers at the same time, writers
// killed at arbitrary moments, moves and deletions beside new messages, and
// rewrites that fail part-way. Nothing stored may be lost, cut short or
// handed out twice.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "ems_fixtures.h"
#include "msgstore/platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The children of one step have this long from their start to be done; a
// child that lives longer than kChildSeconds is ended by its own alarm.
constexpr auto kWaitLimit = std::chrono::seconds(15);
constexpr unsigned kChildSeconds = 25;

// Forked children that start together when the gate opens, each with a pipe
// to report through (a report must fit in the pipe: the parent reads it once
// the child is gone). Children still there when the object goes, after a
// failed assertion, are killed and reaped.
class Children {
 public:
  Children() {
    if (::pipe(gate_) != 0) gate_[0] = gate_[1] = -1;
  }
  ~Children() {
    for (Child& c : children_) {
      if (!c.reaped) {
        ::kill(c.pid, SIGKILL);
        ::waitpid(c.pid, nullptr, 0);
      }
      if (c.out >= 0) ::close(c.out);
    }
    for (int fd : gate_)
      if (fd >= 0) ::close(fd);
  }
  Children(const Children&) = delete;
  Children& operator=(const Children&) = delete;

  // Forks a child that waits for the gate, then exits with body(fd), fd
  // being the write end of its report pipe.
  void Spawn(const std::function<int(int)>& body) {
    int fds[2] = {-1, -1};
    const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
    if (pid == 0) {
      ::alarm(kChildSeconds);
      ::close(fds[0]);
      ::close(gate_[1]);
      char byte;
      while (::read(gate_[0], &byte, 1) < 0 && errno == EINTR) {
      }
      ::_exit(body(fds[1]));
    }
    ::close(fds[1]);
    if (pid < 0) ::close(fds[0]);
    children_.push_back({pid, pid > 0 ? fds[0] : -1, pid < 0, -1, {}});
  }

  // Lets every child spawned so far run, from now on for kWaitLimit.
  void Start() {
    ::close(gate_[1]);
    gate_[1] = -1;
    deadline_ = Clock::now() + kWaitLimit;
  }

  void Kill(size_t i) {
    if (!children_[i].reaped) ::kill(children_[i].pid, SIGKILL);
  }

  // Waits until child i has reported at least bytes; false when its pipe
  // closed first or the time is up.
  bool AwaitReport(size_t i, size_t bytes) {
    Child& c = children_[i];
    while (c.report.size() < bytes && c.out >= 0 && Clock::now() < deadline_) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      pollfd fd = {c.out, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count()) + 1) > 0) Drain(c);
    }
    return c.report.size() >= bytes;
  }

  // Reaps every child and takes its report. False when the time was up
  // first; the children still running are then killed.
  bool Finish() {
    bool inTime = true;
    for (Child& c : children_) {
      while (!c.reaped) {
        const pid_t got = ::waitpid(c.pid, &c.status, WNOHANG);
        c.reaped = got == c.pid || got < 0;
        if (!c.reaped && Clock::now() >= deadline_) {
          ::kill(c.pid, SIGKILL);
          ::waitpid(c.pid, nullptr, 0);
          c.reaped = true;
          inTime = false;
        } else if (!c.reaped) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
      while (c.out >= 0) Drain(c);
    }
    return inTime;
  }

  size_t size() const { return children_.size(); }
  bool Exited(size_t i, int code) const {
    const int s = children_[i].status;
    return s != -1 && WIFEXITED(s) && WEXITSTATUS(s) == code;
  }
  bool Killed(size_t i) const {
    const int s = children_[i].status;
    return s != -1 && WIFSIGNALED(s) && WTERMSIG(s) == SIGKILL;
  }
  // What child i reported, as 32-bit words.
  std::vector<DWORD> Words(size_t i) const {
    const std::string& r = children_[i].report;
    std::vector<DWORD> words(r.size() / 4);
    std::copy_n(r.data(), words.size() * 4, reinterpret_cast<char*>(words.data()));
    return words;
  }

 private:
  struct Child {
    pid_t pid;
    int out;
    bool reaped;
    int status;  // -1 until reaped in time
    std::string report;
  };
  // Takes what the child's pipe holds; closes it at its end.
  static void Drain(Child& c) {
    char buffer[4096];
    const ssize_t got = ::read(c.out, buffer, sizeof buffer);
    if (got > 0) {
      c.report.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      ::close(c.out);
      c.out = -1;
    }
  }

  int gate_[2] = {-1, -1};
  Clock::time_point deadline_ = Clock::now() + kWaitLimit;
  std::vector<Child> children_;
};

// Writes words to a report pipe; false when the pipe is gone.
bool Report(int fd, std::initializer_list<DWORD> words) {
  std::vector<DWORD> data(words);
  const char* p = reinterpret_cast<const char*>(data.data());
  size_t left = data.size() * 4;
  while (left > 0) {
    const ssize_t done = ::write(fd, p, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    left -= static_cast<size_t>(done);
  }
  return true;
}

void PutU32(char* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

DWORD GetU32(const BYTE* p) {
  return p[0] | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

// What is wrong across many messages, reported as one failure that names
// the first few.
class Findings {
 public:
  void Check(const ::testing::AssertionResult& result) {
    if (!result) Add(result.message());
  }
  void Add(const std::string& finding) { found_.push_back(finding); }
  ::testing::AssertionResult None() const {
    if (found_.empty()) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << found_.size() << " wrong:";
    for (size_t i = 0; i < found_.size() && i < 8; ++i) failure << "\n  " << found_[i];
    return failure;
  }

 private:
  std::vector<std::string> found_;
};

class Reliability : public msgstore_test::EmsTest {
 protected:
  // Message seq of writer: its index time, subject and content follow from
  // the two numbers. The content starts with writer, seq and the length of
  // a byte pattern that follows, so a content can be checked by itself.
  static DWORD Time(DWORD writer, DWORD seq) { return writer * 1000 + seq + 1; }
  static DWORD Length(DWORD writer, DWORD seq) { return 1500 + (writer * 977 + seq * 389) % 4000; }
  static std::u16string Subject(DWORD writer, DWORD seq) {
    const std::string s = "w" + std::to_string(writer) + "." + std::to_string(seq);
    return std::u16string(s.begin(), s.end());
  }
  static std::vector<BYTE> Content(DWORD writer, DWORD seq, DWORD length) {
    std::vector<BYTE> content(12 + length);
    char* head = reinterpret_cast<char*>(content.data());
    PutU32(head, writer);
    PutU32(head + 4, seq);
    PutU32(head + 8, length);
    for (DWORD i = 0; i < length; ++i)
      content[12 + i] = static_cast<BYTE>(writer * 7 + seq * 13 + i * 31 + (i >> 8));
    return content;
  }

  // Stores message seq of writer as a new message (or rewrites oidExisting
  // with it); the write's result.
  static DWORD Store(bool card, DWORD folder, DWORD writer, DWORD seq, DWORD oidExisting = 0,
                     DWORD length = 0) {
    std::u16string subject = Subject(writer, seq);
    std::vector<BYTE> content = Content(writer, seq, length ? length : Length(writer, seq));
    tagMSGPROPS props = Message(folder, Time(writer, seq), 0, subject.c_str());
    props.cbData = static_cast<DWORD>(content.size());
    props.pData = content.data();
    return EMSMsgStore_WriteMessage(card, &props, oidExisting, nullptr);
  }

  // Whether the file of oid reads back whole (full read, with content) as
  // message seq of writer; writer -1 takes both numbers from the content.
  static ::testing::AssertionResult ReadsBack(bool card, DWORD folder, DWORD oid, int writer = -1,
                                              int seq = -1) {
    Record record;
    WCHAR path[MAX_PATH] = {};
    const std::string name = std::string(card ? "card " : "phone ") + std::to_string(folder) + "/" +
                             std::to_string(oid) + ": ";
    if (!EMSMsgStore_GetFilePath(card, oid, folder, path) ||
        !EMSMsgStore_ReadFromFile(path, &record.props, true)) {
      return ::testing::AssertionFailure() << name << "does not read";
    }
    const tagMSGPROPS& p = record.props;
    if (writer < 0) {
      if (p.cbData < 12) return ::testing::AssertionFailure() << name << "content cut short";
      writer = static_cast<int>(GetU32(p.pData));
      seq = static_cast<int>(GetU32(p.pData + 4));
    }
    const std::vector<BYTE> want = Content(writer, seq, Length(writer, seq));
    const std::u16string subject = p.pszSubject ? p.pszSubject : u"";
    if (p.dwOid != oid || p.dwFolder != folder ||
        p.ftIndexTime.dwLowDateTime != Time(writer, seq) || p.ftIndexTime.dwHighDateTime != 0 ||
        subject != Subject(writer, seq)) {
      return ::testing::AssertionFailure()
             << name << "header is not message " << writer << "." << seq << " (oid " << p.dwOid
             << ", folder " << p.dwFolder << ")";
    }
    if (std::vector<BYTE>(p.pData, p.pData + p.cbData) != want) {
      return ::testing::AssertionFailure()
             << name << "content of " << p.cbData << " bytes is not " << want.size()
             << " bytes of message " << writer << "." << seq;
    }
    return ::testing::AssertionSuccess();
  }

  // Identifiers of a folder's files, and of its phone index, sorted.
  static std::vector<DWORD> Listed(bool card, DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetMessageList(card, folder, list);
    return Sorted(list);
  }
  static std::vector<DWORD> Quick(DWORD folder) {
    CMsgList list;
    EMSMsgStore_GetQuickMsgList(list, folder);
    return Sorted(list);
  }
  static std::vector<DWORD> Sorted(const CMsgList& list) {
    std::vector<DWORD> oids;
    for (long i = 0; i < list.GetSize(); ++i) oids.push_back(list[i].dwOid);
    std::sort(oids.begin(), oids.end());
    return oids;
  }

  // The index file of messages (oid -> index time), newest first.
  static std::vector<char> IndexImage(DWORD folder, const std::map<DWORD, DWORD>& times) {
    std::vector<std::pair<DWORD, DWORD>> order;
    for (const auto& [oid, time] : times) order.push_back({time, oid});
    std::sort(order.rbegin(), order.rend());
    std::vector<char> image(order.size() * 16, 0);
    for (size_t i = 0; i < order.size(); ++i) {
      PutU32(&image[i * 16], folder);
      PutU32(&image[i * 16 + 4], order[i].second);
      PutU32(&image[i * 16 + 8], order[i].first);
    }
    return image;
  }
  // Whether an index file is whole: records of folder only, newest first.
  static ::testing::AssertionResult WholeIndex(const std::vector<char>& image, DWORD folder) {
    if (image.empty() || image.size() % 16 != 0) {
      return ::testing::AssertionFailure() << "index of " << image.size() << " bytes";
    }
    uint64_t previous = UINT64_MAX;
    for (size_t i = 0; i < image.size(); i += 16) {
      const BYTE* r = reinterpret_cast<const BYTE*>(&image[i]);
      const uint64_t time = GetU32(r + 8) | uint64_t(GetU32(r + 12)) << 32;
      if (GetU32(r) != folder || time > previous) {
        return ::testing::AssertionFailure() << "index record " << i / 16 << " of folder "
                                             << GetU32(r) << ", time " << time << " out of place";
      }
      previous = time;
    }
    return ::testing::AssertionSuccess();
  }

  std::vector<char> Counter() const {
    return Bytes(Host("DiskOnChip/User/MESSAGING/EMS/EmsDB.ini"));
  }
  std::vector<char> CounterOf(DWORD value) const {
    std::vector<char> bytes(4);
    PutU32(bytes.data(), value);
    return bytes;
  }
  std::string IndexFile(DWORD folder) const { return Dir(false, folder) + "/EmsIni"; }

  // Files of both EMS trees whose names end in ".tmp".
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> found;
    for (const char* volume : {"DiskOnChip", "SD Card"}) {
      std::error_code ec;
      for (fs::recursive_directory_iterator it(Host(volume) + "/User/MESSAGING/EMS", ec), end;
           !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
          found.push_back(it->path().string());
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }
};

TEST_F(Reliability, WritersAtTheSameTimeGetIdentifiersOfTheirOwn) {
  constexpr DWORD kPhoneWriters = 4, kPhoneMessages = 20, kCardWriters = 4, kCardMessages = 15;
  constexpr DWORD kAll = kPhoneWriters * kPhoneMessages + kCardWriters * kCardMessages;
  Children children;
  for (DWORD w = 0; w < kPhoneWriters + kCardWriters; ++w) {
    const bool card = w >= kPhoneWriters;
    children.Spawn([=](int out) {
      msgstore::SetPlatform(nullptr);  // the handset every process sees
      if (card && (msgstore::GetPlatform().xGetSDCardState() & 1) == 0) return 2;
      for (DWORD seq = 0; seq < (card ? kCardMessages : kPhoneMessages); ++seq) {
        if (!Report(out, {seq, Store(card, kDraft, w, seq)})) return 3;
      }
      return 0;
    });
  }
  children.Start();
  ASSERT_TRUE(children.Finish()) << "writers still running after the time limit";

  std::map<DWORD, std::pair<DWORD, DWORD>> written;  // oid -> (writer, seq)
  std::map<DWORD, DWORD> phone, card;                // oid -> index time
  Findings handedOut, stored;
  for (DWORD w = 0; w < children.size(); ++w) {
    const bool onCard = w >= kPhoneWriters;
    EXPECT_TRUE(children.Exited(w, 0)) << "writer " << w;
    const std::vector<DWORD> words = children.Words(w);
    EXPECT_EQ(words.size(), 2 * (onCard ? kCardMessages : kPhoneMessages)) << "writer " << w;
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
      const DWORD seq = words[i], oid = words[i + 1];
      const auto [at, fresh] = written.insert({oid, {w, seq}});
      if (oid == 0) {
        handedOut.Add("writer " + std::to_string(w) + " got no identifier");
      } else if (!fresh) {
        handedOut.Add("identifier " + std::to_string(oid) + " to writer " + std::to_string(w) +
                      " and writer " + std::to_string(at->second.first));
      }
      (onCard ? card : phone)[oid] = Time(w, seq);
    }
  }
  // One counter for both storages: every draw takes the next number.
  ASSERT_TRUE(handedOut.None());
  ASSERT_EQ(written.size(), kAll);
  EXPECT_EQ(written.begin()->first, 1u);
  EXPECT_EQ(written.rbegin()->first, kAll);
  EXPECT_EQ(Counter(), CounterOf(kAll));
  for (const auto& [oid, who] : written)
    stored.Check(ReadsBack(card.count(oid) != 0, kDraft, oid, who.first, who.second));
  EXPECT_TRUE(stored.None());
  std::vector<DWORD> phoneOids, cardOids;
  for (const auto& entry : phone) phoneOids.push_back(entry.first);
  for (const auto& entry : card) cardOids.push_back(entry.first);
  EXPECT_EQ(Listed(false, kDraft), phoneOids);
  EXPECT_EQ(Listed(true, kDraft), cardOids);
  EXPECT_EQ(Quick(kDraft), phoneOids);
  EXPECT_EQ(Bytes(IndexFile(kDraft)), IndexImage(kDraft, phone));
}

TEST_F(Reliability, KilledWritersLeaveWholeFilesAndAUsableCounterAndIndex) {
  constexpr int kRounds = 6;
  constexpr DWORD kForeign = 100000;  // identifiers of index records without files
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("random seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Each child is killed after its first, second or third operation, a
  // pause of up to 3 ms later: anywhere in a write or an index update.
  std::uniform_int_distribution<size_t> operationsFirst(1, 3);
  std::uniform_int_distribution<int> pauseUs(0, 3000);

  ASSERT_EQ(Store(false, kDraft, 0, 0), 1u);  // both indexes exist before the first kill
  EMSMsgStore_AddMsgToIni(kForeign, kSent, {1, 0});
  int killed = 0;
  for (DWORD round = 1; round <= kRounds; ++round) {
    Children children;
    for (DWORD k = 0; k < 5; ++k) {
      const DWORD writer = round * 10 + k;
      children.Spawn([=](int out) {
        msgstore::SetPlatform(nullptr);
        if (k < 3) {  // two phone writers, one card writer
          for (DWORD seq = 0; seq < 40; ++seq)
            if (Store(k == 2, kDraft, writer, seq) == 0 || !Report(out, {seq})) return 3;
        } else {
          for (DWORD seq = 0; seq < 300; ++seq) {
            EMSMsgStore_AddMsgToIni(kForeign + writer * 1000 + seq, kSent, {Time(writer, seq), 0});
            if (!Report(out, {seq})) return 3;
          }
        }
        return 0;
      });
    }
    std::vector<size_t> order = {0, 1, 2, 3, 4};
    std::shuffle(order.begin(), order.end(), random);
    children.Start();
    for (size_t i : order) {
      ASSERT_TRUE(children.AwaitReport(i, 4 * operationsFirst(random)))
          << "round " << round << " child " << i << " did not get to work";
      std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
      children.Kill(i);
    }
    ASSERT_TRUE(children.Finish()) << "round " << round;
    for (size_t i = 0; i < children.size(); ++i) {
      if (children.Killed(i)) {
        ++killed;
      } else {
        EXPECT_TRUE(children.Exited(i, 0)) << "round " << round << " child " << i;
      }
    }
  }
  EXPECT_GT(killed, 0);

  std::set<DWORD> stored;
  Findings files;
  for (bool card : {false, true}) {
    for (DWORD oid : Listed(card, kDraft)) {
      files.Check(ReadsBack(card, kDraft, oid));
      if (!stored.insert(oid).second) files.Add(std::to_string(oid) + " on both storages");
    }
  }
  EXPECT_TRUE(files.None());
  ASSERT_FALSE(stored.empty());
  const std::vector<char> counter = Counter();
  ASSERT_EQ(counter.size(), 4u);
  EXPECT_GE(GetU32(reinterpret_cast<const BYTE*>(counter.data())), *stored.rbegin());
  EXPECT_TRUE(WholeIndex(Bytes(IndexFile(kDraft)), kDraft));
  EXPECT_TRUE(WholeIndex(Bytes(IndexFile(kSent)), kSent));

  const DWORD next = Store(false, kDraft, 1000, 0);
  EXPECT_NE(next, 0u);
  EXPECT_EQ(stored.count(next), 0u) << "identifier " << next << " taken again";
  EXPECT_TRUE(ReadsBack(false, kDraft, next, 1000, 0));
  EXPECT_TRUE(Indexed(kDraft, next));

  // The refresh clears what the killed writers left, not a live writer's file.
  const std::string live = Dir(false, kDraft) + "/7.sms." + std::to_string(::getpid()) + ".1.tmp";
  std::ofstream(live) << "being written";
  EXPECT_EQ(EmsMsgStore_RefreshIniFiles(), 1);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{live});
}

TEST_F(Reliability, MovesAndDeletionsBesideNewMessagesLoseNothing) {
  constexpr DWORD kStored = 40, kNew = 40, kMoved = kStored / 2;
  for (DWORD seq = 0; seq < kStored; ++seq) ASSERT_EQ(Store(false, kDraft, 0, seq), seq + 1);
  Children children;
  children.Spawn([](int out) {
    msgstore::SetPlatform(nullptr);
    for (DWORD seq = 0; seq < kNew; ++seq)
      if (!Report(out, {Store(false, kDraft, 1, seq)})) return 3;
    return 0;
  });
  // Message seq (identifier seq + 1): seq % 4 == 0 deleted, 1 and 2 moved to
  // SENT, 3 left alone.
  children.Spawn([](int out) {
    msgstore::SetPlatform(nullptr);
    for (DWORD seq = 0; seq < kStored; ++seq) {
      DWORD result = 1, newOid = 0;
      if (seq % 4 == 0) {
        result = EMSMsgStore_DeleteMessage(false, kDraft, seq + 1);
      } else if (seq % 4 != 3) {
        int storage = STORAGE_AUTO;
        result = EMSMsgStore_SetFolder(false, kDraft, seq + 1, kSent, &storage, &newOid);
      }
      if (!Report(out, {seq, result, newOid})) return 3;
    }
    return 0;
  });
  children.Start();
  ASSERT_TRUE(children.Finish()) << "children still running after the time limit";
  ASSERT_TRUE(children.Exited(0, 0) && children.Exited(1, 0));

  std::map<DWORD, std::pair<DWORD, DWORD>> draft, sent;  // oid -> (writer, seq)
  const std::vector<DWORD> written = children.Words(0), changed = children.Words(1);
  ASSERT_EQ(written.size(), kNew);
  ASSERT_EQ(changed.size(), 3 * kStored);
  for (DWORD seq = 0; seq < kNew; ++seq) draft[written[seq]] = {1, seq};
  Findings found;
  for (DWORD seq = 0; seq < kStored; ++seq) {
    if (changed[3 * seq + 1] != 1)
      found.Add("change of message " + std::to_string(seq) + " failed");
    const DWORD newOid = changed[3 * seq + 2];
    if (seq % 4 == 3) draft[seq + 1] = {0, seq};
    if (seq % 4 == 1 || seq % 4 == 2) sent[newOid] = {0, seq};
  }
  ASSERT_TRUE(found.None());
  ASSERT_EQ(draft.size(), kNew + kStored / 4) << "identifiers handed out twice";
  ASSERT_EQ(sent.size(), kMoved) << "identifiers handed out twice";
  std::map<DWORD, DWORD> draftTimes, sentTimes;
  for (const auto& [oid, who] : draft) {
    if (sent.count(oid) != 0) found.Add(std::to_string(oid) + " in both folders");
    found.Check(ReadsBack(false, kDraft, oid, who.first, who.second));
    draftTimes[oid] = Time(who.first, who.second);
  }
  for (const auto& [oid, who] : sent) {
    if (oid <= kStored)
      found.Add("moved message " + std::to_string(oid) + " has an old identifier");
    found.Check(ReadsBack(false, kSent, oid, who.first, who.second));
    sentTimes[oid] = Time(who.first, who.second);
  }
  EXPECT_TRUE(found.None());
  EXPECT_EQ(Counter(), CounterOf(kStored + kNew + kMoved));
  for (const auto& [folder, times] : {std::pair{kDraft, draftTimes}, std::pair{kSent, sentTimes}}) {
    std::vector<DWORD> oids;
    for (const auto& entry : times) oids.push_back(entry.first);
    EXPECT_EQ(Listed(false, folder), oids) << "folder " << folder;
    EXPECT_EQ(Bytes(IndexFile(folder)), IndexImage(folder, times)) << "folder " << folder;
  }
}

TEST_F(Reliability, RewritesThatFailPartWayKeepTheStoredFiles) {
  constexpr rlim_t kLimit = 8200;  // bytes a file of the child may have
  const DWORD oid = Store(false, kDraft, 0, 0);
  ASSERT_EQ(Store(false, kDraft, 0, 1), oid + 1);
  // A SENT index of 512 records: 8192 bytes, one more record passes the limit.
  std::map<DWORD, DWORD> sentTimes;
  for (DWORD i = 0; i < 512; ++i) sentTimes[5000 + i] = 10 + i;
  const std::vector<char> sentIndex = IndexImage(kSent, sentTimes);
  std::ofstream(IndexFile(kSent), std::ios::binary).write(sentIndex.data(), sentIndex.size());
  const std::vector<char> message = Bytes(File(false, kDraft, oid));
  const std::vector<char> draftIndex = Bytes(IndexFile(kDraft));
  ASSERT_LT(message.size(), kLimit);
  ASSERT_EQ(draftIndex.size(), 32u);
  auto names = [this] {
    std::set<std::string> found;
    for (DWORD folder : {kDraft, kSent})
      for (const auto& entry : fs::directory_iterator(Dir(false, folder)))
        found.insert(entry.path().string());
    return found;
  };
  const std::set<std::string> before = names();

  Children children;
  children.Spawn([=](int out) {
    msgstore::SetPlatform(nullptr);
    const rlimit limit = {kLimit, kLimit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || ::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return 2;
    const DWORD rewritten = Store(false, kDraft, 0, 0, oid, 64 * 1024);
    std::u16string subject(20000, u'x');
    const int subjectSet = EMSMsgStore_SetSubject(false, kDraft, oid, subject.data());
    std::vector<BYTE> content(64 * 1024, 0x5A);
    tagMSGPROPS props = Message(kDraft, 9, 0, u"direct");
    props.dwOid = oid;
    props.cbData = static_cast<DWORD>(content.size());
    props.pData = content.data();
    WCHAR path[MAX_PATH] = {};
    EMSMsgStore_GetFilePath(false, oid, kDraft, path);
    const int fileWritten = EMSMsgStore_WriteToFile(path, &props);
    EMSMsgStore_AddMsgToIni(9999, kSent, {5000, 0});
    // Down to 2 bytes a file: not even the counter can be written whole.
    const rlimit tiny = {2, kLimit};
    if (::setrlimit(RLIMIT_FSIZE, &tiny) != 0) return 2;
    Store(false, kDraft, 0, 2);
    return Report(out, {rewritten, static_cast<DWORD>(subjectSet), static_cast<DWORD>(fileWritten)})
               ? 0
               : 3;
  });
  children.Start();
  ASSERT_TRUE(children.Finish()) << "child still running after the time limit";
  ASSERT_TRUE(children.Exited(0, 0));
  // The file could be created each time: the results are those of a write.
  EXPECT_EQ(children.Words(0), (std::vector<DWORD>{oid, oid, 1}));
  EXPECT_EQ(Bytes(File(false, kDraft, oid)), message);
  EXPECT_EQ(Bytes(IndexFile(kDraft)), draftIndex);
  EXPECT_EQ(Bytes(IndexFile(kSent)), sentIndex);
  EXPECT_EQ(Counter(), CounterOf(oid + 1));
  EXPECT_EQ(names(), before);  // nothing left behind, no new message
}

}  // namespace
