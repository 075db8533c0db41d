// Ownership helpers for the message record.
#include "common/msg_props.h"

#include <cstdlib>

namespace msgstore {
namespace {

template <class T>
void FreeMember(T** member) {
  if (*member != nullptr) {
    std::free(*member);
    *member = nullptr;
  }
}

}  // namespace

void ReleaseMsgProps(tagMSGPROPS* props) {
  if (props == nullptr) return;
  FreeMember(&props->pData);
  FreeMember(&props->pszText4);
  FreeMember(&props->pszText3);
  FreeMember(&props->pszText1);
  FreeMember(&props->pszTo);
  FreeMember(&props->pszSubject);
  FreeMember(&props->pszMsgID);
  FreeMember(&props->pszText2);
}

void ReplaceString(WCHAR** member, WCHAR* value) {
  if (member == nullptr) return;
  if (*member != value) std::free(*member);
  *member = value;
}

}  // namespace msgstore
