// Whole-file replacement, temporary names, the identifier counter and the
// platform's rename: what other processes and dead writers can see. Writes
// cut short by a file-size limit are in the reliability tests.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/id_counter.h"
#include "common/msg_file.h"
#include "common/replace_file.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace msgstore;  // NOLINT(build/namespaces)

class ReplaceFile : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fs::create_directories(Host("DiskOnChip"));
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(Host(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& rel, const std::string& bytes) const {
    std::ofstream(Host(rel), std::ios::binary) << bytes;
  }
  // Names in a host directory, sorted.
  std::set<std::string> Names(const std::string& rel) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(Host(rel))) names.insert(e.path().filename());
    return names;
  }
  // A process id that no longer runs.
  static pid_t DeadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
  }
};

TEST(TempNames, MadeBesideTheFileAndRecognisedWithTheirWriter) {
  const std::u16string pid = [] {
    std::string s = std::to_string(::getpid());
    return std::u16string(s.begin(), s.end());
  }();
  const std::u16string a = TempPathFor(u"\\D\\x.sms"), b = TempPathFor(u"\\D\\x.sms");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(u"\\D\\x.sms." + pid + u".", 0), 0u);
  EXPECT_EQ(a.substr(a.size() - 4), u".tmp");
  DWORD writer = 0;
  EXPECT_TRUE(IsTempFileName(a.substr(3), &writer));
  EXPECT_EQ(writer, static_cast<DWORD>(::getpid()));
  struct Case {
    const char16_t* name;
    bool temp;
  };
  for (const Case& c :
       {Case{u"EmsIni.12.0.tmp", true}, Case{u"7.sms.4294967295.9.tmp", true},
        Case{u"7.sms.4294967296.9.tmp", false}, Case{u"7.sms", false}, Case{u".12.0.tmp", false},
        Case{u"x.12..tmp", false}, Case{u"x.1a.0.tmp", false}, Case{u"x.12.0.TMP", false},
        Case{u"12.0.tmp", false}, Case{u"x.12.0.tmp.sms", false}})
    EXPECT_EQ(IsTempFileName(c.name, nullptr), c.temp) << fs::path(c.name).string();
}

TEST_F(ReplaceFile, StreamReplacesOnCloseAndLeavesNoTemporaryFile) {
  Write("DiskOnChip/f", "old contents");
  {
    ReplacingStream stream(u"\\DiskOnChip\\f");
    ASSERT_TRUE(stream);
    EXPECT_EQ(MsgFile_Write("new", 1, 3, stream.get()), 3u);
    // Until the stream is closed a reader still sees the old file whole.
    EXPECT_EQ(Read("DiskOnChip/f"), "old contents");
  }
  EXPECT_EQ(Read("DiskOnChip/f"), "new");
  EXPECT_EQ(Names("DiskOnChip"), (std::set<std::string>{"f"}));
  // A directory cannot be replaced: the new file is dropped and the writer
  // learns why.
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
  EXPECT_EQ(Names("DiskOnChip"), (std::set<std::string>{"d", "f"}));
}

TEST_F(ReplaceFile, StaleTemporaryFilesGoAndThoseOfRunningWritersStay) {
  fs::create_directories(Host("DiskOnChip/a/b"));
  const std::string dead = std::to_string(DeadPid()), self = std::to_string(::getpid());
  const std::vector<std::string> files = {
      "DiskOnChip/x." + dead + ".0.tmp", "DiskOnChip/a/b/1.sms." + dead + ".3.tmp",
      "DiskOnChip/a/EmsIni." + self + ".1.tmp", "DiskOnChip/a/1.sms", "DiskOnChip/a/notes.tmp"};
  for (const std::string& rel : files) Write(rel, "x");
  EXPECT_EQ(RemoveStaleTempFiles(u"\\DiskOnChip"), 2u);
  EXPECT_EQ(Names("DiskOnChip/a"),
            (std::set<std::string>{"1.sms", "EmsIni." + self + ".1.tmp", "b", "notes.tmp"}));
  EXPECT_TRUE(Names("DiskOnChip/a/b").empty());
  EXPECT_EQ(RemoveStaleTempFiles(u"\\DiskOnChip\\missing"), 0u);
}

// Across processes the store tests show it; here threads of one process.
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
  EXPECT_EQ(distinct.size(), 150u);
  EXPECT_EQ(*distinct.rbegin(), 150u);
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), std::string("\x96\0\0\0", 4));
  EXPECT_TRUE(SetIdCounter(counter, 0x01020304));
  EXPECT_EQ(Read("DiskOnChip/Counter.ini"), "\x04\x03\x02\x01");
  EXPECT_EQ(Names("DiskOnChip"), (std::set<std::string>{"Counter.ini"}));
}

TEST_F(ReplaceFile, MoveReplacesOnlyWhenAskedAndNeverADirectory) {
  Write("DiskOnChip/a", "A");
  Write("DiskOnChip/b", "B");
  fs::create_directory(Host("DiskOnChip/d"));
  EXPECT_FALSE(MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\b", 0));
  EXPECT_FALSE(MoveFileExW(u"\\DiskOnChip\\a", u"\\DiskOnChip\\d", MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(MoveFileExW(u"\\DiskOnChip\\none", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Read("DiskOnChip/b"), "B");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\A", u"\\DiskOnChip\\b", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read("DiskOnChip/b"), "A");
  EXPECT_TRUE(MoveFileExW(u"\\DiskOnChip\\b", u"\\DiskOnChip\\c", 0));
  EXPECT_EQ(Names("DiskOnChip"), (std::set<std::string>{"c", "d"}));
  EXPECT_EQ(Read("DiskOnChip/c"), "A");
}

}  // namespace
