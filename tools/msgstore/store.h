// The EMS store as the tool sees it: folder names, storages, finding a
// message, and a message record that releases itself.
#ifndef MSGSTORE_TOOL_STORE_H_
#define MSGSTORE_TOOL_STORE_H_

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "msgstore/msgstore.h"

namespace tool {

// Global options of every command.
struct Context {
  std::string root;
  bool card = false;
  bool json = false;
};

// The device root: --root, else MSGSTORE_ROOT, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device. Made when missing and
// handed to the library before anything else.
void OpenDevice(Context* ctx);

// A message record that its owner releases with EMSMsgStore_FreeMsgProps.
class Message {
 public:
  Message() : props_() {}
  ~Message() { EMSMsgStore_FreeMsgProps(&props_); }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  tagMSGPROPS* get() { return &props_; }
  const tagMSGPROPS& operator*() const { return props_; }
  const tagMSGPROPS* operator->() const { return &props_; }

 private:
  tagMSGPROPS props_;
};

struct EmsFolder {
  DWORD id;
  const char* name;
};
// Every EMS folder, in the order the tool shows them.
const std::vector<EmsFolder>& EmsFolders();
// "inbox", or the number for an identifier that names no folder.
std::string FolderName(DWORD folder);
// A folder by name ("inbox", "sim-inbox"; case and '_' for '-' do not
// matter) or number; Failure for anything else.
DWORD ParseFolder(const std::string& text);
// A message identifier, 1 to 4294967295; UsageError otherwise.
DWORD ParseMessageId(const std::string& text);

const char* StorageKey(bool card);           // "phone", "card"
const char* StorageName(bool card);          // "phone memory", "memory card"
std::string Where(bool card, DWORD folder);  // "phone inbox", "card spam"

bool CardInserted();
// Failure "no memory card is inserted" when it is not.
void RequireCard();
// Failure when the folder does not exist on that storage.
void RequireFolder(bool card, DWORD folder);
bool FolderOnStorage(bool card, DWORD folder);
// Failure when the storage's message tree has not been made ("msgstore init").
void RequireTree(bool card, DWORD folder);

// The identifiers of a folder's message files, ascending.
std::vector<DWORD> ListFolder(bool card, DWORD folder);

// The folders where a message of that storage can be, in the order in which
// the store looks for a message by identifier.
std::vector<DWORD> SearchOrder(bool card);

struct Location {
  bool card;
  DWORD folder;
  DWORD oid;
};
// The folder that holds message oid on that storage; Failure when there is
// none.
Location Locate(bool card, DWORD oid);
// Reads the whole message; Failure when its file cannot be read.
void ReadWhole(const Location& at, bool withContent, Message* out);

// Subject, else the start of the text content.
std::string Summary(const tagMSGPROPS& props);
// Every field of the record; content as base64 (and as text when it is
// UTF-16 text) when withContent.
nlohmann::ordered_json MessageJson(const Location& at, const tagMSGPROPS& props, bool withContent);

}  // namespace tool

#endif  // MSGSTORE_TOOL_STORE_H_
