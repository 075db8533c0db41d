// Cost of the stores' main operations, each beside a baseline that does the
// same file work with plain POSIX calls, so that a store's overhead reads as
// a ratio.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "msgstore/msgstore.h"
#include "msgstore/stores.h"

namespace {

// A full folder: the stores' folder limit.
const int kFolderSize = static_cast<int>(msgstore::SmsStore().folderLimit);
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
const DWORD kDraft = msgstore::SmsStore().FolderNamed("draft")->number;
const DWORD kSent = msgstore::SmsStore().FolderNamed("sent")->number;

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

std::string HostFolder(const Store& store, bool card, DWORD folder) {
  WCHAR path[MAX_PATH];
  store.folderPath(card, folder, path);
  return msgstore::HostPath(path);
}

// Empties a folder and its index.
void Clear(const Store& store, bool card, DWORD folder) {
  for (auto& entry : std::filesystem::directory_iterator(HostFolder(store, card, folder)))
    std::filesystem::remove(entry);
}

// Fills a folder with count messages through the store.
std::vector<DWORD> Fill(const Store& store, bool card, DWORD folder, int count = kFolderSize) {
  Clear(store, card, folder);
  std::vector<DWORD> oids;
  for (int i = 0; i < count; ++i) {
    tagMSGPROPS props = Message(folder, static_cast<DWORD>(i));
    oids.push_back(store.write(card, &props));
  }
  return oids;
}

// The size of the store's file for one benchmark message.
size_t MessageFileSize(const Store& store) {
  TheDevice();  // a baseline may be the first benchmark to run
  static std::map<const Store*, size_t> sizes;
  auto it = sizes.find(&store);
  if (it != sizes.end()) return it->second;
  std::vector<DWORD> oids = Fill(store, true, kSent, 1);
  WCHAR path[MAX_PATH];
  store.filePath(true, oids[0], kSent, path);
  const size_t size = std::filesystem::file_size(msgstore::HostPath(path));
  sizes[&store] = size;
  return size;
}

// A new message into a phone folder; the folder is emptied, untimed, before
// it fills up.
void BM_WritePhone(benchmark::State& state, const Store& store) {
  TheDevice();
  Clear(store, false, kDraft);
  DWORD minute = 0;
  for (auto _ : state) {
    if (minute % (kFolderSize - 10) == 0) {
      state.PauseTiming();
      Clear(store, false, kDraft);
      state.ResumeTiming();
    }
    tagMSGPROPS props = Message(kDraft, minute++);
    benchmark::DoNotOptimize(store.write(false, &props));
  }
}

// A new message into a card folder that holds 50: the store lists the folder
// and reads each message to find how full it is and which is the oldest. The
// new message is removed again, untimed.
void BM_WriteCard50(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kDraft, 50);
  DWORD minute = 1000;
  for (auto _ : state) {
    tagMSGPROPS props = Message(kDraft, minute++);
    const DWORD oid = store.write(true, &props);
    state.PauseTiming();
    WCHAR path[MAX_PATH];
    store.filePath(true, oid, kDraft, path);
    std::filesystem::remove(msgstore::HostPath(path));
    state.ResumeTiming();
  }
}

// The listing of a folder of 100 (GetMessageList).
void BM_List(benchmark::State& state, const Store& store, bool card) {
  TheDevice();
  Fill(store, card, kSent);
  for (auto _ : state) {
    CArray<tagOidArray, tagOidArray> list;
    benchmark::DoNotOptimize(store.list(card, kSent, list));
  }
}
void BM_ListPhone(benchmark::State& state, const Store& store) { BM_List(state, store, false); }
void BM_ListCard(benchmark::State& state, const Store& store) { BM_List(state, store, true); }

// The listing of a card folder of 100 and a full read of each message.
void BM_ListAndRead(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kSent);
  for (auto _ : state) {
    CArray<tagOidArray, tagOidArray> list;
    store.list(true, kSent, list);
    for (long i = 0; i < list.GetSize(); ++i) {
      WCHAR path[MAX_PATH];
      store.filePath(true, list[i].dwOid, kSent, path);
      tagMSGPROPS props;
      std::memset(&props, 0, sizeof props);
      benchmark::DoNotOptimize(store.fullRead(path, &props));
      store.release(&props);
    }
  }
}

// The quick list of a phone folder of 100, from its index.
void BM_QuickList(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, false, kSent);
  for (auto _ : state) {
    CArray<tagOidArray, tagOidArray> list;
    benchmark::DoNotOptimize(store.quickList(list, kSent));
  }
}

