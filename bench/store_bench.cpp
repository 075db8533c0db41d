// Cost of the stores' main operations, each beside a baseline that does the
// same file work with plain POSIX calls, so that a store's overhead reads as
// a ratio.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "msgstore/msgstore.h"

namespace {

constexpr int kFolderSize = 100;
const std::vector<uint8_t> kContent(160, 'x');  // one SMS worth of content

// What the benchmarks call of a store; the SMS and MMS stores run the same
// benchmarks.
struct Store {
  int (*createDir)(bool card);
  int (*folderPath)(bool card, DWORD folder, WCHAR* path);
  int (*filePath)(bool card, DWORD oid, DWORD folder, WCHAR* path);
  DWORD (*write)(bool card, tagMSGPROPS* props);
  int (*fullRead)(WCHAR* path, tagMSGPROPS* props);
  int (*quickRead)(bool card, DWORD folder, DWORD oid, tagMSGPROPS* props);
  DWORD (*quickList)(CMsgList& list, DWORD folder);
  DWORD (*list)(bool card, DWORD folder, CMsgList& list);
  DWORD (*lastRecord)(bool card, DWORD folder, DWORD* count);
  void (*release)(tagMSGPROPS* props);
};

const Store kEms = {
    EMSMsgStore_CreateDir,
    EMSMsgStore_GetFolderPath,
    EMSMsgStore_GetFilePath,
    [](bool card, tagMSGPROPS* props) { return EMSMsgStore_WriteMessage(card, props, 0, nullptr); },
    [](WCHAR* path, tagMSGPROPS* props) { return EMSMsgStore_ReadFromFile(path, props, true); },
    EMSMsgStore_QuickReadFromFile,
    EMSMsgStore_GetQuickMsgList,
    EMSMsgStore_GetMessageList,
    EMSMsgStore_GetLastRecord,
    EMSMsgStore_FreeMsgProps,
};

const Store kMms = {
    MMSMsgStore_CreateDir,
    MMSMsgStore_GetFolderPath,
    MMSMsgStore_GetFilePath,
    [](bool card, tagMSGPROPS* props) {
      tagMMSMSGPROPS mms = {};
      return MMSMsgStore_WriteMessage(card, props, &mms, 0, nullptr);
    },
    [](WCHAR* path, tagMSGPROPS* props) {
      tagMMSMSGPROPS mms = {};
      const int read = MMSMsgStore_ReadFromFile(path, props, &mms, true);
      MMSMsgStore_FreeMsgProps(nullptr, &mms);
      return read;
    },
    MMSMsgStore_QuickReadFromFile,
    MMSMsgStore_GetQuickMsgList,
    MMSMsgStore_GetMessageList,
    MMSMsgStore_GetLastRecord,
    [](tagMSGPROPS* props) { MMSMsgStore_FreeMsgProps(props, nullptr); },
};

const Store kEmail = {
    EmailMsgStore_CreateDir,
    EmailMsgStore_GetFolderPath,
    EmailMsgStore_GetFilePath,
    [](bool card, tagMSGPROPS* props) {
      tagEMAILMSGPROPS email = {};
      return EmailMsgStore_WriteMessage(card, props, &email, 0, nullptr);
    },
    [](WCHAR* path, tagMSGPROPS* props) {
      tagEMAILMSGPROPS email = {};
      const int read = EmailMsgStore_ReadFromFile(path, props, &email, true);
      EmailMsgStore_FreeMsgProps(nullptr, &email);
      return read;
    },
    EmailMsgStore_QuickReadFromFile,
    EmailMsgStore_GetQuickMsgList,
    EmailMsgStore_GetMessageList,
    EmailMsgStore_GetLastRecord,
    [](tagMSGPROPS* props) { EmailMsgStore_FreeMsgProps(props, nullptr); },
};

// DRAFT and SENT, in every store.
constexpr DWORD kDraft = 2;
constexpr DWORD kSent = 3;

// A device root of its own for the whole program.
struct Device {
  Device() {
    root = std::filesystem::temp_directory_path() / ("msgstore-bench-" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "SD Card");
    msgstore::SetDeviceRoot(root.string());
    for (const Store* store : {&kEms, &kMms, &kEmail})
      for (bool card : {false, true}) store->createDir(card);
  }
  ~Device() { std::filesystem::remove_all(root); }
  std::filesystem::path root;
};

Device& TheDevice() {
  static Device device;
  return device;
}

tagMSGPROPS Message(DWORD folder, DWORD minute) {
  static WCHAR to[] = u"+4912345678";
  static WCHAR subject[] = u"Meeting moved to Thursday";
  tagMSGPROPS props;
  std::memset(&props, 0, sizeof props);
  props.dwFolder = folder;
  props.pszTo = to;
  props.pszSubject = subject;
  props.cbData = static_cast<DWORD>(kContent.size());
  props.pData = const_cast<BYTE*>(kContent.data());
  uint64_t t = 133000000000000000ULL + static_cast<uint64_t>(minute) * 600000000ULL;
  props.ftIndexTime = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
  props.ftTime = props.ftIndexTime;
  return props;
}

// Empties a folder and its index.
void Clear(const Store& store, bool card, DWORD folder) {
  WCHAR path[MAX_PATH];
  store.folderPath(card, folder, path);
  for (auto& entry : std::filesystem::directory_iterator(msgstore::HostPath(path)))
    std::filesystem::remove(entry);
}

// Fills a folder with kFolderSize messages through the store.
std::vector<DWORD> Fill(const Store& store, bool card, DWORD folder) {
  Clear(store, card, folder);
  std::vector<DWORD> oids;
  for (int i = 0; i < kFolderSize; ++i) {
    tagMSGPROPS props = Message(folder, static_cast<DWORD>(i));
    oids.push_back(store.write(card, &props));
  }
  return oids;
}

void WriteNew(benchmark::State& state, const Store& store, bool card) {
  TheDevice();
  Clear(store, card, kDraft);
  DWORD minute = 0;
  for (auto _ : state) {
    if (minute % (kFolderSize - 10) == 0) {
      state.PauseTiming();
      Clear(store, card, kDraft);
      state.ResumeTiming();
    }
    tagMSGPROPS props = Message(kDraft, minute++);
    benchmark::DoNotOptimize(store.write(card, &props));
  }
}
void BM_WritePhone(benchmark::State& state, const Store& store) { WriteNew(state, store, false); }
void BM_WriteCard(benchmark::State& state, const Store& store) { WriteNew(state, store, true); }

void BM_FullRead(benchmark::State& state, const Store& store) {
  TheDevice();
  std::vector<DWORD> oids = Fill(store, true, kSent);
  WCHAR path[MAX_PATH];
  store.filePath(true, oids[50], kSent, path);
  for (auto _ : state) {
    tagMSGPROPS props;
    std::memset(&props, 0, sizeof props);
    benchmark::DoNotOptimize(store.fullRead(path, &props));
    store.release(&props);
  }
}

void BM_QuickRead(benchmark::State& state, const Store& store) {
  TheDevice();
  std::vector<DWORD> oids = Fill(store, true, kSent);
  for (auto _ : state) {
    tagMSGPROPS props;
    std::memset(&props, 0, sizeof props);
    benchmark::DoNotOptimize(store.quickRead(true, kSent, oids[50], &props));
    store.release(&props);
  }
}

void BM_QuickList(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, false, kSent);
  for (auto _ : state) {
    CArray<tagOidArray, tagOidArray> list;
    benchmark::DoNotOptimize(store.quickList(list, kSent));
  }
}

