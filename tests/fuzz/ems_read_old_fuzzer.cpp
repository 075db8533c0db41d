// The reader of EMS message files in the old layout (no leading-part length,
// no pszText2), with and without content.
//
// A read that succeeds must give a record that the old writer turns back into
// exactly the bytes the reader consumed; pszText2, which the old layout does
// not hold, must stay as it was.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "msgstore/ems.h"

namespace {

WCHAR g_path[MAX_PATH];     // the input, as INBOX message 1
WCHAR g_rewrite[MAX_PATH];  // the record read, written again as INBOX message 2

const char16_t kKeep[] = u"kept";

WCHAR* KeptText2() {
  auto* text = static_cast<WCHAR*>(std::calloc(sizeof kKeep / sizeof kKeep[0], sizeof(WCHAR)));
  FUZZ_CHECK(text != nullptr);
  std::memcpy(text, kKeep, sizeof kKeep);
  return text;
}

void CheckText2Kept(const tagMSGPROPS& p, const WCHAR* kept) {
  FUZZ_CHECK(p.pszText2 == kept && msgstore_fuzz::Wide(p.pszText2) == kKeep);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("ems_read_old");
  FUZZ_CHECK(EMSMsgStore_CreateDir(false));
  FUZZ_CHECK(EMSMsgStore_GetFilePath(false, 1, EMS_FOLDER_INBOX, g_path));
  FUZZ_CHECK(EMSMsgStore_GetFilePath(false, 2, EMS_FOLDER_INBOX, g_rewrite));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutDeviceFile(g_path, data, size);

  tagMSGPROPS props = {};
  WCHAR* kept = KeptText2();
  props.pszText2 = kept;
  int withContent = EMSMsgStore_ReadFromFileOld(g_path, &props, true);
  if (size == 0) FUZZ_CHECK(withContent == 0);
  CheckText2Kept(props, kept);
  tagMSGPROPS first = props;  // only its numbers are looked at later
  std::u16string subject = msgstore_fuzz::Wide(props.pszSubject);
  std::u16string msgId = msgstore_fuzz::Wide(props.pszMsgID);
  if (withContent) {
    FUZZ_CHECK(props.pData != nullptr && props.pData[props.cbData] == 0);
    // The old writer leaves pszText2 out, so the record goes back as it is.
    FUZZ_CHECK(EMSMsgStore_WriteToFileOld(g_rewrite, &props) == 1);
    std::string rewritten;
    FUZZ_CHECK(msgstore_fuzz::GetHostFile(msgstore::HostPath(g_rewrite), &rewritten));
    FUZZ_CHECK(rewritten.size() <= size);
    FUZZ_CHECK(std::memcmp(rewritten.data(), data, rewritten.size()) == 0);
  }

  int withoutContent = EMSMsgStore_ReadFromFileOld(g_path, &props, false);
  if (withContent) FUZZ_CHECK(withoutContent == 1);
  CheckText2Kept(props, kept);
  if (withoutContent) {
    FUZZ_CHECK(props.cbData == 0 && props.pData == nullptr);
    if (withContent) {
      FUZZ_CHECK(msgstore_fuzz::Wide(props.pszSubject) == subject);
      FUZZ_CHECK(msgstore_fuzz::Wide(props.pszMsgID) == msgId);
      FUZZ_CHECK(props.dwOid == first.dwOid && props.dwFolder == first.dwFolder &&
                 props.dwUser3 == first.dwUser3 && props.wStatus == first.wStatus);
    }
  }
  EMSMsgStore_FreeMsgProps(&props);
  return 0;
}
