// The MMS message store.
#ifndef MSGSTORE_MMS_H_
#define MSGSTORE_MMS_H_

#include "msgstore/types.h"

// Folder identifiers.
#define MMS_FOLDER_INBOX 1
#define MMS_FOLDER_DRAFT 2
#define MMS_FOLDER_SENT 3
#define MMS_FOLDER_UNSENT 4
#define MMS_FOLDER_REPORT 5
#define MMS_FOLDER_SPAM 6
#define MMS_FOLDER_NONE 8
#define MMS_FOLDER_AUTODOWNLOAD 11

#define MMS_MAX_FOLDER_MESSAGES 100

#endif  // MSGSTORE_MMS_H_