void BM_DirectoryListing(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kSent);
  for (auto _ : state) {
    CArray<tagOidArray, tagOidArray> list;
    benchmark::DoNotOptimize(store.list(true, kSent, list));
  }
}

void BM_GetLastRecordCard(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kSent);
  for (auto _ : state) {
    DWORD count = 0;
    benchmark::DoNotOptimize(store.lastRecord(true, kSent, &count));
  }
}

// ---------------------------------------------------------------------------
// Baselines: the same file work with plain POSIX calls.
// ---------------------------------------------------------------------------
std::string BaselineDir(const char* name) {
  std::string dir = (TheDevice().root / "baseline" / name).string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::vector<uint8_t> MessageBytes() {
  std::vector<uint8_t> bytes(140 + kContent.size(), 0);
  std::copy(kContent.begin(), kContent.end(), bytes.begin() + 140);
  return bytes;
}

void PosixWrite(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  benchmark::DoNotOptimize(write(fd, data, size));
  close(fd);
}

std::vector<uint8_t> PosixRead(const std::string& path) {
  std::vector<uint8_t> bytes;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return bytes;
  off_t size = lseek(fd, 0, SEEK_END);
  lseek(fd, 0, SEEK_SET);
  bytes.resize(static_cast<size_t>(size));
  benchmark::DoNotOptimize(read(fd, bytes.data(), bytes.size()));
  close(fd);
  return bytes;
}

// The same file written whole under a temporary name and renamed over the
// old one, as the store replaces every file.
void PosixReplace(const std::string& path, const uint8_t* data, size_t size) {
  std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
  PosixWrite(temp, data, size);
  rename(temp.c_str(), path.c_str());
}

// The next identifier: counter file read and replaced under a lock file.
uint32_t PosixNextId(const std::string& counter, const std::string& lock) {
  int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0644);
  flock(fd, LOCK_EX);
  std::vector<uint8_t> bytes = PosixRead(counter);
  uint32_t value = 0;
  if (bytes.size() == 4) std::memcpy(&value, bytes.data(), 4);
  ++value;
  PosixReplace(counter, reinterpret_cast<const uint8_t*>(&value), 4);
  flock(fd, LOCK_UN);
  close(fd);
  return value;
}

