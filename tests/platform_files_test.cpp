// Device paths, file functions and directory enumeration of the platform.
#include <fstream>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

// The content of a host file, "(none)" when there is no such regular file.
std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return fs::is_regular_file(path) ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

// The names in dir: sorted, or as the directory gives them among those in only.
Names Entries(const std::string& dir, const Names* only = nullptr) {
  Names names;
  for (const auto& entry : fs::directory_iterator(dir))
    if (!only || std::count(only->begin(), only->end(), entry.path().filename().string()))
      names.push_back(entry.path().filename());
  if (!only) std::sort(names.begin(), names.end());
  return names;
}

HANDLE Open(const WCHAR* name, DWORD access, DWORD disposition) {
  return CreateFileW(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

using PlatformFiles = msgstore_test::DeviceTest;

TEST_F(PlatformFiles, PathsResolveIgnoringCaseWithinTheRootInUtf8) {
  fs::create_directories(Host("DiskOnChip/User/MESSAGING/Email"));
  const std::pair<std::u16string, std::string> cases[] = {
      {u"\\DiskOnChip\\USER\\messaging\\EMAIL\\INBOX\\1.email",
       "/DiskOnChip/User/MESSAGING/Email/INBOX/1.email"},
      {u"\\", ""},
      {u"/DiskOnChip//User/./x", "/DiskOnChip/User/x"},
      {u"\\..\\..\\etc\\..\\..\\passwd", "/passwd"},
      {std::u16string(u"\\a\0\\b", 5), "/a"},
      {u"\\Gr\u00FC\u00DFe\U0001F600.txt", u8"/Gr\u00FC\u00DFe\U0001F600.txt"},
      {std::u16string(u"\\x") + char16_t(0xD800), "/x\xEF\xBF\xBD"}};  // lone surrogate
  for (const auto& [device, host] : cases) EXPECT_EQ(msgstore::HostPath(device), root_ + host);
}

TEST_F(PlatformFiles, CreatesOnlyWhatIsMissingKeepingItsSpellingAndNeedsTheCard) {
  fs::create_directories(Host("DiskOnChip/User/MESSAGING/Email"));
  const std::pair<const WCHAR*, BOOL> steps[] = {
      {u"\\DiskOnChip\\User\\MESSAGING\\EMAIL", FALSE},  // exists under another spelling
      {u"\\DISKONCHIP\\USER\\MESSAGING\\EMAIL\\Inbox", TRUE},
      {u"\\DiskOnChip\\A\\B", FALSE},  // no parents are made
      {u"\\SD Card\\User", TRUE},
      {u"\\SD Card\\User", FALSE}};
  for (const auto& [path, made] : steps) EXPECT_EQ(CreateDirectoryW(path, nullptr), made);
  EXPECT_TRUE(CloseHandle(
      Open(u"\\diskonchip\\user\\messaging\\email\\INBOX\\New.EMAIL", GENERIC_WRITE, CREATE_NEW)));
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING")), Names{"Email"});
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email")), Names{"Inbox"});
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email/Inbox")), Names{"New.EMAIL"});
  RemoveCard();
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr) ||
               CreateDirectoryW(u"\\sd card", nullptr));
  EXPECT_EQ(Open(u"\\SD Card\\x", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  msgstore::SetDeviceRoot(root_ + "/fresh/");  // made on first use with the phone volume only
  EXPECT_EQ(msgstore::GetDeviceRoot(), root_ + "/fresh");
  EXPECT_FALSE(fs::exists(root_ + "/fresh"));
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Entries(root_ + "/fresh"), Names{"DiskOnChip"});
}

TEST_F(PlatformFiles, WritesReadsSeeksAndSizes) {
  const WCHAR* name = u"\\DiskOnChip\\data.bin";
  HANDLE file = Open(name, kReadWrite, CREATE_NEW);
  DWORD done = 99, high = 7;
  char buffer[16] = {};
  EXPECT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr) && done == 11);
  EXPECT_TRUE(GetFileSize(file, &high) == 11 && high == 0);
  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done == 0);
  for (const auto& [distance, method, at] : {std::tuple{-5, FILE_END, 6u},
                                             {-2, FILE_CURRENT, 4u},
                                             {1, FILE_BEGIN, 1u},
                                             {-100, FILE_BEGIN, ~0u}})
    EXPECT_EQ(SetFilePointer(file, distance, nullptr, method), at);
  EXPECT_TRUE(WriteFile(file, "EL", 2, &done, nullptr));  // at 1: the failed seek moved nothing
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr) || CloseHandle(file));  // closed
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
  HANDLE reader = Open(name, GENERIC_READ, OPEN_EXISTING);  // rights are kept per handle
  HANDLE writer = Open(name, GENERIC_WRITE, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr) || ReadFile(writer, buffer, 1, &done, 0));
  EXPECT_TRUE(CloseHandle(reader) && CloseHandle(writer));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/data.bin")), "hELlo world");
}

