// Whole-file replacement, temporary names, the identifier counter and the
// platform's rename: what other processes and dead writers can see. Writes
// cut short by a file-size limit are in the reliability tests.
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/id_counter.h"
#include "common/msg_file.h"
#include "common/replace_file.h"
#include "ems_fixtures.h"

namespace {

namespace fs = std::filesystem;
using namespace msgstore;  // NOLINT(build/namespaces)
using Set = std::set<std::string>;

class ReplaceFile : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fs::create_directories(Host("DiskOnChip"));
  }
  std::string Read(const std::string& rel) const {
    const std::vector<char> b = msgstore_test::Bytes(Host(rel));
    return std::string(b.begin(), b.end());
  }
  void Write(const std::string& rel, const std::string& bytes) const {
    std::ofstream(Host(rel), std::ios::binary) << bytes;
  }
  Set Names(const std::string& rel) const {
    Set names;
    for (const auto& e : fs::directory_iterator(Host(rel))) names.insert(e.path().filename());
    return names;
  }
};

TEST(TempNames, MadeBesideTheFileAndRecognisedWithTheirWriter) {
  const std::string pid = std::to_string(::getpid());
  const std::u16string a = TempPathFor(u"\\D\\x.sms"), b = TempPathFor(u"\\D\\x.sms");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(u"\\D\\x.sms." + std::u16string(pid.begin(), pid.end()) + u".", 0), 0u);
  EXPECT_EQ(a.substr(a.size() - 4), u".tmp");
  DWORD writer = 0;
  EXPECT_TRUE(IsTempFileName(a.substr(3), &writer));
  EXPECT_EQ(writer, static_cast<DWORD>(::getpid()));
  const std::pair<const char16_t*, bool> cases[] = {{u"EmsIni.12.0.tmp", true},
                                                    {u"7.sms.4294967295.9.tmp", true},
                                                    {u"7.sms.4294967296.9.tmp", false},
                                                    {u"7.sms", false},
                                                    {u".12.0.tmp", false},
                                                    {u"x.12..tmp", false},
                                                    {u"x.1a.0.tmp", false},
                                                    {u"x.12.0.TMP", false},
                                                    {u"12.0.tmp", false},
                                                    {u"x.12.0.tmp.sms", false}};
  for (const auto& [name, temp] : cases)
    EXPECT_EQ(IsTempFileName(name, nullptr), temp) << fs::path(name).string();
}

TEST_F(ReplaceFile, StreamReplacesOnCloseAndLeavesNoTemporaryFile) {
  Write("DiskOnChip/f", "old contents");
  {
    ReplacingStream stream(u"\\DiskOnChip\\f");
    ASSERT_TRUE(stream);
    EXPECT_EQ(MsgFile_Write("new", 1, 3, stream.get()), 3u);
    EXPECT_EQ(Read("DiskOnChip/f"), "old contents");  // whole until the stream is closed
  }
  EXPECT_EQ(Read("DiskOnChip/f"), "new");
  EXPECT_EQ(Names("DiskOnChip"), Set{"f"});
  fs::create_directory(Host("DiskOnChip/d"));
  {
    ReplacingStream onDirectory(u"\\DiskOnChip\\d");
    EXPECT_FALSE(onDirectory.Commit());
    EXPECT_TRUE(onDirectory.TargetIsDirectory());
  }
  EXPECT_FALSE(ReplacingStream(u"\\DiskOnChip\\absent\\f"));
  EXPECT_FALSE(ReplaceFileWhole(u"\\DiskOnChip\\d", "x", 1));
  EXPECT_TRUE(ReplaceFileWhole(u"\\DiskOnChip\\F", "whole", 5));  // the existing file's spelling
  EXPECT_EQ(Read("DiskOnChip/f"), "whole");
  EXPECT_EQ(Names("DiskOnChip"), (Set{"d", "f"}));
}

TEST_F(ReplaceFile, StaleTemporaryFilesGoAndThoseOfRunningWritersStay) {
  fs::create_directories(Host("DiskOnChip/a/b"));
  const pid_t pid = ::fork();  // a process id that no longer runs
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  const std::string dead = std::to_string(pid), self = std::to_string(::getpid());
  for (const std::string& rel :
       {"DiskOnChip/x." + dead + ".0.tmp", "DiskOnChip/a/b/1.sms." + dead + ".3.tmp",
        "DiskOnChip/a/EmsIni." + self + ".1.tmp", std::string("DiskOnChip/a/1.sms"),
        std::string("DiskOnChip/a/notes.tmp")})
    Write(rel, "x");
  EXPECT_EQ(RemoveStaleTempFiles(u"\\DiskOnChip"), 2u);
  EXPECT_EQ(Names("DiskOnChip/a"), (Set{"1.sms", "EmsIni." + self + ".1.tmp", "b", "notes.tmp"}));
  EXPECT_TRUE(Names("DiskOnChip/a/b").empty());
  EXPECT_EQ(RemoveStaleTempFiles(u"\\DiskOnChip\\missing"), 0u);
}

// Across processes the reliability tests show it; here threads of one process.
TEST_F(ReplaceFile, CounterHandsOutEachIdentifierOnceAcrossThreads) {
  const IdCounter counter = {u"\\DiskOnChip\\Counter.ini", u"MUTEX_TEST_COUNTER"};
  EXPECT_EQ(ReadIdCounter(counter.path), 0u);
  std::vector<DWORD> ids[3];
  std::vector<std::thread> threads;
  for (auto& mine : ids)
    threads.emplace_back([&counter, &mine] {
      for (int i = 0; i < 50; ++i) mine.push_back(NextId(counter));
    });
  for (auto& t : threads) t.join();
  std::set<DWORD> distinct;
  for (const auto& mine : ids) distinct.insert(mine.begin(), mine.end());
  EXPECT_EQ(std::make_pair(distinct.size(), *distinct.rbegin()), std::make_pair(size_t{150}, 150u));
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), std::string("\x96\0\0\0", 4));
  EXPECT_TRUE(SetIdCounter(counter, 0x01020304));
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), "\x04\x03\x02\x01");
  EXPECT_EQ(Names("DiskOnChip"), Set{"Counter.ini"});
}

TEST_F(ReplaceFile, MoveReplacesOnlyWhenAskedAndNeverADirectory) {
  Write("DiskOnChip/a", "A");
  Write("DiskOnChip/b", "B");
  fs::create_directory(Host("DiskOnChip/d"));
  EXPECT_FALSE(MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\b", 0) ||
               MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\d", MOVEFILE_REPLACE_EXISTING) ||
               MoveFileExW(u"\\DiskOnChip\\none", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Read("DiskOnChip/b"), "B");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\A", u"\\DiskOnChip\\b", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read("DiskOnChip/b"), "A");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\b", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Names("DiskOnChip"), (Set{"c", "d"}));
  EXPECT_EQ(Read("DiskOnChip/c"), "A");
}

}  // namespace