// A new phone message with the guarantees the store gives: the counter under
// a lock, the message file and the index (under a lock of its own) replaced
// whole.
void BM_BaselineWritePhoneReplacing(benchmark::State& state) {
  std::string dir = BaselineDir("replacing");
  std::vector<uint8_t> message = MessageBytes();
  std::string index = dir + "/index", counter = dir + "/counter";
  std::string counterLock = dir + "/counter.lock", indexLock = dir + "/index.lock";
  int n = 0;
  for (auto _ : state) {
    if (n++ % (kFolderSize - 10) == 0) {
      state.PauseTiming();
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
      state.ResumeTiming();
    }
    uint32_t id = PosixNextId(counter, counterLock);
    PosixReplace(dir + "/" + std::to_string(id) + ".sms", message.data(), message.size());
    int fd = open(indexLock.c_str(), O_RDWR | O_CREAT, 0644);
    flock(fd, LOCK_EX);
    std::vector<uint8_t> records = PosixRead(index);
    uint8_t record[16] = {};
    std::memcpy(record + 4, &id, 4);
    records.insert(records.begin(), record, record + 16);
    PosixReplace(index, records.data(), records.size());
    flock(fd, LOCK_UN);
    close(fd);
  }
}

void BaselineWrite(benchmark::State& state, bool withIndex) {
  std::string dir = BaselineDir(withIndex ? "phone" : "card");
  std::vector<uint8_t> message = MessageBytes();
  std::string index = dir + "/index";
  int n = 0;
  for (auto _ : state) {
    if (n % (kFolderSize - 10) == 0) {
      state.PauseTiming();
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
      state.ResumeTiming();
    }
    PosixWrite(dir + "/" + std::to_string(++n) + ".sms", message.data(), message.size());
    if (withIndex) {
      std::vector<uint8_t> records = PosixRead(index);
      uint8_t record[16] = {};
      std::memcpy(record + 4, &n, 4);
      records.insert(records.begin(), record, record + 16);
      PosixWrite(index, records.data(), records.size());
    }
  }
}
void BM_BaselineWritePhone(benchmark::State& state) { BaselineWrite(state, true); }
void BM_BaselineWriteCard(benchmark::State& state) { BaselineWrite(state, false); }

