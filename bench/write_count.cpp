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
#include <filesystem>
#include <string>

#include "draft_message.h"
#include "msgstore/msgstore.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: write_count sms|mms|email [count [root]]\n");
    return 2;
  }
  const std::string store = argv[1];
  const bench::Store which = store == "sms"   ? bench::kSms
                             : store == "mms" ? bench::kMms
                                              : bench::kEmail;
  if (store != "sms" && store != "mms" && store != "email") {
    std::fprintf(stderr, "write_count: no store %s\n", store.c_str());
    return 2;
  }
  const int count = argc > 2 ? std::atoi(argv[2]) : 100;
  const bool ownRoot = argc <= 3;
  const std::filesystem::path root = ownRoot ? std::filesystem::temp_directory_path() /
                                                   ("msgstore-count-" + std::to_string(getpid()))
                                             : std::filesystem::path(argv[3]);
  std::filesystem::create_directories(root);
  msgstore::SetDeviceRoot(root.string());
  EMSMsgStore_CreateDir(false);
  MMSMsgStore_CreateDir(false);
  EmailMsgStore_CreateDir(false);

  DWORD stored = 0;
  for (int i = 0; i < count; ++i) {
    const DWORD id = bench::WriteDraft(which, i);
    if (id != 0) ++stored;
  }
  if (ownRoot) std::filesystem::remove_all(root);
  std::printf("%u of %d stored\n", stored, count);
  return stored == static_cast<DWORD>(count) ? 0 : 1;
}
