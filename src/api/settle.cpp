// Settling the MMS automatic download folder through the store's unread
// count, and saying what it did by the messages before and after.
#include <map>
#include <utility>

#include "msgstore/maintenance.h"
#include "msgstore/msgstore.h"

namespace msgstore {

SettleReport SettleDownloads(Device& device) {
  Store& store = device.mms();
  struct Seen {
    Location at;
    WORD status = 0;
    bool text1 = false;
  };
  // By storage and identifier: a phone and a card message may share one.
  using Key = std::pair<bool, DWORD>;
  auto snapshot = [&] {
    std::map<Key, Seen> seen;
    for (const Location& at : store.List().messages) {
      const ReadResult read = store.Read(at, false);
      seen[{at.card, at.id}] = {at, read ? read.record.status : WORD{0},
                                read && !read.record.text1.empty()};
    }
    return seen;
  };
  const std::map<Key, Seen> before = snapshot();
  SettleReport report;
  report.unread = GetMMSInboxUnreadMsgsCount();
  const std::map<Key, Seen> after = snapshot();
  for (const auto& [key, was] : before) {
    const auto now = after.find(key);
    if (now == after.end())
      (was.text1 && was.at.folder == MMS_FOLDER_AUTODOWNLOAD ? report.movedFrom : report.deleted)
          .push_back(was.at);
    else if (now->second.at == was.at && now->second.status != was.status)
      report.statusSet.push_back(was.at);
  }
  for (const auto& [key, now] : after)
    if (before.count(key) == 0) report.movedTo.push_back(now.at);
  return report;
}

}  // namespace msgstore
