// The e-mail message store and account store.
#ifndef MSGSTORE_EMAIL_H_
#define MSGSTORE_EMAIL_H_

#include "msgstore/types.h"

// Folder identifiers.
#define EMAIL_FOLDER_INBOX 1
#define EMAIL_FOLDER_DRAFT 2
#define EMAIL_FOLDER_SENT 3
#define EMAIL_FOLDER_UNSENT 4
#define EMAIL_FOLDER_REPORT 5
#define EMAIL_FOLDER_SPAM 6
#define EMAIL_FOLDER_NONE 8

#endif  // MSGSTORE_EMAIL_H_