std::string BaselineFolder() {
  std::string dir = BaselineDir("folder");
  std::vector<uint8_t> message = MessageBytes();
  for (int i = 1; i <= kFolderSize; ++i)
    PosixWrite(dir + "/" + std::to_string(i) + ".sms", message.data(), message.size());
  return dir;
}

void BM_BaselineRead(benchmark::State& state) {
  std::string dir = BaselineFolder();
  for (auto _ : state) benchmark::DoNotOptimize(PosixRead(dir + "/50.sms"));
}

void BM_BaselineIndexRead(benchmark::State& state) {
  std::string dir = BaselineDir("index");
  std::vector<uint8_t> records(16 * kFolderSize, 1);
  PosixWrite(dir + "/index", records.data(), records.size());
  for (auto _ : state) benchmark::DoNotOptimize(PosixRead(dir + "/index"));
}

std::vector<std::string> ListNames(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

void BM_BaselineDirectoryListing(benchmark::State& state) {
  std::string dir = BaselineFolder();
  for (auto _ : state) benchmark::DoNotOptimize(ListNames(dir));
}

void BM_BaselineOldestOfFolder(benchmark::State& state) {
  std::string dir = BaselineFolder();
  for (auto _ : state) {
    for (const std::string& name : ListNames(dir))
      benchmark::DoNotOptimize(PosixRead(dir + "/" + name));
  }
}

}  // namespace

BENCHMARK_CAPTURE(BM_WritePhone, sms, kEms);
BENCHMARK_CAPTURE(BM_WritePhone, mms, kMms);
BENCHMARK_CAPTURE(BM_WritePhone, email, kEmail);
BENCHMARK(BM_BaselineWritePhone);
BENCHMARK(BM_BaselineWritePhoneReplacing);
BENCHMARK_CAPTURE(BM_WriteCard, sms, kEms);
BENCHMARK_CAPTURE(BM_WriteCard, mms, kMms);
BENCHMARK_CAPTURE(BM_WriteCard, email, kEmail);
BENCHMARK(BM_BaselineWriteCard);
BENCHMARK_CAPTURE(BM_FullRead, sms, kEms);
BENCHMARK_CAPTURE(BM_FullRead, mms, kMms);
BENCHMARK_CAPTURE(BM_FullRead, email, kEmail);
BENCHMARK_CAPTURE(BM_QuickRead, sms, kEms);
BENCHMARK_CAPTURE(BM_QuickRead, mms, kMms);
BENCHMARK_CAPTURE(BM_QuickRead, email, kEmail);
BENCHMARK(BM_BaselineRead);
BENCHMARK_CAPTURE(BM_QuickList, sms, kEms);
BENCHMARK_CAPTURE(BM_QuickList, mms, kMms);
BENCHMARK_CAPTURE(BM_QuickList, email, kEmail);
BENCHMARK(BM_BaselineIndexRead);
BENCHMARK_CAPTURE(BM_DirectoryListing, sms, kEms);
BENCHMARK_CAPTURE(BM_DirectoryListing, mms, kMms);
BENCHMARK_CAPTURE(BM_DirectoryListing, email, kEmail);
BENCHMARK(BM_BaselineDirectoryListing);
BENCHMARK_CAPTURE(BM_GetLastRecordCard, sms, kEms);
BENCHMARK_CAPTURE(BM_GetLastRecordCard, mms, kMms);
BENCHMARK_CAPTURE(BM_GetLastRecordCard, email, kEmail);
BENCHMARK(BM_BaselineOldestOfFolder);

BENCHMARK_MAIN();
