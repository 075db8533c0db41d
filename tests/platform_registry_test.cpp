// The registry kept under the device root.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "msgstore/platform.h"
#include "test_support.h"

namespace {

class PlatformRegistry : public msgstore_test::DeviceTest {
 protected:
  HKEY Create(const WCHAR* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  static LONG SetDword(HKEY key, const WCHAR* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  static DWORD GetDword(HKEY key, const WCHAR* name) {
    DWORD value = 0, type = 0, size = sizeof value;
    LONG result =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return result == ERROR_SUCCESS && type == REG_DWORD && size == 4 ? value : 0xDEAD;
  }
};

TEST_F(PlatformRegistry, KeysAreCreatedOnceAndOpenedIgnoringCase) {
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0,
                          KEY_QUERY_VALUE, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);

  DWORD disposition = 0;
  HKEY created = Create(u"\\Software\\Corvane\\Email\\Accounts", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = Create(u"SOFTWARE\\corvane\\EMAIL\\accounts", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(SetDword(created, u"AccoutnId", 7), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(again, u"ACCOUTNID"), 7u);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\software\\CORVANE", 0, KEY_QUERY_VALUE, &parent),
            ERROR_SUCCESS);
  HKEY child = nullptr;
  ASSERT_EQ(RegOpenKeyExW(parent, u"Email\\Accounts", 0, KEY_QUERY_VALUE, &child), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(child, u"AccoutnId"), 7u);
  EXPECT_EQ(RegFlushKey(child), ERROR_SUCCESS);

  for (HKEY key : {created, again, parent, child}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(created), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetDword(created, u"AccoutnId"), 0xDEADu);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(nullptr, u"Software", 0, 0, &child), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegFlushKey(reinterpret_cast<HKEY>(8)), ERROR_INVALID_HANDLE);
}

TEST_F(PlatformRegistry, QueryFollowsTheWin32Protocol) {
  HKEY key = Create(u"\\Software\\Corvane\\Email\\Preferences");
  const char16_t text[] = u"Acc1";
  ASSERT_EQ(RegSetValueExW(key, u"IncomingServerAccount", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"incomingserveraccount", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 10u);

  BYTE small[4] = {1, 2, 3, 4};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, u"IncomingServerAccount", nullptr, nullptr, small, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 10u);

  BYTE buffer[16];
  std::memset(buffer, 0xEE, sizeof buffer);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExW(key, u"IncomingServerAccount", nullptr, &type, buffer, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(std::memcmp(buffer, text, 10), 0);
  EXPECT_EQ(buffer[10], 0xEE);

  EXPECT_EQ(RegQueryValueExW(key, u"Absent", nullptr, &type, buffer, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, u"IncomingServerAccount", nullptr, &type, buffer, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"x", 0, REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);

  // Replacing a value replaces its type too; the unnamed value is a value of its own.
  EXPECT_EQ(SetDword(key, u"IncomingServerAccount", 0x01020304), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(key, u"IncomingServerAccount"), 0x01020304u);
  EXPECT_EQ(RegSetValueExW(key, nullptr, 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 0u);

  // On disk: the type, then the data, little-endian.
  std::ifstream in(root_ +
                       "/.platform/registry/HKLM/k.software/k.corvane/k.email/k.preferences/"
                       "v.incomingserveraccount",
                   std::ios::binary);
  std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(stored, std::string("\x04\0\0\0\x04\x03\x02\x01", 8));
  RegCloseKey(key);
}

TEST_F(PlatformRegistry, ValuesAreSharedBetweenProcessesOfOneRoot) {
  pid_t pid = ::fork();
  if (pid == 0) {
    HKEY key = nullptr;
    DWORD value = 41;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS)
      result =
          RegSetValueExW(key, u"AccoutnId", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    ::_exit(result == ERROR_SUCCESS ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_EQ(status, 0);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane\\Email\\Accounts", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(GetDword(key, u"AccoutnId"), 41u);
  ASSERT_EQ(SetDword(key, u"AccoutnId", 42), ERROR_SUCCESS);
  pid = ::fork();
  if (pid == 0) ::_exit(static_cast<int>(GetDword(key, u"AccoutnId")));  // reads the file anew
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 42);
  RegCloseKey(key);

  // Another device root has a registry of its own.
  msgstore::SetDeviceRoot(root_ + "/other");
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software\\Corvane", 0, 0, &key),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
