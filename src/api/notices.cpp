// What the notices the stores post say: the phone shell hears of an emptied
// SMS or MMS inbox, the messaging application of each e-mail folder's events.
#include "msgstore/notices.h"

#include "common/msg_str.h"
#include "common/store_ops.h"
#include "msgstore/stores.h"

namespace msgstore {

const std::vector<std::u16string>& NoticeWindows() {
  static const std::vector<std::u16string> kWindows = {kShellWindow, kMessageAppWindow};
  return kWindows;
}

const std::vector<NoticeSource>& NoticeSources() {
  static const std::vector<NoticeSource> kSources = {
      {"emptying the SMS/EMS or MMS inbox, on either storage", kShellWindow, "inbox emptied"},
      {"writing an e-mail message into a full folder, when the store removes the folder's oldest "
       "message to make room",
       kMessageAppWindow, "e-mail <folder> event"},
  };
  return kSources;
}

NoticeMeaning ExplainNotice(const WindowMessage& notice) {
  if (notice.msg == kInboxEmptiedNotice)
    return {"inbox emptied", notice.lParam == kEmsNoticeMark   ? "EMS"
                             : notice.lParam == kMmsNoticeMark ? "MMS"
                                                               : "unknown store"};
  for (const FolderDescription& f : EmailStore()) {
    if (FolderEventMessage(f.number) != notice.msg) continue;
    const unsigned long l = static_cast<unsigned long>(notice.lParam) & 0xFFFFFFFFul;
    const unsigned storage = l & 0xFFFF, event = (l >> 16) & 0xFF;
    std::string detail = storage == 0   ? "phone memory"
                         : storage == 1 ? "memory card"
                                        : "storage " + std::to_string(storage);
    detail += event == kEvictionEvent
                  ? ", message " + std::to_string(notice.wParam) + " removed to make room"
                  : ", event " + std::to_string(event);
    return {std::string("e-mail ") + f.name + " event", detail};
  }
  return {"unknown message", ""};
}

}  // namespace msgstore
