// The device as the tool's commands see it: the global options, the device
// they open, and what the commands need of a store through the library's
// descriptions and API: store and folder names, storages, numbers and
// accounts given on the command line, and failing on a result in one line.
#ifndef MSGSTORE_TOOL_STORE_H_
#define MSGSTORE_TOOL_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "msgstore/device.h"
#include "msgstore/stores.h"

namespace tool {

using msgstore::FolderDescription;
using msgstore::Location;
using msgstore::Record;
using msgstore::StoreDescription;
using msgstore::Stores;  // in the order of the commands' help

struct Context {
  std::string root;
  bool card = false;
  bool json = false;
  std::unique_ptr<msgstore::Device> device;
  msgstore::Store& store(const StoreDescription& s) { return device->store(s.kind); }
  msgstore::Accounts& accounts() { return device->accounts(); }
};

// The device root: --root, else the library's default. Made when missing
// with create; otherwise a missing root, or one without a message tree, is a
// Failure and nothing is made; next (default: run init) says what to do then.
void OpenDevice(Context* ctx, bool create, const std::string& next = "");

// Failure with the result's own words when it failed; one that found no
// account of that identifier names the command that lists them.
void Require(const msgstore::Result& result, DWORD account = 0);
// The result, once Require has let it through.
template <class R>
R Required(R result) {
  Require(result);
  return result;
}

// A store by name; UsageError for anything else.
const StoreDescription& ParseStore(const std::string& name);
std::string StoreNames();  // "sms, mms, email"
// "msgstore check sms --fix".
std::string CommandLine(const StoreDescription& s, const std::string& command,
                        const std::string& rest = "");
// The identifier counter's file name, as users see it beside the messages.
std::string CounterFile(const StoreDescription& s);

// "inbox", or the number for an identifier that names no folder.
std::string FolderName(const StoreDescription& s, DWORD folder);
std::string FolderNames(const StoreDescription& s);  // "inbox, draft, ..., none"
// A folder by name ("inbox", "sim-inbox"; case and '_' for '-' do not
// matter) or number; UsageError for anything else.
DWORD ParseFolder(const StoreDescription& s, const std::string& text);
const char* StorageKey(bool card);   // "phone", "card"
const char* StorageName(bool card);  // "phone memory", "memory card"
std::string Where(const StoreDescription& s, bool card, DWORD folder);  // "phone inbox"
std::string What(const StoreDescription& s, const Location& at);  // "message 5 in phone inbox"
// The folder of the store that keeps messages per account; null when none.
const FolderDescription* AccountFolder(const StoreDescription& s);
const StoreDescription& StoreWithAccounts();  // the store that has one

// " is not a number from min to max", what a number out of its range is.
std::string NotInRange(int64_t min, uint64_t max);
// A number of an option or argument named what, min to max; UsageError otherwise.
int64_t ParseNumber(const std::string& what, const std::string& text, uint64_t max,
                    int64_t min = 0);
// An account named by its identifier or by its text (a number is an
// identifier first); Failure when no account or several have that text.
DWORD ResolveAccount(Context& ctx, const std::string& text);
void RequireCard(Context& ctx);

}  // namespace tool

#endif  // MSGSTORE_TOOL_STORE_H_
