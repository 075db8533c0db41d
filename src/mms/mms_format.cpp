// MMS message files: the current layout under "MUTEX_MMS_READWRITETILE"
// (read whole, or without the body: only the first header-length bytes), the
// quick read that repairs the phone index, and the old layout, which takes no
// lock.
//
// Readers parse only the bytes read. A field that runs past them fails the
// read; what was assigned before stays owned by the records and is released
// with MMSMsgStore_FreeMsgProps.
#include <cstdlib>
#include <vector>

#include "common/field_codec.h"
#include "common/layout.h"
#include "common/msg_props.h"
#include "common/named_lock.h"
#include "common/replace_file.h"
#include "common/whole_file.h"
#include "mms/mms_internal.h"
#include "platform/path_state.h"

namespace {

using msgstore::Layout;
using msgstore::ReadExtent;
using msgstore::ReadResult;

#define MMS_FIELD(member) STORE_FIELD(tagMMSMSGPROPS, member)

// Current layout. Placeholder 0, the quick length, is the offset just past
// pszText2; placeholder 1, the header length, the offset of cbData. The quick
// read stops after pszText4.
constexpr auto kCurrent = msgstore::Join(
    msgstore::Run(msgstore::Offset(0), msgstore::Offset(1)), msgstore::kHeader,
    msgstore::Run(MMS_FIELD(wMmsQuick1), MMS_FIELD(wMmsQuick2)), msgstore::kLeadStrings,
    msgstore::Run(msgstore::PatchHere(0)), msgstore::kBodyStrings,
    msgstore::Run(msgstore::QuickEnd()), msgstore::kTail, msgstore::kUserWords,
    msgstore::Run(MMS_FIELD(wMmsValue1), MMS_FIELD(pszMmsText), MMS_FIELD(dwMmsValue1),
                  MMS_FIELD(wMmsValue2), MMS_FIELD(dwMmsValue2), MMS_FIELD(wMmsValue3),
                  msgstore::PatchHere(1), msgstore::Content()));

// Old layout: one header word (the header length), the shared record in its
// memory order, every MMS field in the tail.
constexpr auto kOld = msgstore::Join(
    msgstore::Run(msgstore::Offset(0)), msgstore::kMemoryOrder,
    msgstore::Run(MMS_FIELD(wMmsValue1), MMS_FIELD(pszMmsText), MMS_FIELD(dwMmsValue1),
                  MMS_FIELD(wMmsValue2), MMS_FIELD(wMmsQuick1), MMS_FIELD(dwMmsValue2),
                  MMS_FIELD(wMmsValue3), MMS_FIELD(wMmsQuick2), msgstore::PatchHere(0),
                  msgstore::Content()));

constexpr Layout kCurrentLayout = msgstore::MakeLayout(kCurrent);
constexpr Layout kOldLayout = msgstore::MakeLayout(kOld);

// Where each layout keeps its header length.
constexpr DWORD kCurrentHeaderLengthAt = 4;
constexpr DWORD kOldHeaderLengthAt = 0;

// With the body the whole file is read; without it, only its header. The
// body is taken where the header length points, not where the fields end:
// the two differ only in a file whose header holds more (or less) than the
// layout knows.
int ReadFile(const WCHAR* path, const Layout& layout, DWORD headerLengthAt, bool withBody,
             tagMSGPROPS* props, tagMMSMSGPROPS* mms) {
  std::vector<uint8_t> file;
  const ReadResult read = withBody ? msgstore::ReadWholeFile(path, 0, &file)
                                   : msgstore::ReadFileHead(path, headerLengthAt, 0, &file);
  if (read != ReadResult::kOk) return 0;
  if (!msgstore::ReadLayoutImage(file, layout, ReadExtent::kWithoutBody, props, mms)) return 0;
  if (!withBody) return 1;
  // The fields were read, so the header length itself is within the file.
  msgstore::FieldReader body(file.data(), file.size());
  return body.Skip(msgstore::DecodeU32(&file[headerLengthAt])) &&
                 body.Content(&props->cbData, &props->pData)
             ? 1
             : 0;
}

// Callers that have no MMS record to give write an empty one, and read
// into one that is dropped.
const tagMMSMSGPROPS& OrEmpty(const tagMMSMSGPROPS* mms) {
  static const tagMMSMSGPROPS kEmpty = {};
  return mms != nullptr ? *mms : kEmpty;
}

class ScratchOr {
 public:
  explicit ScratchOr(tagMMSMSGPROPS* mms) : target_(mms != nullptr ? mms : &scratch_) {}
  ~ScratchOr() { msgstore::ReplaceString(&scratch_.pszMmsText, nullptr); }
  tagMMSMSGPROPS* get() { return target_; }

 private:
  tagMMSMSGPROPS scratch_ = {};
  tagMMSMSGPROPS* target_;
};

}  // namespace

void MMSMsgStore_FreeMsgProps(tagMSGPROPS* props, tagMMSMSGPROPS* mms) {
  msgstore::ReleaseMsgProps(props);
  if (mms != nullptr) msgstore::ReplaceString(&mms->pszMmsText, nullptr);
}

int MMSMsgStore_WriteToFile(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::mms::kStore.fileMutex, msgstore::mms::kStore.yields);
  return msgstore::WriteLayoutFile(path, kCurrentLayout, *props, &OrEmpty(mms));
}

int MMSMsgStore_ReadFromFile(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms, bool withBody) {
  if (props == nullptr) return 0;
  msgstore::NamedLock lock(msgstore::mms::kStore.fileMutex, msgstore::mms::kStore.yields);
  ScratchOr target(mms);
  return ReadFile(path, kCurrentLayout, kCurrentHeaderLengthAt, withBody, props, target.get());
}

int MMSMsgStore_QuickReadFromFile(bool storage, DWORD folder, DWORD messageId, tagMSGPROPS* props) {
  if (props == nullptr) return 0;
  WCHAR path[MAX_PATH];
  if (!MMSMsgStore_GetFilePath(storage, messageId, folder, path)) return 0;
  std::vector<uint8_t> file;
  const ReadResult read = msgstore::ReadWholeFile(path, 0, &file);
  if (read == ReadResult::kOpenFailed && !storage && msgstore::platform::IsMissing(path)) {
    // The index still lists a file that has gone: drop its record.
    MMSMsgStore_DeleteMsgFromIni(messageId, folder);
  }
  if (read != ReadResult::kOk) return 0;
  // The two quick values of the MMS header are reported crosswise in the
  // shared record's wUser2 and wUser1; the rest of it stays as it was.
  tagMMSMSGPROPS quick = {};
  const bool ok =
      msgstore::ReadLayoutImage(file, kCurrentLayout, ReadExtent::kQuick, props, &quick);
  if (ok) {
    props->wUser2 = quick.wMmsQuick1;
    props->wUser1 = quick.wMmsQuick2;
  }
  return ok ? 1 : 0;
}

int MMSMsgStore_WriteToFileOld(WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms) {
  if (props == nullptr) return 0;
  return msgstore::WriteLayoutFile(path, kOldLayout, *props, &OrEmpty(mms));
}

int MMSMsgStore_ReadFromFileOld(const WCHAR* path, tagMSGPROPS* props, tagMMSMSGPROPS* mms,
                                bool withBody) {
  if (props == nullptr) return 0;
  ScratchOr target(mms);
  return ReadFile(path, kOldLayout, kOldHeaderLengthAt, withBody, props, target.get());
}
