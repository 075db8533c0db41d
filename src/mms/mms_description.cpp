// The published description of the MMS store.
#include "mms/mms_description.h"

namespace msgstore {

const StoreDescription& MmsStore() { return mms::kStore; }

}  // namespace msgstore
