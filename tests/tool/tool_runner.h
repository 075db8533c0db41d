// Runs the built msgstore tool as a child process on a scratch device root.
#ifndef MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_
#define MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace tool_test {

namespace fs = std::filesystem;
using JsonValue = nlohmann::json;

// The tool's sources beside its manual page and bash completion.
const fs::path kSources = fs::path(__FILE__).parent_path() / ".." / ".." / "tools" / "msgstore";

// A program (args[0], a path) run with standard output and error to memory files; standard input
// is /dev/null or the descriptor in, standard error the descriptor err when one is given (a
// terminal), standard output the file out when one is named (closed for kClosed).
class Child {
 public:
  static constexpr const char* kClosed = "";
  explicit Child(std::vector<std::string> args, int in = -1, int err = -1,
                 const char* out = nullptr) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in >= 0)
      posix_spawn_file_actions_adddup2(&fa, in, 0);
    else
      posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (out == nullptr)
      posix_spawn_file_actions_adddup2(&fa, out_, 1);
    else if (*out == '\0')
      posix_spawn_file_actions_addclose(&fa, 1);
    else
      posix_spawn_file_actions_addopen(&fa, 1, out, O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, err >= 0 ? err : err_, 2);
    if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
  }
  ~Child() {
    if (pid_ > 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    close(out_);
    close(err_);
  }
  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  std::string out() const { return Read(out_); }
  std::string err() const { return Read(err_); }
  // The exit status, 128 + signal when killed, -1 when the program did not start. One that does
  // not end is stopped by the test's time-out.
  int Finish() {
    int st = 0;
    if (pid_ <= 0 || waitpid(pid_, &st, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }

 private:
  static std::string Read(int fd) {
    std::string s;
    char buf[4096];
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(s.size()))) > 0;)
      s.append(buf, static_cast<size_t>(n));
    return s;
  }
  pid_t pid_ = -1;
  int out_ = memfd_create("out", MFD_CLOEXEC);
  int err_ = memfd_create("err", MFD_CLOEXEC);
};

struct Result {
  int status;
  std::string out, err;
};
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Used as EXPECT_PRED2(Has, text, part), which prints both on failure.
inline bool Has(const std::string& s, const std::string& part) { return s.find(part) != s.npos; }
inline bool Starts(const std::string& s, const std::string& start) { return !s.rfind(start, 0); }
// Waits up to five seconds for done() (a child's output) to hold.
template <class F>
bool Until(F done) {
  for (int i = 0; i < 500 && !done(); ++i) usleep(10000);
  return done();
}

// A command, the status it must end with and, for 0, its whole standard output, else the start
// of its one line of standard error (see Refuses).
using Step = std::tuple<std::string, int, std::string>;

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path().string() + "/msgstore-tool-XXXXXX";
    root_ = mkdtemp(&pattern[0]);
  }
  void TearDown() override {
    for (int fd : inputs_) close(fd);
    if (std::error_code ec; !HasFailure()) fs::remove_all(root_, ec);
  }

  // cmd is split at spaces; standard input from the descriptor in (-1: /dev/null).
  Result Tool(const std::string& cmd, int in = -1) {
    Child c(Args(cmd), in);
    return {c.Finish(), c.out(), c.err()};
  }
  // The tool's command line.
  std::vector<std::string> Args(const std::string& cmd) const {
    std::vector<std::string> args = {MSGSTORE_TOOL_PATH, "--root", root_};
    std::istringstream in(cmd);
    for (std::string word; in >> word;) args.push_back(word);
    return args;
  }
  // A descriptor to give as standard input, reading text.
  int Input(const std::string& text) {
    const int fd = inputs_.emplace_back(memfd_create("in", MFD_CLOEXEC));
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
  }
  // Expects status and standard error; returns standard output.
  std::string Run(const std::string& cmd, int status, const std::string& err = "", int in = -1) {
    Result r = Tool(cmd, in);
    EXPECT_EQ(r.status, status) << cmd << "\n" << r.err;
    EXPECT_EQ(r.err, err) << cmd;
    return r.out;
  }
  std::string Ok(const std::string& cmd) { return Run(cmd, 0); }
  void Oks(const std::vector<std::string>& cmds) {
    for (const auto& cmd : cmds) Ok(cmd);
  }
  void Steps(const std::vector<Step>& steps) {
    for (const auto& [cmd, status, text] : steps)
      if (status != 0)
        Refuses(cmd, status, text);
      else
        EXPECT_EQ(Ok(cmd), text) << cmd;
  }
  JsonValue Json(const std::string& cmd) { return JsonValue::parse(Ok("--json " + cmd)); }
  // A failure: the status, nothing on standard output, one line on standard error that starts
  // with "msgstore: " + err (the whole line when err ends in a newline), and the device as it was.
  void Refuses(const std::string& cmd, int status, const std::string& err, int in = -1) {
    auto before = Device();
    Result r = Tool(cmd, in);
    EXPECT_EQ(r.status, status) << cmd << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, "") << cmd;
    EXPECT_EQ(Lines(r.err).size(), 1u) << cmd << "\n" << r.err;
    EXPECT_EQ(r.err.substr(0, 10 + err.size()), "msgstore: " + err) << cmd;
    EXPECT_EQ(Device(), before) << cmd;
  }
  // Every file under the device root: both message trees and the handset's state.
  std::map<std::string, std::string> Device() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      std::ifstream in(e.path(), std::ios::binary);
      files[e.path().string()] =
          e.is_directory() ? "/" : std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
  }
  // Another device root, under this one.
  std::string Other() const { return root_ + "/other"; }
  // A path under the messaging directory: At("EMS/INBOX/1.sms").
  std::string At(const std::string& rel, bool card = false) const {
    return root_ + (card ? "/SD Card" : "/DiskOnChip") + "/User/MESSAGING/" + rel;
  }
  // Runs f with another device root.
  template <class F>
  auto On(const std::string& root, F f) {
    struct Back {
      std::string& root;
      const std::string saved = root;
      ~Back() { root = saved; }
    } back{root_};
    root_ = root;
    return f();
  }
  // Every file and directory of both storages of the device at root, by its path under the root.
  std::map<std::string, std::string> Trees(const std::string& root) {
    std::map<std::string, std::string> trees;
    for (const auto& [path, bytes] : On(root, [&] { return Device(); }))
      if (Starts(path, root + "/DiskOnChip") || Starts(path, root + "/SD Card"))
        trees[path.substr(root.size())] = bytes;
    return trees;
  }
  // Writes a file under the root, beside the device, and gives its path.
  std::string Save(const std::string& name, const std::string& bytes) {
    std::ofstream(root_ + "/" + name, std::ios::binary) << bytes;
    return root_ + "/" + name;
  }

  std::string root_;
  std::vector<int> inputs_;
};

}  // namespace tool_test

#endif  // MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_
