// The e-mail account database, "EmailAccMsgStore.db", as EmailAccMsgStore_Open
// loads it into the account array.
//
// The file holds a record count and records of 16 bytes of numbers and a
// zero-terminated UTF-16 text each. The load must stay within the file's
// bytes whatever the count and the texts claim, keep only whole records,
// never more than the file can hold, each text at most 255 code units, keep
// each folder's records together and hand every record back through the
// reads. A database saved from what was loaded must load to the same
// accounts, each folder in the other order.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "email/email_accounts.h"
#include "fuzz_support.h"
#include "msgstore/email.h"

namespace {

constexpr size_t kSmallestRecord = 18;  // 16 bytes of numbers and an empty text

struct Loaded {
  DWORD data, folder, id;
  WORD w1, w2;
  std::u16string text;
  bool operator==(const Loaded& o) const {
    return data == o.data && folder == o.folder && id == o.id && w1 == o.w1 && w2 == o.w2 &&
           text == o.text;
  }
};

// Every record, read back through the folder reads in array order.
std::vector<Loaded> ReadBack() {
  std::vector<Loaded> out;
  const msgstore::EmailAccountArray& array = msgstore::email::AccountArray();
  for (long i = 0; i < array.GetSize(); ++i) {
    const DWORD folder = array[i].dwFolder;
    long first = 0;
    while (array[first].dwFolder != folder) ++first;
    tagEMAILACCOUNTPROPS props{};
    FUZZ_CHECK(EmailMsgStore_ReadFolderAccount(nullptr, folder, static_cast<DWORD>(i - first),
                                               &props) == 1);
    const std::u16string text = msgstore_fuzz::Wide(props.pszText);
    FUZZ_CHECK(props.pszText == nullptr || !text.empty());  // empty texts read as null
    FUZZ_CHECK(text.size() <= 255);
    out.push_back(
        {props.dwData, props.dwFolder, props.dwAccountId, props.wData1, props.wData2, text});
    std::free(props.pszText);
  }
  return out;
}

// Checks that each folder's records stand together, and turns each folder
// round, as a save and a new load do.
std::vector<Loaded> FoldersTurned(std::vector<Loaded> accounts) {
  std::set<DWORD> done;
  for (auto run = accounts.begin(); run != accounts.end();) {
    auto end = run;
    while (end != accounts.end() && end->folder == run->folder) ++end;
    FUZZ_CHECK(done.insert(run->folder).second);
    std::reverse(run, end);
    run = end;
  }
  return accounts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string& root = msgstore_fuzz::UseScratchRoot("email_accounts");
  std::error_code ec;
  std::filesystem::create_directories(root + "/DiskOnChip/User/MESSAGING", ec);
  FUZZ_CHECK(!ec);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(msgstore::email::kAccountDatabase, data, size);
  HANDLE store = nullptr;
  FUZZ_CHECK(EmailAccMsgStore_Open(&store) == 1);
  FUZZ_CHECK(store == &msgstore::email::AccountArray());
  const std::vector<Loaded> loaded = ReadBack();
  FUZZ_CHECK(size < 4 ? loaded.empty() : loaded.size() <= (size - 4) / kSmallestRecord);
  if (size >= 4) FUZZ_CHECK(loaded.size() <= msgstore_fuzz::LoadU32(data));

  // Saved and loaded again: the same accounts, each folder turned round.
  FUZZ_CHECK(EmailMsgStore_Close(store) == 1);
  FUZZ_CHECK(EmailAccMsgStore_Open(&store) == 1);
  FUZZ_CHECK(ReadBack() == FoldersTurned(loaded));
  return 0;
}