TEST_F(PlatformFiles, CreationDispositions) {
  // Content before, disposition, whether it opens, content after.
  const std::tuple<const char*, DWORD, bool, const char*> cases[] = {
      {"(none)", OPEN_EXISTING, false, "(none)"}, {"(none)", TRUNCATE_EXISTING, false, "(none)"},
      {"(none)", OPEN_ALWAYS, true, ""},          {"(none)", CREATE_NEW, true, ""},
      {"(none)", CREATE_ALWAYS, true, ""},        {"abc", OPEN_EXISTING, true, "abc"},
      {"abc", OPEN_ALWAYS, true, "abc"},          {"abc", TRUNCATE_EXISTING, true, ""},
      {"abc", CREATE_ALWAYS, true, ""},           {"abc", CREATE_NEW, false, "abc"}};
  std::string host = Host("DiskOnChip/f");
  for (const auto& [before, disposition, opens, after] : cases) {
    fs::remove(host);
    if (std::string(before) != "(none)") std::ofstream(host) << before;
    HANDLE file = Open(u"\\DiskOnChip\\f", kReadWrite, disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE && CloseHandle(file), opens) << disposition;
    EXPECT_EQ(ReadHost(host), after) << disposition;
  }
  // Truncating needs write access; directories and missing parents never open.
  EXPECT_EQ(Open(u"\\DiskOnChip\\f", GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadHost(host), "abc");
  fs::create_directories(Host("DiskOnChip/dir"));
  for (const WCHAR* name : {u"\\DiskOnChip\\DIR", u"\\DiskOnChip\\nodir\\f"})
    EXPECT_EQ(Open(name, kReadWrite, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
}

TEST_F(PlatformFiles, AttributesCopyAndDelete) {
  fs::create_directories(Host("dir"));
  std::ofstream(Host("a.txt")) << "first";
  std::ofstream(Host("b.txt")) << "second";
  EXPECT_EQ(GetFileAttributesW(u"\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"\\Dir"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"\\A.TXT"), FILE_ATTRIBUTE_NORMAL);
  // From, to, failIfExists, whether it copies, the host target and its content after.
  const std::tuple<const WCHAR*, const WCHAR*, BOOL, BOOL, const char*, const char*> copies[] = {
      {u"\\a.txt", u"\\B.txt", TRUE, FALSE, "b.txt", "second"},
      {u"\\a.txt", u"\\B.txt", FALSE, TRUE, "b.txt", "first"},
      {u"\\a.txt", u"\\c.txt", TRUE, TRUE, "c.txt", "first"},
      {u"\\a.txt", u"\\A.txt", FALSE, FALSE, "a.txt", "first"},  // itself
      {u"\\none", u"\\d.txt", FALSE, FALSE, "d.txt", "(none)"},
      {u"\\a.txt", u"\\dir", FALSE, FALSE, "dir", "(none)"}};
  for (const auto& [from, to, failIfExists, copied, target, content] : copies) {
    EXPECT_EQ(CopyFileW(from, to, failIfExists), copied) << target;
    EXPECT_EQ(ReadHost(Host(target)), content) << target;
  }
  EXPECT_FALSE(DeleteFileW(u"\\dir") || DeleteFileW(u"\\missing"));
  EXPECT_TRUE(DeleteFileW(u"\\C.TXT"));
  EXPECT_EQ(Entries(root_), (Names{"DiskOnChip", "SD Card", "a.txt", "b.txt", "dir"}));
}

// Names found for a pattern, in the order given; "!" when nothing is found.
Names Find(const std::u16string& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return {"!"};
  Names names;
  do {
    const std::u16string name = data.cFileName;  // the test's names are ASCII
    names.emplace_back(name.begin(), name.end());
  } while (FindNextFileW(find, &data));
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindNextFileW(find, &data));
  return names;
}

TEST_F(PlatformFiles, FindMatchesWildcardsIgnoringCaseInDirectoryOrderAndDescribesEntries) {
  const std::string dir = Host("DiskOnChip/Folder");
  fs::create_directories(dir + "/sub.sms");
  for (const char* name : {"/1.sms", "/22.SMS", "/3.smsx"}) std::ofstream(dir + name);
  std::ofstream(dir + "/EmsIni") << "0123456789";
  const Names sms = {"1.sms", "22.SMS", "sub.sms"}, all = Entries(dir);
  const std::pair<std::u16string, Names> cases[] = {
      {u"\\DISKONCHIP\\folder\\*.sms", Entries(dir, &sms)},
      {u"\\DiskOnChip\\Folder\\?.SMS", {"1.sms"}},
      {u"\\DiskOnChip\\Folder\\emsini", {"EmsIni"}},
      {u"\\DiskOnChip\\Folder\\*ini*", {"EmsIni"}},
      {u"\\DiskOnChip\\Folder\\*", Entries(dir, &all)},
      {u"\\DiskOnChip\\Folder\\*.*", Entries(dir, &all)},
      {u"\\DiskOnChip\\Folder\\??.sms?", {"!"}},
      {u"\\DiskOnChip\\Missing\\*.sms", {"!"}},
      {u"\\DiskOnChip\\Folder\\", {"!"}}};
  for (const auto& [pattern, names] : cases)
    EXPECT_EQ(Find(pattern), names) << std::string(pattern.begin(), pattern.end());
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(u"\\DiskOnChip\\Folder\\EMSINI", &data);
  EXPECT_EQ(std::u16string(data.cFileName), u"EmsIni");
  EXPECT_EQ(std::make_tuple(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow),
            std::make_tuple(DWORD{FILE_ATTRIBUTE_NORMAL}, 0u, 10u));
  EXPECT_TRUE(CloseHandle(find));  // CloseHandle closes a search too
  EXPECT_TRUE(FindClose(FindFirstFileW(u"\\DiskOnChip\\Folder\\SUB.*", &data)));
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
