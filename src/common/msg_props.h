// Ownership helpers for the message record.
#ifndef MSGSTORE_COMMON_MSG_PROPS_H_
#define MSGSTORE_COMMON_MSG_PROPS_H_

#include "msgstore/types.h"

namespace msgstore {

// Frees the eight owned members (pData, pszText4, pszText3, pszText1,
// pszTo, pszSubject, pszMsgID, pszText2) and sets them to null.
void ReleaseMsgProps(tagMSGPROPS* props);

// Frees *member and stores value in its place.
void ReplaceString(WCHAR** member, WCHAR* value);

}  // namespace msgstore

#endif  // MSGSTORE_COMMON_MSG_PROPS_H_
