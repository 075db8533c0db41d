// Stores a number of new messages in the phone DRAFT folder of one store, on
// a fresh device root, and nothing else: the program that `strace -f -c`
// runs to count the system calls of a new phone message (count_syscalls.sh).
// A root given is left in place; without one, a temporary root is used and
// removed.
//
//     write_count sms|mms|email [count [root]]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "msgstore/msgstore.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: write_count sms|mms|email [count [root]]\n");
    return 2;
  }
  const std::string store = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 100;
  const bool ownRoot = argc <= 3;
  const std::filesystem::path root =
      ownRoot ? std::filesystem::temp_directory_path() / ("msgstore-count-" + std::to_string(getpid()))
              : std::filesystem::path(argv[3]);
  std::filesystem::create_directories(root);
  msgstore::SetDeviceRoot(root.string());
  EMSMsgStore_CreateDir(false);
  MMSMsgStore_CreateDir(false);
  EmailMsgStore_CreateDir(false);

  static WCHAR to[] = u"+4912345678";
  static WCHAR subject[] = u"Meeting moved to Thursday";
  std::vector<BYTE> content(160, 'x');
  DWORD stored = 0;
  for (int i = 0; i < count; ++i) {
    tagMSGPROPS props;
    std::memset(&props, 0, sizeof props);
    props.dwFolder = 2;  // DRAFT in every store
    props.pszTo = to;
    props.pszSubject = subject;
    props.cbData = static_cast<DWORD>(content.size());
    props.pData = content.data();
    const uint64_t t = 133000000000000000ULL + static_cast<uint64_t>(i) * 600000000ULL;
    props.ftIndexTime = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    props.ftTime = props.ftIndexTime;
    DWORD id = 0;
    if (store == "sms") {
      id = EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
    } else if (store == "mms") {
      tagMMSMSGPROPS mms = {};
      id = MMSMsgStore_WriteMessage(false, &props, &mms, 0, nullptr);
    } else if (store == "email") {
      tagEMAILMSGPROPS email = {};
      id = EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr);
    }
    if (id != 0) ++stored;
  }
  if (ownRoot) std::filesystem::remove_all(root);
  std::printf("%u of %d stored\n", stored, count);
  return stored == static_cast<DWORD>(count) ? 0 : 1;
}
