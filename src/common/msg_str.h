// Wide string helpers, path building and the notice to the messaging
// application.
#ifndef MSGSTORE_COMMON_MSG_STR_H_
#define MSGSTORE_COMMON_MSG_STR_H_

#include <string>

#include "msgstore/types.h"

namespace msgstore {

// Length in code units up to the terminator; 0 for null.
size_t WStrLen(const WCHAR* s);

// A calloc'd copy of source, or null for a null or empty source.
WCHAR* MsgStr_Duplicate(const WCHAR* source);

// Zero-fills the MAX_PATH buffer out and copies s into it (cut to fit).
void CopyPath(WCHAR* out, const std::u16string& s);

// The decimal form of value read as a signed 32-bit number ("%d").
std::u16string DecimalU16(DWORD value);

// "%s\%s"
std::u16string JoinPath(const std::u16string& dir, const std::u16string& name);

// The number at the start of a name, read as _wtol reads it: optional
// blanks, an optional sign, decimal digits; 0 when there are none. The
// result wraps to 32 bits.
DWORD LeadingNumber(const WCHAR* name);

// The messaging application's window, which receives the e-mail folder
// events: message FolderEventMessage(folder), wParam the message identifier,
// lParam the storage (low 16 bits), the event (next 8) and 3 (top 8).
constexpr const WCHAR* kMessageAppWindow = u"WCE_CVMESSAGEEXEC";
// The message number of an e-mail folder's events; 0 for a folder without.
UINT FolderEventMessage(DWORD folder);
constexpr DWORD kEvictionEvent = 3;  // the message of wParam was deleted to make room

// Posts the e-mail folder event to kMessageAppWindow. Returns what
// PostMessageW returned, 0 when nothing was posted.
int NotifyMessageApp(DWORD folder, DWORD messageId, DWORD storage, DWORD eventCode);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_MSG_STR_H_
