// Device paths, file functions and directory enumeration of the platform.
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "msgstore/platform.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteHost(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class PlatformPaths : public msgstore_test::DeviceTest {};

TEST_F(PlatformPaths, ResolvesExistingNamesIgnoringCaseAndKeepsNewSpelling) {
  fs::create_directories(Host("DiskOnChip/User/MESSAGING/Email"));
  EXPECT_EQ(msgstore::HostPath(u"\\DiskOnChip\\USER\\messaging\\EMAIL\\INBOX\\1.email"),
            root_ + "/DiskOnChip/User/MESSAGING/Email/INBOX/1.email");
  EXPECT_EQ(msgstore::HostPath(u"\\"), root_);
  EXPECT_EQ(msgstore::HostPath(u"/DiskOnChip//User/./x"), root_ + "/DiskOnChip/User/x");

  // The existing directory is found under another spelling, not made again.
  EXPECT_FALSE(CreateDirectoryW(u"\\DiskOnChip\\User\\MESSAGING\\EMAIL", nullptr));
  EXPECT_TRUE(CreateDirectoryW(u"\\DISKONCHIP\\USER\\MESSAGING\\EMAIL\\Inbox", nullptr));
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING")), std::vector<std::string>{"Email"});
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email")), std::vector<std::string>{"Inbox"});

  HANDLE file = CreateFileW(u"\\diskonchip\\user\\messaging\\email\\INBOX\\New.EMAIL",
                            GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Entries(Host("DiskOnChip/User/MESSAGING/Email/Inbox")),
            std::vector<std::string>{"New.EMAIL"});
}

TEST_F(PlatformPaths, NeverLeavesTheRootAndConvertsNamesToUtf8) {
  EXPECT_EQ(msgstore::HostPath(u"\\..\\..\\etc\\..\\..\\passwd"), root_ + "/passwd");
  EXPECT_EQ(msgstore::HostPath(std::u16string(u"\\a\0\\b", 5)), root_ + "/a");

  HANDLE file = CreateFileW(u"\\DiskOnChip\\Gr\u00FC\u00DFe\U0001F600.txt", GENERIC_WRITE, 0,
                            nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(
      fs::exists(Host("DiskOnChip/Gr\xC3\xBC\xC3\x9F"
                      "e\xF0\x9F\x98\x80.txt")));
  // A lone surrogate cannot be spelled in UTF-8 and becomes U+FFFD.
  EXPECT_EQ(msgstore::HostPath(std::u16string(u"\\x") + char16_t(0xD800)),
            root_ + "/x\xEF\xBF\xBD");
}

// Puts an environment variable back as it was when the test began.
class SavedEnv {
 public:
  explicit SavedEnv(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    if (value != nullptr) value_ = value;
    had_ = value != nullptr;
  }
  ~SavedEnv() {
    if (had_)
      ::setenv(name_, value_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string value_;
  bool had_;
};

TEST_F(PlatformPaths, RootComesFromTheEnvironmentAndIsMadeOnFirstUse) {
  SavedEnv savedRoot("MSGSTORE_ROOT"), savedData("XDG_DATA_HOME");
  std::string fresh = root_ + "/fresh/root/";
  ::setenv("MSGSTORE_ROOT", fresh.c_str(), 1);
  msgstore::SetDeviceRoot("");
  EXPECT_EQ(msgstore::GetDeviceRoot(), root_ + "/fresh/root");
  EXPECT_FALSE(fs::exists(fresh));  // asking for the root makes nothing
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(fs::is_directory(fresh + "DiskOnChip"));
  EXPECT_FALSE(fs::exists(fresh + "SD Card"));

  ::unsetenv("MSGSTORE_ROOT");
  std::string xdg = root_ + "/xdg";
  ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  msgstore::SetDeviceRoot("");
  EXPECT_EQ(msgstore::GetDeviceRoot(), xdg + "/msgstore/device");
  ::unsetenv("XDG_DATA_HOME");
  msgstore::SetDeviceRoot(root_);
}

class PlatformFiles : public msgstore_test::DeviceTest {};

TEST_F(PlatformFiles, WritesReadsSeeksAndSizes) {
  const WCHAR* name = u"\\DiskOnChip\\data.bin";
  HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 99;
  EXPECT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[16] = {};
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));  // at the end
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 4u);
  LONG moveHigh = 0;
  EXPECT_EQ(SetFilePointer(file, 1, &moveHigh, FILE_BEGIN), 1u);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 9), INVALID_SET_FILE_POINTER);
  EXPECT_TRUE(WriteFile(file, "EL", 2, &done, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/data.bin")), "hELlo world");

  EXPECT_FALSE(CloseHandle(file));  // already closed
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &done, nullptr));

  // Access rights are kept per handle.
  file = CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(WriteFile(file, "x", 1, &done, nullptr));
  CloseHandle(file);
  file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));
  CloseHandle(file);
  EXPECT_EQ(ReadHost(Host("DiskOnChip/data.bin")), "hELlo world");
}

