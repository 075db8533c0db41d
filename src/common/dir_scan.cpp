// Enumerating and deleting the message files of a folder directory.
#include "common/dir_scan.h"

#include <vector>

#include "common/msg_str.h"
#include "msgstore/platform.h"
#include "platform/find_names.h"
#include "platform/path_state.h"

namespace msgstore {
size_t ScanDir(const std::u16string& dir, const std::u16string& pattern,
               const std::function<bool(const WCHAR* name)>& visit, bool* unread) {
  // The names that a find reports, without the look at each file that the
  // find makes for its sizes and times.
  return platform::ForEachFoundName(JoinPath(dir, pattern).c_str(), visit, unread);
}

namespace {
thread_local unsigned long unreadListings = 0;
thread_local unsigned long deletions = 0;
}  // namespace

unsigned long DeletedByThisThread() { return deletions; }

unsigned long ListingFailures() { return unreadListings; }

DWORD ListDir(const std::u16string& dir, const std::u16string& pattern, BYTE memoryCard,
              BYTE folderMark, CArray<tagOidArray, tagOidArray>& list, bool afterUnderscore) {
  DWORD appended = 0;
  bool unread = false;
  ScanDir(
      dir, pattern,
      [&](const WCHAR* name) {
        tagOidArray entry{};
        entry.bMemoryCard = memoryCard;
        entry.byFolder = folderMark;
        const WCHAR* start = name;
        if (afterUnderscore) {
          for (const WCHAR* p = name; *p != 0; ++p)
            if (*p == u'_') start = p + 1;
        }
        entry.dwOid = LeadingNumber(start);
        list.Add(entry);
        ++appended;
        return true;
      },
      &unread);
  if (unread) ++unreadListings;
  return appended;
}

bool NameAtPosition(const std::u16string& dir, const std::u16string& pattern, int position,
                    std::u16string* name) {
  int index = 0;
  return ScanDir(dir, pattern, [&](const WCHAR* found) {
           *name = found;
           return index++ != position;
         }) != 0;
}

bool DeleteMatching(const std::u16string& dir, const std::u16string& pattern) {
  // Names are gathered first so that deleting does not disturb the search.
  std::vector<std::u16string> names;
  bool unread = false;
  ScanDir(
      dir, pattern,
      [&](const WCHAR* name) {
        names.emplace_back(name);
        return true;
      },
      &unread);
  // A folder that could not be read is not known to be emptied.
  bool all = !unread;
  for (const std::u16string& name : names) {
    const std::u16string path = JoinPath(dir, name);
    if (DeleteFileW(path.c_str()))
      ++deletions;
    else if (!platform::IsMissing(path.c_str()))
      all = false;
  }
  return all;
}

}  // namespace msgstore
