// EMS message files: the current layout under "MUTEX_READWRITETILE", the
// quick read that repairs the phone index, and the old layout without
// pszText2, which takes no lock.
//
// Readers parse only the bytes read. A string, cbData or content that runs
// past the end of the file fails the read; what was assigned before stays
// owned by the record and is released with EMSMsgStore_FreeMsgProps.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "common/field_codec.h"
#include "common/layout.h"
#include "common/msg_file.h"
#include "common/msg_props.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/scoped.h"
#include "common/whole_file.h"
#include "ems/ems_internal.h"
#include "msgstore/platform.h"
#include "platform/path_state.h"

namespace {

using msgstore::Layout;
using msgstore::ReadExtent;

// Current readers reject files of this many bytes or fewer.
constexpr DWORD kMinCurrentFile = 32;
// The old reader accepts any file that is not empty.
constexpr DWORD kMinOldFile = 0;

// Current layout: the leading-part length (the offset of pszText1), header,
// strings, tail and content. The quick read stops after pszMsgID.
constexpr auto kCurrent = msgstore::Join(
    msgstore::Run(msgstore::Offset(0)), msgstore::kHeader, msgstore::kLeadStrings,
    msgstore::Run(msgstore::PatchHere(0)), msgstore::kBodyStrings, msgstore::kTail,
    msgstore::Run(msgstore::QuickEnd()), msgstore::kUserWords, msgstore::Run(msgstore::Content()));

// Old layout: the record in its memory order and the content.
constexpr auto kOld = msgstore::Join(msgstore::kMemoryOrder, msgstore::Run(msgstore::Content()));

constexpr Layout kCurrentLayout = msgstore::MakeLayout(kCurrent);
constexpr Layout kOldLayout = msgstore::MakeLayout(kOld);

int ReadFile(WCHAR* path, DWORD minSize, const Layout& layout, ReadExtent extent,
             tagMSGPROPS* props) {
  std::vector<uint8_t> file;
  if (msgstore::ReadWholeFile(path, minSize, &file) != msgstore::ReadResult::kOk) return 0;
  return msgstore::ReadLayoutImage(file, layout, extent, props, nullptr) ? 1 : 0;
}

}  // namespace

void EMSMsgStore_FreeMsgProps(tagMSGPROPS* props) {
  if (props != nullptr) msgstore::ReleaseMsgProps(props);
}

int EMSMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::ems::kStore.fileMutex, msgstore::ems::kStore.yields);
  return msgstore::WriteLayoutFile(path, kCurrentLayout, *props, nullptr);
}

int EMSMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* props, bool bWithContent) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::ems::kStore.fileMutex, msgstore::ems::kStore.yields);
  return ReadFile(path, kMinCurrentFile, kCurrentLayout, msgstore::BodyExtent(bWithContent), props);
}

int EMSMsgStore_QuickReadFromFile(bool bMemoryCard, DWORD folder, DWORD oid, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  WCHAR path[MAX_PATH];
  if (!EMSMsgStore_GetFilePath(bMemoryCard, oid, folder, path)) return 0;
  std::vector<uint8_t> file;
  msgstore::ReadResult read = msgstore::ReadWholeFile(path, kMinCurrentFile, &file);
  if (read == msgstore::ReadResult::kOpenFailed && !bMemoryCard &&
      msgstore::platform::IsMissing(path)) {
    // The index still lists a file that has gone: drop its record.
    EMSMsgStore_DeleteMsgFromIni(oid, folder);
  }
  if (read != msgstore::ReadResult::kOk) return 0;
  return msgstore::ReadLayoutImage(file, kCurrentLayout, ReadExtent::kQuick, props, nullptr) ? 1
                                                                                             : 0;
}

int EMSMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  return msgstore::WriteLayoutFile(path, kOldLayout, *props, nullptr);
}

int EMSMsgStore_ReadFromFileOld(WCHAR* path, tagMSGPROPS* props, bool bWithContent) {
  if (props == nullptr) return 0;
  return ReadFile(path, kMinOldFile, kOldLayout, msgstore::BodyExtent(bWithContent), props);
}
