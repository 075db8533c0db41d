// The simulated handset's settings, kept in ROOT/.platform/handset/state as
// "key=value" lines and shared by every process that uses the root. Readers
// take the file as it is (it is replaced whole by rename); changes are made
// under an flock on a lock file beside it.
#ifndef MSGSTORE_PLATFORM_HANDSET_STATE_H_
#define MSGSTORE_PLATFORM_HANDSET_STATE_H_

#include <functional>
#include <map>
#include <string>

namespace msgstore {
namespace platform {

using StateMap = std::map<std::string, std::string>;

StateMap ReadHandsetState();
// The value of key, or fallback when it is not set.
std::string HandsetValue(const std::string& key, const std::string& fallback);
// Runs change on the current settings while holding the state lock and
// stores what it leaves. False when the lock or the file cannot be had.
bool UpdateHandsetState(const std::function<void(StateMap&)>& change);
// Runs work while holding the state lock.
bool WithHandsetLock(const std::function<void()>& work);

}  // namespace platform
}  // namespace msgstore

#endif  // MSGSTORE_PLATFORM_HANDSET_STATE_H_
