// Shared test scaffolding: file bytes built and read apart from the library, a
// fresh device root per test and a recording stand-in for the handset services.
#ifndef MSGSTORE_TESTS_TEST_SUPPORT_H_
#define MSGSTORE_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "msgstore/platform.h"
#include "msgstore/stores.h"

namespace msgstore_test {

inline std::string Ascii(const WCHAR* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

using Bytes = std::vector<uint8_t>;

// Little-endian byte builder for expected files, independent of the library.
struct ByteBuilder {
  Bytes b;
  ByteBuilder& U16(uint16_t v) { return Raw({uint8_t(v), uint8_t(v >> 8)}); }
  ByteBuilder& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  ByteBuilder& Time(FILETIME t) { return U32(t.dwLowDateTime).U32(t.dwHighDateTime); }
  ByteBuilder& Str(const WCHAR* s) {
    for (; s && *s; ++s) U16(*s);
    return U16(0);
  }
  ByteBuilder& Raw(const Bytes& raw) {
    b.insert(b.end(), raw.begin(), raw.end());
    return *this;
  }
  // Writes v (by default the length so far) over the 4 bytes at at.
  ByteBuilder& Patch(size_t at, int64_t v = -1) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t((v < 0 ? b.size() : uint64_t(v)) >> (8 * i));
    return *this;
  }
};
inline uint32_t LoadU32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
inline Bytes Load(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void Store(const Bytes& bytes, const std::string& hostPath) {
  std::ofstream(hostPath, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}
// An index file's records: folder, identifier, time low, time high.
using IndexRecords = std::vector<std::array<DWORD, 4>>;
inline IndexRecords LoadIndex(const std::string& hostPath) {
  const Bytes b = Load(hostPath);
  IndexRecords out(b.size() / 16);
  for (size_t i = 0; i < out.size() * 16; ++i)
    out[i / 16][i % 16 / 4] |= DWORD{b[i]} << (8 * (i % 4));
  return out;
}
// 32-bit little-endian words, as index records and counters are stored.
inline Bytes Words(const std::vector<DWORD>& words) {
  ByteBuilder b;
  for (DWORD w : words) b.U32(w);
  return b.b;
}

// Records every call to the handset services as text ("xSetEmsRecvMsgCount(-1)")
// and answers the getters from settable fields.
class FakePlatform : public msgstore::Platform {
 public:
  int cardState = 1;
  DWORD sdRecv = 0, sdRead = 0, simSent = 0, simUnsent = 0;
  std::u16string language = u"ENG";
  uint64_t freeBytes = UINT64_C(1) << 30;
  // Free bytes of single volumes by root ("\DiskOnChip", "\SD Card"); a
  // volume not named here has freeBytes. Each query's volume root is
  // recorded in volumesAsked, in order.
  std::map<std::u16string, uint64_t> volumeFreeBytes;
  std::vector<std::u16string> volumesAsked;
  std::vector<std::string> calls;  // counter calls, in order
  struct Posted {
    std::u16string className;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::vector<Posted> posted;

  int xGetSDCardState() override { return cardState; }
  void xSetEmsRecvMsgCount(int n) override { Call("xSetEmsRecvMsgCount", n); }
  void xSetEmsReadMsgCount(int n) override { Call("xSetEmsReadMsgCount", n); }
  void xSetEms_SDRecvMsgCount(int n) override { Call("xSetEms_SDRecvMsgCount", n); }
  void xSetEms_SDReadMsgCount(int n) override { Call("xSetEms_SDReadMsgCount", n); }
  DWORD xGetEms_SDRecvMsgCount() override { return sdRecv; }
  DWORD xGetEms_SDReadMsgCount() override { return sdRead; }
  DWORD xGetSentSmsCountInSim() override { return simSent; }
  void xSetSentSmsCountInSim(DWORD n) override {
    simSent = n;
    Call("xSetSentSmsCountInSim", static_cast<long long>(n));
  }
  DWORD xGetUnsentSmsCountInSim() override { return simUnsent; }
  void xSetUnsentSmsCountInSim(DWORD n) override {
    simUnsent = n;
    Call("xSetUnsentSmsCountInSim", static_cast<long long>(n));
  }
  std::u16string xGetSystemLanguage() override { return language; }
  HWND FindWindowW(const WCHAR* className, const WCHAR*) override {
    std::u16string c = className ? className : u"";
    return reinterpret_cast<HWND>(c == u"WCE_APSHELL" ? 1 : c == u"WCE_CVMESSAGEEXEC" ? 2 : 0);
  }
  BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (hwnd == nullptr) return 0;
    std::u16string c = hwnd == reinterpret_cast<HWND>(1) ? u"WCE_APSHELL" : u"WCE_CVMESSAGEEXEC";
    posted.push_back({c, msg, wParam, lParam});
    return 1;
  }
  BOOL GetDiskFreeSpaceExW(const WCHAR* volumeRoot, uint64_t* freeAvail, uint64_t* total,
                           uint64_t* totalFree) override {
    const std::u16string volume = volumeRoot ? volumeRoot : u"";
    volumesAsked.push_back(volume);
    const auto it = volumeFreeBytes.find(volume);
    const uint64_t bytes = it != volumeFreeBytes.end() ? it->second : freeBytes;
    if (freeAvail) *freeAvail = bytes;
    if (total) *total = bytes * 2;
    if (totalFree) *totalFree = bytes;
    return 1;
  }

 private:
  void Call(const char* name, long long n) {
    calls.push_back(std::string(name) + "(" + std::to_string(n) + ")");
  }
};

// Gives each test an empty device root of its own (with the phone volume, an
// inserted card and, when a store's fixture names its tree maker, the store's
// trees) and a FakePlatform installed as the platform.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    root_ = Base() + "/msgstore-test-" + std::to_string(::getpid()) + "-" + name;
    Wipe();
    msgstore::SetPlatform(&platform_);
    if (createDir_ != nullptr) Reset();
  }
  // Where the device roots of the tests go.
  virtual std::string Base() const { return std::filesystem::temp_directory_path().string(); }
  // Starts the device over empty, with an inserted card.
  void Wipe() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ + "/SD Card");
    msgstore::SetDeviceRoot(root_);
  }
  // Starts over with the trees of the fixture's store on both storages.
  void Reset() { Wipe(), createDir_(false), createDir_(true); }
  void TearDown() override {
    msgstore::SetPlatform(nullptr);
    std::error_code ec;
    if (!HasFailure()) std::filesystem::remove_all(root_, ec);
  }
  // Host path of a device-relative path written with '/' ("DiskOnChip/User").
  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  // Host path of an ASCII device path ("\DiskOnChip\User"), each name found
  // whatever its case, as the handset's file system finds it.
  std::string Host(const std::u16string& devicePath) const {
    std::string host = root_, name;
    auto step = [&] {
      std::error_code missing;
      if (!std::filesystem::exists(host + "/" + name))
        for (const auto& e : std::filesystem::directory_iterator(host, missing))
          if (::strcasecmp(name.c_str(), e.path().filename().c_str()) == 0)
            name = e.path().filename();
      if (!name.empty()) host += "/" + name;
      name.clear();
    };
    for (char16_t c : devicePath) c == u'\\' ? step() : void(name += static_cast<char>(c));
    step();
    return host;
  }
  // Host path of a store folder's directory on that storage, whether or not
  // the store keeps the folder there.
  std::string Dir(const msgstore::StoreDescription& s, bool card, DWORD folder) const {
    const msgstore::FolderDescription* f = s.Folder(folder);
    return Host(std::u16string(card ? s.cardRoot : s.phoneRoot) + u"\\" + (f ? f->dir : u""));
  }
  // "5.sms": a message file name of the store.
  static std::string FileName(const msgstore::StoreDescription& s, DWORD oid) {
    return std::to_string(static_cast<int>(oid)) + Ascii(s.extension);
  }
  void RemoveCard() { std::filesystem::remove_all(root_ + "/SD Card"); }
  using Notices = std::vector<std::tuple<std::u16string, UINT, WPARAM, LPARAM>>;
  // What was posted since the last call: window class, message, wParam, lParam.
  Notices TakeNotices() {
    Notices out;
    for (const auto& p : platform_.posted) out.emplace_back(p.className, p.msg, p.wParam, p.lParam);
    platform_.posted.clear();
    return out;
  }
  // Of the store that a store's fixture sets store_ to: a folder's directory,
  // a message file, whether it is there, and the counter file's bytes.
  std::string Dir(bool card, DWORD folder) const { return Dir(*store_, card, folder); }
  std::string File(bool card, DWORD folder, DWORD oid) const {
    return Dir(card, folder) + "/" + FileName(*store_, oid);
  }
  bool Exists(bool card, DWORD folder, DWORD oid) const {
    return std::filesystem::exists(File(card, folder, oid));
  }
  Bytes Counter() const { return Load(Host(store_->counterFile)); }
  // Stores count (over 50) messages numbered from first through put(oid,
  // time); the oldest, first + 50, is neither the lowest, the highest nor the
  // first written. Gives their index, newest first, each record naming key.
  static Bytes FillWith(DWORD key, DWORD first, DWORD count,
                        const std::function<void(DWORD, DWORD)>& put) {
    ByteBuilder index;
    for (DWORD i = 0; i < count; ++i) put(first + i, 100 + (i + count - 50) % count);
    for (DWORD t = 100 + count; t-- > 100;)
      index.U32(key).U32(first + (t - 100 + 50) % count).U32(t).U32(0);
    return index.b;
  }
  // The shared record of a message in folder; subject is a literal.
  static tagMSGPROPS Message(DWORD folder, DWORD time, BOOL read = 0, const WCHAR* subject = u"s") {
    tagMSGPROPS props = {};
    props.dwFolder = folder, props.bRead = read, props.ftIndexTime = {time, 0};
    props.pszSubject = const_cast<WCHAR*>(subject);
    return props;
  }

  std::string root_;
  FakePlatform platform_;
  const msgstore::StoreDescription* store_ = nullptr;
  int (*createDir_)(bool card) = nullptr;  // makes the store's tree
};

