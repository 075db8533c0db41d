// The notices the stores post to the handset's windows (the phone shell and
// the messaging application), and what each one says.
#ifndef MSGSTORE_NOTICES_H_
#define MSGSTORE_NOTICES_H_

#include <string>
#include <vector>

#include "msgstore/platform.h"

namespace msgstore {

// The window classes the stores post to, the shell's first.
MSGSTORE_API const std::vector<std::u16string>& NoticeWindows();

struct NoticeMeaning {
  std::string what;    // "inbox emptied", "e-mail spam event", "unknown message"
  std::string detail;  // "EMS", "phone memory, message 5 removed to make room"
};
MSGSTORE_API NoticeMeaning ExplainNotice(const WindowMessage& notice);

// An operation of the stores that posts a notice, the window it goes to and
// what ExplainNotice calls it.
struct NoticeSource {
  std::string operation;  // "emptying the SMS/EMS or MMS inbox, on either storage"
  std::u16string window;
  std::string notice;  // "inbox emptied"
};
// Every operation that posts a notice; no other operation posts any.
MSGSTORE_API const std::vector<NoticeSource>& NoticeSources();

}  // namespace msgstore

#endif  // MSGSTORE_NOTICES_H_
