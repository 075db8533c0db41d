// The quick reader of MMS message files, as listings and the choice of the
// oldest message use it: by storage, folder and identifier, filling what a
// list shows and leaving the rest of the record alone.
//
// It must succeed where the full reader does and agree with it on every
// member it fills, reporting the header's wMmsQuick1 in wUser2 and
// wMmsQuick2 in wUser1; it must never touch cbData, pData, ftTime, dwUser1,
// dwUser2, pszMsgID and dwUser3, nor wUser1 and wUser2 when it fails. While
// the file is there, however bad, its index record stays; a listed message
// whose file has gone loses its record in phone memory only (checked once,
// at start-up).
#include <vector>

#include "common/index_file.h"
#include "fuzz_support.h"
#include "mms/mms_internal.h"
#include "msgstore/mms.h"
#include "store_checks.h"

namespace {

constexpr DWORD kOid = 1;
constexpr DWORD kGone = 2;
WCHAR g_path[MAX_PATH];
WCHAR g_index[MAX_PATH];

// The identifiers the INBOX index lists, in order.
std::vector<DWORD> Listed() {
  std::vector<msgstore::IndexRecord> records;
  std::vector<DWORD> oids;
  if (msgstore::ReadIndex(g_index, &records))
    for (const msgstore::IndexRecord& r : records) oids.push_back(r.oid);
  return oids;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("mms_quick_read");
  FUZZ_CHECK(MMSMsgStore_CreateDir(false));
  FUZZ_CHECK(MMSMsgStore_GetFilePath(false, kOid, MMS_FOLDER_INBOX, g_path));
  FUZZ_CHECK(msgstore::mms::IndexPath(MMS_FOLDER_INBOX, g_index));
  // The message is listed, as it is when a listing asks for a quick read;
  // so is one whose file has gone.
  MMSMsgStore_AddMsgToIni(kOid, MMS_FOLDER_INBOX, {2, 2});
  MMSMsgStore_AddMsgToIni(kGone, MMS_FOLDER_INBOX, {1, 1});
  tagMSGPROPS props = {};
  FUZZ_CHECK(MMSMsgStore_QuickReadFromFile(true, MMS_FOLDER_INBOX, kGone, &props) == 0);
  FUZZ_CHECK((Listed() == std::vector<DWORD>{kOid, kGone}));
  FUZZ_CHECK(MMSMsgStore_QuickReadFromFile(false, MMS_FOLDER_INBOX, kGone, &props) == 0);
  FUZZ_CHECK(Listed() == std::vector<DWORD>{kOid});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);

  tagMSGPROPS quick;
  msgstore_fuzz::Mark(&quick);
  const tagMSGPROPS mark = quick;  // only compared with, never released
  const int read = MMSMsgStore_QuickReadFromFile(false, MMS_FOLDER_INBOX, kOid, &quick);
  if (size < 46) FUZZ_CHECK(read == 0);  // the smallest quick part
  FUZZ_CHECK(quick.cbData == mark.cbData && quick.pData == mark.pData &&
             msgstore_fuzz::SameTime(quick.ftTime, mark.ftTime) && quick.dwUser1 == mark.dwUser1 &&
             quick.dwUser2 == mark.dwUser2 && quick.pszMsgID == mark.pszMsgID &&
             quick.dwUser3 == mark.dwUser3);
  if (read == 0) FUZZ_CHECK(quick.wUser1 == mark.wUser1 && quick.wUser2 == mark.wUser2);

  tagMSGPROPS full = {};
  tagMMSMSGPROPS mms = {};
  if (MMSMsgStore_ReadFromFile(g_path, &full, &mms, true)) {
    using msgstore_fuzz::Wide;
    FUZZ_CHECK(read == 1 && msgstore_fuzz::SameHead(quick, full));
    FUZZ_CHECK(
        Wide(quick.pszText1) == Wide(full.pszText1) && Wide(quick.pszTo) == Wide(full.pszTo) &&
        Wide(quick.pszText3) == Wide(full.pszText3) && Wide(quick.pszText4) == Wide(full.pszText4));
    FUZZ_CHECK(quick.wUser2 == mms.wMmsQuick1 && quick.wUser1 == mms.wMmsQuick2);
  }
  FUZZ_CHECK(Listed() == std::vector<DWORD>{kOid});

  MMSMsgStore_FreeMsgProps(&quick, nullptr);
  MMSMsgStore_FreeMsgProps(&full, &mms);
  return 0;
}