TEST_F(PlatformFiles, CreationDispositions) {
  auto open = [](DWORD disposition) {
    return CreateFileW(u"\\DiskOnChip\\f", GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0,
                       nullptr);
  };
  auto size = [this] {
    return fs::exists(Host("DiskOnChip/f")) ? fs::file_size(Host("DiskOnChip/f")) : 99;
  };
  EXPECT_EQ(open(OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open(TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/f")));
  EXPECT_EQ(open(0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(open(6), INVALID_HANDLE_VALUE);

  HANDLE file = open(OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  WriteHost(Host("DiskOnChip/f"), "abc");
  file = open(OPEN_ALWAYS);
  CloseHandle(file);
  EXPECT_EQ(size(), 3u);
  EXPECT_EQ(open(CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(size(), 3u);
  file = open(TRUNCATE_EXISTING);
  CloseHandle(file);
  EXPECT_EQ(size(), 0u);
  WriteHost(Host("DiskOnChip/f"), "abc");
  file = open(CREATE_ALWAYS);
  CloseHandle(file);
  EXPECT_EQ(size(), 0u);
  // Truncating asks for write access.
  EXPECT_EQ(
      CreateFileW(u"\\DiskOnChip\\f", GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
      INVALID_HANDLE_VALUE);

  // Directories, missing parents and no name at all.
  fs::create_directories(Host("DiskOnChip/dir"));
  for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING})
    EXPECT_EQ(CreateFileW(u"\\DiskOnChip\\DIR", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          disposition, 0, nullptr),
              INVALID_HANDLE_VALUE)
        << disposition;
  EXPECT_EQ(
      CreateFileW(u"\\DiskOnChip\\nodir\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
      INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(PlatformFiles, AttributesDeleteAndCopy) {
  fs::create_directories(Host("DiskOnChip/dir"));
  WriteHost(Host("DiskOnChip/a.txt"), "first");
  WriteHost(Host("DiskOnChip/b.txt"), "second");
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip\\Dir"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"\\DiskOnChip\\A.TXT"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesW(nullptr), INVALID_FILE_ATTRIBUTES);

  EXPECT_FALSE(CopyFileW(u"\\DiskOnChip\\a.txt", u"\\DiskOnChip\\B.txt", TRUE));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/b.txt")), "second");
  EXPECT_TRUE(CopyFileW(u"\\DiskOnChip\\a.txt", u"\\DiskOnChip\\B.txt", FALSE));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/b.txt")), "first");
  EXPECT_TRUE(CopyFileW(u"\\DiskOnChip\\a.txt", u"\\DiskOnChip\\c.txt", TRUE));
  EXPECT_EQ(ReadHost(Host("DiskOnChip/c.txt")), "first");
  EXPECT_FALSE(CopyFileW(u"\\DiskOnChip\\a.txt", u"\\DiskOnChip\\A.txt", FALSE));  // itself
  EXPECT_EQ(ReadHost(Host("DiskOnChip/a.txt")), "first");
  EXPECT_FALSE(CopyFileW(u"\\DiskOnChip\\none", u"\\DiskOnChip\\d.txt", FALSE));
  EXPECT_FALSE(CopyFileW(u"\\DiskOnChip\\dir", u"\\DiskOnChip\\d.txt", FALSE));
  EXPECT_FALSE(CopyFileW(u"\\DiskOnChip\\a.txt", u"\\DiskOnChip\\dir", FALSE));
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/d.txt")));

  EXPECT_FALSE(DeleteFileW(u"\\DiskOnChip\\dir"));
  EXPECT_FALSE(DeleteFileW(u"\\DiskOnChip\\missing"));
  EXPECT_FALSE(DeleteFileW(nullptr));
  EXPECT_TRUE(DeleteFileW(u"\\DiskOnChip\\C.TXT"));
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/c.txt")));
  EXPECT_TRUE(fs::is_directory(Host("DiskOnChip/dir")));
}

TEST_F(PlatformFiles, CreateDirectoryMakesNoParentsAndNoCard) {
  EXPECT_FALSE(CreateDirectoryW(u"\\DiskOnChip\\A\\B", nullptr));
  EXPECT_FALSE(fs::exists(Host("DiskOnChip/A")));
  EXPECT_TRUE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  EXPECT_FALSE(CreateDirectoryW(nullptr, nullptr));

  RemoveCard();
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card\\User", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\SD Card", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\sd card", nullptr));
  EXPECT_FALSE(fs::exists(Host("SD Card")));
  EXPECT_EQ(CreateFileW(u"\\SD Card\\x", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST(PlatformTime, CompareFileTimeOrdersTheWholeSixtyFourBits) {
  FILETIME low{0xFFFFFFFFu, 1}, high{0, 2}, same{0, 2};
  EXPECT_EQ(CompareFileTime(&low, &high), -1);
  EXPECT_EQ(CompareFileTime(&high, &low), 1);
  EXPECT_EQ(CompareFileTime(&high, &same), 0);
  FILETIME a{1, 5}, b{2, 5};
  EXPECT_EQ(CompareFileTime(&a, &b), -1);
  EXPECT_EQ(CompareFileTime(nullptr, &b), 0);
}

class PlatformFind : public msgstore_test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    fs::create_directories(Host("DiskOnChip/Folder/sub.sms"));
    WriteHost(Host("DiskOnChip/Folder/1.sms"), "12345");
    WriteHost(Host("DiskOnChip/Folder/22.SMS"), "");
    WriteHost(Host("DiskOnChip/Folder/EmsIni"), "0123456789");
    WriteHost(Host("DiskOnChip/Folder/3.smsx"), "");
  }

  // Names found for a pattern, in the order given; "!" when nothing is found.
  std::vector<std::string> Find(const std::u16string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return {"!"};
    do {
      std::u16string name = data.cFileName;
      names.push_back(std::string(name.begin(), name.end()));  // the test's names are ASCII
    } while (FindNextFileW(find, &data));
    EXPECT_FALSE(FindNextFileW(find, &data));
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    return names;
  }

  // The same names in the order the directory itself gives them.
  std::vector<std::string> InDirectoryOrder(std::vector<std::string> names) {
    std::vector<std::string> ordered;
    for (const auto& entry : fs::directory_iterator(Host("DiskOnChip/Folder"))) {
      std::string name = entry.path().filename();
      if (std::find(names.begin(), names.end(), name) != names.end()) ordered.push_back(name);
    }
    return ordered;
  }
};

TEST_F(PlatformFind, MatchesWildcardsIgnoringCaseInDirectoryOrder) {
  std::vector<std::string> sms = Find(u"\\DISKONCHIP\\folder\\*.sms");
  EXPECT_EQ(sms, InDirectoryOrder({"1.sms", "22.SMS", "sub.sms"}));
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\?.SMS"), std::vector<std::string>{"1.sms"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\emsini"), std::vector<std::string>{"EmsIni"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\*ini*"), std::vector<std::string>{"EmsIni"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\*"),
            InDirectoryOrder({"1.sms", "22.SMS", "sub.sms", "EmsIni", "3.smsx"}));
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\*.*").size(), 5u);
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\*.mms"), std::vector<std::string>{"!"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\??.sms?"), std::vector<std::string>{"!"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Missing\\*.sms"), std::vector<std::string>{"!"});
  EXPECT_EQ(Find(u"\\DiskOnChip\\Folder\\"), std::vector<std::string>{"!"});
}

TEST_F(PlatformFind, DescribesEachEntry) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(u"\\DiskOnChip\\Folder\\EMSINI", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"EmsIni");
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(data.nFileSizeLow, 10u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_TRUE(CloseHandle(find));  // CloseHandle closes a search too
  EXPECT_FALSE(FindNextFileW(find, &data));

  find = FindFirstFileW(u"\\DiskOnChip\\Folder\\SUB.*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"sub.sms");
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(find);

  EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindFirstFileW(u"\\DiskOnChip\\Folder\\*", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileW(nullptr, &data));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

}  // namespace