// Forked children on the handset every process sees, each reporting 32-bit
// words through a pipe. A child ends itself after 20 s; those still there when
// the object goes are killed.
class Children {
 public:
  ~Children() {
    for (Child& c : children_) {
      if (c.status == -1 && c.pid > 0) ::kill(c.pid, SIGKILL), ::waitpid(c.pid, nullptr, 0);
      ::close(c.out);
    }
  }
  void Spawn(const std::function<int(int)>& body) {
    int fds[2] = {-1, -1};
    const pid_t pid = ::pipe(fds) == 0 ? ::fork() : -1;
    if (pid == 0) ::alarm(20), msgstore::SetPlatform(nullptr), ::_exit(body(fds[1]));
    ::close(fds[1]);
    children_.push_back({pid, fds[0], -1, {}});
  }
  void Kill(size_t i) { ::kill(children_[i].pid, SIGKILL); }
  // Waits until child i has reported n words; false when it ended first.
  bool Await(size_t i, size_t n) {
    while (children_[i].report.size() < 4 * n && Drain(children_[i])) {
    }
    return children_[i].report.size() >= 4 * n;
  }
  // Reaps every child: its exit code, or minus the signal that ended it.
  std::vector<int> Finish() {
    std::vector<int> codes;
    for (Child& c : children_) {
      while (Drain(c)) {
      }
      if (c.pid > 0) ::waitpid(c.pid, &c.status, 0);
      codes.push_back(WIFEXITED(c.status) ? WEXITSTATUS(c.status) : -WTERMSIG(c.status));
    }
    return codes;
  }
  std::vector<DWORD> Words(size_t i) const {
    std::vector<DWORD> words(children_[i].report.size() / 4);
    std::memcpy(words.data(), children_[i].report.data(), words.size() * 4);
    return words;
  }

 private:
  struct Child {
    pid_t pid;
    int out, status;
    std::string report;
  };
  static bool Drain(Child& c) {  // false at the end of the pipe
    char buffer[4096];
    const ssize_t got = TEMP_FAILURE_RETRY(::read(c.out, buffer, sizeof buffer));
    if (got > 0) c.report.append(buffer, static_cast<size_t>(got));
    return got > 0;
  }
  std::vector<Child> children_;
};

inline bool Report(int fd, std::initializer_list<DWORD> words) {  // one write: under PIPE_BUF
  const std::vector<DWORD> data(words);
  return ::write(fd, data.data(), data.size() * 4) == static_cast<ssize_t>(data.size() * 4);
}

}  // namespace msgstore_test

#endif  // MSGSTORE_TESTS_TEST_SUPPORT_H_
