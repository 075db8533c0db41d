// Enumerating the message files of a folder directory.
#ifndef MSGSTORE_COMMON_DIR_SCAN_H_
#define MSGSTORE_COMMON_DIR_SCAN_H_

#include <functional>
#include <string>

#include "msgstore/types.h"

namespace msgstore {

// Calls visit with each file name matching pattern (e.g. u"*.sms") in dir, in
// the file system's order, until visit returns false. Returns the number of
// names visited (0 when nothing matches or the directory is missing).
size_t ScanDir(const std::u16string& dir, const std::u16string& pattern,
               const std::function<bool(const WCHAR* name)>& visit, bool* unread = nullptr);

// How many listings (ListDir) of this thread met a folder that is there but
// could not be read whole: what was listed is then not the whole folder.
unsigned long ListingFailures();

// Appends an entry per matching file and returns the number appended. The
// identifier is the number at the start of the name, or with afterUnderscore
// the number after its last '_' (from the start when there is none).
DWORD ListDir(const std::u16string& dir, const std::u16string& pattern, BYTE memoryCard,
              BYTE folderMark, CArray<tagOidArray, tagOidArray>& list,
              bool afterUnderscore = false);

// The name at position in the enumeration of matching files, counting from
// 0; a position past the end, or a negative one, gives the last name. False
// when nothing matches.
bool NameAtPosition(const std::u16string& dir, const std::u16string& pattern, int position,
                    std::u16string* name);

// Deletes every matching file, going on past failures. False when a file
// could not be deleted and is still there.
bool DeleteMatching(const std::u16string& dir, const std::u16string& pattern);
// How many files DeleteMatching has deleted on this thread: a caller that
// reports what an emptying did compares the count before and after.
unsigned long DeletedByThisThread();

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_DIR_SCAN_H_
