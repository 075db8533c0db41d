// The published description of the SMS/EMS store.
#include "ems/ems_description.h"

namespace msgstore {

const StoreDescription& SmsStore() { return ems::kStore; }

}  // namespace msgstore
