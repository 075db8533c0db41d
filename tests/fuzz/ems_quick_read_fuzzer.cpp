// The quick reader of EMS message files, as the message list uses it: by
// storage, folder and identifier, filling what a list shows and leaving the
// tail of the record alone.
//
// It must agree with the full reader on every field it fills, succeed where
// the full reader does, never touch wUser1, wUser2, dwUser3, cbData and
// pData, and leave the folder index alone when the file is there.
#include <cstdlib>
#include <vector>

#include "common/index_file.h"
#include "ems/ems_internal.h"
#include "fuzz_support.h"
#include "msgstore/ems.h"

namespace {

constexpr DWORD kOid = 1;
WCHAR g_path[MAX_PATH];
WCHAR g_index[MAX_PATH];
constexpr FILETIME kIndexTime = {0x01020304, 0x01D00000};

bool SameFilled(const tagMSGPROPS& a, const tagMSGPROPS& b) {
  using msgstore_fuzz::Wide;
  return a.dwOid == b.dwOid && a.bRead == b.bRead && a.wStatus == b.wStatus &&
         a.ftIndexTime.dwLowDateTime == b.ftIndexTime.dwLowDateTime &&
         a.ftIndexTime.dwHighDateTime == b.ftIndexTime.dwHighDateTime && a.dwFolder == b.dwFolder &&
         Wide(a.pszSubject) == Wide(b.pszSubject) && Wide(a.pszText2) == Wide(b.pszText2) &&
         Wide(a.pszText1) == Wide(b.pszText1) && Wide(a.pszTo) == Wide(b.pszTo) &&
         Wide(a.pszText3) == Wide(b.pszText3) && Wide(a.pszText4) == Wide(b.pszText4) &&
         a.ftTime.dwLowDateTime == b.ftTime.dwLowDateTime &&
         a.ftTime.dwHighDateTime == b.ftTime.dwHighDateTime && a.dwUser1 == b.dwUser1 &&
         a.dwUser2 == b.dwUser2 && Wide(a.pszMsgID) == Wide(b.pszMsgID);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("ems_quick_read");
  FUZZ_CHECK(EMSMsgStore_CreateDir(false));
  FUZZ_CHECK(EMSMsgStore_GetFilePath(false, kOid, EMS_FOLDER_INBOX, g_path));
  FUZZ_CHECK(msgstore::ems::IndexPath(EMS_FOLDER_INBOX, g_index));
  // The message is listed, as it is when the list asks for a quick read.
  EMSMsgStore_AddMsgToIni(kOid, EMS_FOLDER_INBOX, kIndexTime);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);

  // A record whose tail holds values the quick read must not touch.
  tagMSGPROPS quick = {};
  quick.wUser1 = 0xA55A;
  quick.wUser2 = 0x5AA5;
  quick.dwUser3 = 0xC0FFEE01;
  quick.cbData = 3;
  quick.pData = static_cast<BYTE*>(std::calloc(4, 1));
  BYTE* content = quick.pData;
  int quickRead = EMSMsgStore_QuickReadFromFile(false, EMS_FOLDER_INBOX, kOid, &quick);
  FUZZ_CHECK(quick.wUser1 == 0xA55A && quick.wUser2 == 0x5AA5 && quick.dwUser3 == 0xC0FFEE01 &&
             quick.cbData == 3 && quick.pData == content);
  if (size <= 32) FUZZ_CHECK(quickRead == 0);

  tagMSGPROPS full = {};
  int fullRead = EMSMsgStore_ReadFromFile(g_path, &full, false);
  if (fullRead) FUZZ_CHECK(quickRead == 1 && SameFilled(quick, full));

  // The file is there, however bad: its index record stays.
  std::vector<msgstore::IndexRecord> records;
  FUZZ_CHECK(msgstore::ReadIndex(g_index, &records));
  FUZZ_CHECK(records.size() == 1 && records[0].oid == kOid &&
             records[0].folder == EMS_FOLDER_INBOX);

  EMSMsgStore_FreeMsgProps(&quick);
  EMSMsgStore_FreeMsgProps(&full);
  return 0;
}
