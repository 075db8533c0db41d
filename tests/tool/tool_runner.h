// Runs the built msgstore tool the way a user does: a child process with its
// own standard output and error, on a scratch device root per test.
#ifndef MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_
#define MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tool_test {

struct Result {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

inline std::vector<std::string> Environment(const std::map<std::string, std::string>& set) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (set.count(key) == 0) env.push_back(entry);
  }
  for (const auto& kv : set)
    if (!kv.second.empty()) env.push_back(kv.first + "=" + kv.second);
  return env;
}

// A started tool process with pipes to its standard output and error.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argStore = {MSGSTORE_TOOL_PATH};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<std::string> envStore = Environment(env);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // Reads what is there until pred holds or timeoutMs passes; false on time-out
  // or when both pipes are closed before pred holds.
  template <class Pred>
  bool ReadUntil(Pred pred, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0 || (outFd_ < 0 && errFd_ < 0)) return false;
      pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
      if (poll(fds, 2, left) <= 0) continue;
      Drain(fds[0], &outFd_, &out_);
      Drain(fds[1], &errFd_, &err_);
    }
    return true;
  }

  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // Reads both pipes to their end and returns the exit status.
  int Finish(int timeoutMs = 60000) {
    if (!ReadUntil([this] { return outFd_ < 0 && errFd_ < 0; }, timeoutMs)) Signal(SIGKILL);
    return Wait();
  }

 private:
  static void Drain(const pollfd& fd, int* which, std::string* into) {
    if (fd.fd < 0 || fd.revents == 0) return;
    char buf[4096];
    ssize_t n = read(fd.fd, buf, sizeof buf);
    if (n > 0) {
      into->append(buf, static_cast<size_t>(n));
    } else {
      close(*which);
      *which = -1;
    }
  }
  int Wait() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
};

inline Result RunTool(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env = {}) {
  Child child(args, env);
  Result r;
  if (!child.started()) return r;
  r.status = child.Finish();
  r.out = child.out();
  r.err = child.err();
  return r;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every file under dir, by path relative to dir, with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    std::string rel = std::filesystem::relative(entry.path(), dir).string();
    if (entry.is_directory()) {
      files[rel + "/"] = "";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      files[rel] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return files;
}

inline std::string Base64Decode(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    size_t v = kAlphabet.find(c);
    if (v == std::string::npos) return "<invalid base64>";
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// UTF-16LE bytes of an ASCII or UTF-16 string, as the tool stores --text.
inline std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

// A scratch device root per test; Tool() runs the tool on it.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path().string() + "/msgstore-tool-" +
            std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name();
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!HasFailure()) std::filesystem::remove_all(root_, ec);
  }

  Result Tool(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", root_});
    return RunTool(args);
  }
  // Runs a command that must succeed and returns its standard output.
  std::string Ok(const std::vector<std::string>& args) {
    Result r = Tool(args);
    EXPECT_EQ(r.status, 0) << "msgstore " << ::testing::PrintToString(args) << "\n" << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  // Runs a command that must fail with status and one line on standard
  // error, printing nothing on standard output; returns that line.
  std::string Fails(const std::vector<std::string>& args, int status) {
    Result r = Tool(args);
    EXPECT_EQ(r.status, status) << ::testing::PrintToString(args) << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, "") << ::testing::PrintToString(args);
    std::vector<std::string> lines = Lines(r.err);
    EXPECT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("msgstore: ", 0), 0u) << r.err;
    return r.err;
  }
  // The message store trees and the simulated handset's persisted state.
  std::map<std::string, std::string> Device() {
    auto phone = Snapshot(root_ + "/DiskOnChip");
    auto card = Snapshot(root_ + "/SD Card");
    for (const auto& kv : card) phone["card:" + kv.first] = kv.second;
    phone["counters"] = Ok({"--json", "counters"});
    return phone;
  }
  std::string Ems(const std::string& rel) const {
    return root_ + "/DiskOnChip/User/MESSAGING/EMS/" + rel;
  }
  std::string CardEms(const std::string& rel) const {
    return root_ + "/SD Card/User/MESSAGING/EMS/" + rel;
  }

  std::string root_;
};

}  // namespace tool_test

#endif  // MSGSTORE_TESTS_TOOL_TOOL_RUNNER_H_
