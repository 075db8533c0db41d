// The full reader of EMS message files in the current layout, with and
// without content, on whatever bytes a ".sms" file may hold.
//
// Beyond not crashing, a read that succeeds must give a record that the
// writer turns back into the bytes it was read from (up to where the reader
// stopped; only the leading-part length is recomputed), and the read without
// content must agree with it on everything but the content.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "msgstore/ems.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as INBOX message 1
WCHAR g_rewrite[MAX_PATH];  // the record read, written again as INBOX message 2

struct Strings {
  std::u16string subject, text2, text1, to, text3, text4, msgId;
};

Strings StringsOf(const tagMSGPROPS& p) {
  using msgstore_fuzz::Wide;
  return {Wide(p.pszSubject), Wide(p.pszText2), Wide(p.pszText1), Wide(p.pszTo),
          Wide(p.pszText3),   Wide(p.pszText4), Wide(p.pszMsgID)};
}

bool operator==(const Strings& a, const Strings& b) {
  return a.subject == b.subject && a.text2 == b.text2 && a.text1 == b.text1 && a.to == b.to &&
         a.text3 == b.text3 && a.text4 == b.text4 && a.msgId == b.msgId;
}

// Readers hand back an empty string as a null pointer.
void CheckNoEmptyStrings(const tagMSGPROPS& p) {
  for (const WCHAR* s :
       {p.pszSubject, p.pszText2, p.pszText1, p.pszTo, p.pszText3, p.pszText4, p.pszMsgID})
    FUZZ_CHECK(s == nullptr || s[0] != 0);
}

bool SameHeader(const tagMSGPROPS& a, const tagMSGPROPS& b) {
  return a.dwOid == b.dwOid && a.bRead == b.bRead && a.wStatus == b.wStatus &&
         a.ftIndexTime.dwLowDateTime == b.ftIndexTime.dwLowDateTime &&
         a.ftIndexTime.dwHighDateTime == b.ftIndexTime.dwHighDateTime && a.dwFolder == b.dwFolder &&
         a.ftTime.dwLowDateTime == b.ftTime.dwLowDateTime &&
         a.ftTime.dwHighDateTime == b.ftTime.dwHighDateTime && a.dwUser1 == b.dwUser1 &&
         a.dwUser2 == b.dwUser2 && a.wUser1 == b.wUser1 && a.wUser2 == b.wUser2 &&
         a.dwUser3 == b.dwUser3;
}

void CheckRewrite(tagMSGPROPS* read, const uint8_t* data, size_t size) {
  FUZZ_CHECK(EMSMsgStore_WriteToFile(g_rewrite, read) == 1);
  std::string rewritten;
  FUZZ_CHECK(msgstore_fuzz::GetHostFile(msgstore::HostPath(g_rewrite), &rewritten));
  FUZZ_CHECK(rewritten.size() >= 68 && rewritten.size() <= size);
  FUZZ_CHECK(std::memcmp(rewritten.data() + 4, data + 4, rewritten.size() - 4) == 0);
  // The leading-part length is where pszText1 starts.
  size_t text1 = 26 + 2 * (msgstore_fuzz::Wide(read->pszSubject).size() + 1) +
                 2 * (msgstore_fuzz::Wide(read->pszText2).size() + 1);
  FUZZ_CHECK(msgstore_fuzz::LoadU32(reinterpret_cast<const uint8_t*>(rewritten.data())) == text1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("ems_read");
  FUZZ_CHECK(EMSMsgStore_CreateDir(false));
  FUZZ_CHECK(EMSMsgStore_GetFilePath(false, 1, EMS_FOLDER_INBOX, g_path));
  FUZZ_CHECK(EMSMsgStore_GetFilePath(false, 2, EMS_FOLDER_INBOX, g_rewrite));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);

  tagMSGPROPS full = {};
  int withContent = EMSMsgStore_ReadFromFile(g_path, &full, true);
  if (size <= 32) FUZZ_CHECK(withContent == 0);
  Strings fullStrings;
  if (withContent) {
    CheckNoEmptyStrings(full);
    // The content block is cbData + 1 bytes, the last one zero.
    FUZZ_CHECK(full.pData != nullptr && full.pData[full.cbData] == 0);
    fullStrings = StringsOf(full);
    CheckRewrite(&full, data, size);
  }

  // Read again into the same record: the old strings and content must be
  // released (LeakSanitizer sees to that) and replaced.
  tagMSGPROPS before = full;  // only its numbers are looked at later
  int withoutContent = EMSMsgStore_ReadFromFile(g_path, &full, false);
  if (withContent) FUZZ_CHECK(withoutContent == 1);
  if (size <= 32) FUZZ_CHECK(withoutContent == 0);
  if (withoutContent) {
    CheckNoEmptyStrings(full);
    FUZZ_CHECK(full.cbData == 0 && full.pData == nullptr);
    if (withContent) {
      FUZZ_CHECK(StringsOf(full) == fullStrings);
      FUZZ_CHECK(SameHeader(before, full));
    }
  }
  EMSMsgStore_FreeMsgProps(&full);
  return 0;
}
