// The new message the write benchmarks store: 160 bytes of content with a
// recipient and a subject, into the phone DRAFT folder of one store, its time
// one minute after the previous one's.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "msgstore/msgstore.h"

namespace bench {

enum Store { kSms, kMms, kEmail };

// Stores message i; its new identifier, 0 when the store refused or failed.
inline DWORD WriteDraft(Store store, int i) {
  static WCHAR to[] = u"+4912345678";
  static WCHAR subject[] = u"Meeting moved to Thursday";
  static std::vector<BYTE> content(160, 'x');
  tagMSGPROPS props;
  std::memset(&props, 0, sizeof props);
  props.dwFolder = 2;  // DRAFT in every store
  props.pszTo = to;
  props.pszSubject = subject;
  props.cbData = static_cast<DWORD>(content.size());
  props.pData = content.data();
  const uint64_t t = 133000000000000000ULL + static_cast<uint64_t>(i) * 600000000ULL;
  props.ftIndexTime = {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
  props.ftTime = props.ftIndexTime;
  if (store == kSms) return EMSMsgStore_WriteMessage(false, &props, 0, nullptr);
  if (store == kMms) {
    tagMMSMSGPROPS mms = {};
    return MMSMsgStore_WriteMessage(false, &props, &mms, 0, nullptr);
  }
  tagEMAILMSGPROPS email = {};
  return EmailMsgStore_WriteMessage(false, &props, &email, 0, nullptr);
}

}  // namespace bench