// ---------------------------------------------------------------------------
// Baselines: the same file work with plain POSIX calls and the same
// guarantees: each file replaced whole by rename, the counter and the index
// each under a lock file of its own.
// ---------------------------------------------------------------------------
std::string BaselineDir(const char* name) {
  std::string dir = (TheDevice().root / "baseline" / name).string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void PosixWrite(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  benchmark::DoNotOptimize(write(fd, data, size));
  close(fd);
}

std::vector<uint8_t> PosixRead(const std::string& path, size_t limit = SIZE_MAX) {
  std::vector<uint8_t> bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info;
  if (fstat(fd, &info) == 0) {
    bytes.resize(std::min(static_cast<size_t>(info.st_size), limit));
    benchmark::DoNotOptimize(read(fd, bytes.data(), bytes.size()));
  }
  close(fd);
  return bytes;
}

void PosixReplace(const std::string& path, const uint8_t* data, size_t size) {
  std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
  PosixWrite(temp, data, size);
  rename(temp.c_str(), path.c_str());
}

// Holds an flock on a lock file that stays open, as the store keeps its
// lock files open.
class Locked {
 public:
  explicit Locked(int fd) : fd_(fd) { flock(fd_, LOCK_EX); }
  ~Locked() { flock(fd_, LOCK_UN); }

 private:
  int fd_;
};

struct BaselineFolder {
  explicit BaselineFolder(const char* name) : dir(BaselineDir(name)) {
    counterLock = open((dir + ".counter.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    indexLock = open((dir + ".index.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  }
  ~BaselineFolder() {
    close(counterLock);
    close(indexLock);
  }
  void Reset() {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  uint32_t NextId() {
    Locked held(counterLock);
    std::vector<uint8_t> bytes = PosixRead(dir + ".counter");
    uint32_t value = 0;
    if (bytes.size() == 4) std::memcpy(&value, bytes.data(), 4);
    ++value;
    PosixReplace(dir + ".counter", reinterpret_cast<const uint8_t*>(&value), 4);
    return value;
  }
  size_t CountIndexed() {
    Locked held(indexLock);
    return PosixRead(dir + "/index").size() / 16;
  }
  void Index(uint32_t id) {
    Locked held(indexLock);
    std::vector<uint8_t> records = PosixRead(dir + "/index");
    uint8_t record[16] = {};
    std::memcpy(record + 4, &id, 4);
    records.insert(records.begin(), record, record + 16);
    PosixReplace(dir + "/index", records.data(), records.size());
  }
  // What a scan of the folder does: every name, and the head of each file.
  size_t ReadHeads() {
    size_t count = 0;
    for (const std::string& name : ListNames(dir)) {
      benchmark::DoNotOptimize(PosixRead(dir + "/" + name, 512));
      ++count;
    }
    return count;
  }
  static std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.' && std::strcmp(e->d_name, "index") != 0) names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }

  std::string dir;
  int counterLock, indexLock;
};

// A new phone message: the SMS and MMS stores count the folder from its
// index, the e-mail store by a scan of the folder.
void BM_BaselineWritePhone(benchmark::State& state, const Store& store) {
  const std::vector<uint8_t> message(MessageFileSize(store), 'x');
  const bool scans = &store == &kEmail;
  BaselineFolder folder("phone");
  int n = 0;
  for (auto _ : state) {
    if (n++ % (kFolderSize - 10) == 0) {
      state.PauseTiming();
      folder.Reset();
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(scans ? folder.ReadHeads() : folder.CountIndexed());
    const uint32_t id = folder.NextId();
    PosixReplace(folder.dir + "/" + std::to_string(id) + ".msg", message.data(), message.size());
    folder.Index(id);
  }
}

// A new message into a card folder of 50: a scan of the folder, a counter, a
// look whether the name is taken, the message file.
void BM_BaselineWriteCard50(benchmark::State& state, const Store& store) {
  const std::vector<uint8_t> message(MessageFileSize(store), 'x');
  BaselineFolder folder("card");
  for (int i = 0; i < 50; ++i)
    PosixWrite(folder.dir + "/" + std::to_string(100000 + i) + ".msg", message.data(),
               message.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(folder.ReadHeads());
    const std::string path = folder.dir + "/" + std::to_string(folder.NextId()) + ".msg";
    struct stat info;
    benchmark::DoNotOptimize(stat(path.c_str(), &info));
    PosixReplace(path, message.data(), message.size());
    state.PauseTiming();
    unlink(path.c_str());
    state.ResumeTiming();
  }
}

// readdir of the store's own folder of 100.
void BM_BaselineList(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kSent);
  const std::string dir = HostFolder(store, true, kSent);
  for (auto _ : state) benchmark::DoNotOptimize(BaselineFolder::ListNames(dir));
}

// readdir of the store's own folder of 100 and a read of each file.
void BM_BaselineListAndRead(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, true, kSent);
  const std::string dir = HostFolder(store, true, kSent);
  for (auto _ : state) {
    for (const std::string& name : BaselineFolder::ListNames(dir))
      benchmark::DoNotOptimize(PosixRead(dir + "/" + name));
  }
}

// The index of a phone folder of 100 read under its lock.
void BM_BaselineQuickList(benchmark::State& state, const Store& store) {
  TheDevice();
  Fill(store, false, kSent);
  const std::string dir = HostFolder(store, false, kSent);
  std::string index;
  for (const std::string& name : BaselineFolder::ListNames(dir))
    if (name.find('.') == std::string::npos) index = dir + "/" + name;
  const int lock = open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  for (auto _ : state) {
    Locked held(lock);
    benchmark::DoNotOptimize(PosixRead(index));
  }
  close(lock);
}

}  // namespace

#define STORE_BENCHMARK(name)         \
  BENCHMARK_CAPTURE(name, sms, kEms); \
  BENCHMARK_CAPTURE(name, mms, kMms); \
  BENCHMARK_CAPTURE(name, email, kEmail);

STORE_BENCHMARK(BM_WritePhone)
STORE_BENCHMARK(BM_BaselineWritePhone)
STORE_BENCHMARK(BM_WriteCard50)
STORE_BENCHMARK(BM_BaselineWriteCard50)
STORE_BENCHMARK(BM_ListPhone)
STORE_BENCHMARK(BM_ListCard)
STORE_BENCHMARK(BM_BaselineList)
STORE_BENCHMARK(BM_ListAndRead)
STORE_BENCHMARK(BM_BaselineListAndRead)
STORE_BENCHMARK(BM_QuickList)
STORE_BENCHMARK(BM_BaselineQuickList)

BENCHMARK_MAIN();
