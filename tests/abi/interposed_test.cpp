// The library's own calls of its platform functions reach its own
// definitions, also when a library loaded before it defines the same names;
// the program's calls reach whichever it links first, as usual.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "msgstore/msgstore.h"

extern int g_interposed_calls;

TEST(Interposed, TheLibraryKeepsItsOwnPlatformFunctions) {
  const std::string root = std::filesystem::temp_directory_path().string() +
                           "/msgstore-interposed-" + std::to_string(::getpid());
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/DiskOnChip/User");
  msgstore::SetDeviceRoot(root);
  // The e-mail tree is made only where GetFileAttributesW finds no "Email"
  // directory: the interposer would say it is there.
  EXPECT_EQ(1, EmailMsgStore_CreateDir(false));
  EXPECT_TRUE(std::filesystem::is_directory(root + "/DiskOnChip/User/MESSAGING/Email/INBOX"));
  EXPECT_EQ(0, g_interposed_calls);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesW(u"\\nothing"));
  EXPECT_EQ(1, g_interposed_calls);
  std::filesystem::remove_all(root);
}
