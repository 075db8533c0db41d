// The published description of the e-mail store and its account store.
#include "email/email_description.h"

namespace msgstore {

const StoreDescription& EmailStore() { return email::kStore; }

const AccountStoreDescription& AccountStore() { return email::kAccountStore; }

}  // namespace msgstore
