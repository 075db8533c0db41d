// Everything a program needs to use the message store.
#ifndef MSGSTORE_MSGSTORE_H_
#define MSGSTORE_MSGSTORE_H_

#include "msgstore/types.h"
#include "msgstore/platform.h"
#include "msgstore/ems.h"
#include "msgstore/mms.h"
#include "msgstore/email.h"

#endif  // MSGSTORE_MSGSTORE_H_
