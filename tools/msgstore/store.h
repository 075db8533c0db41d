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
// The folder's directory, a device path ("\DiskOnChip\User\...").
std::u16string FolderPath(bool card, DWORD folder);
// Failure when the folder's path exists but is not a directory.
void RequireIntactFolder(bool card, DWORD folder);
// Failure when the storage's message tree has not been made ("msgstore init")
// or the folder is not a directory.
void RequireTree(bool card, DWORD folder);
bool TreeMade(bool card);

// What the platform finds at a device path; false when nothing is there.
bool FindPath(const std::u16string& path, WIN32_FIND_DATAW* data);

// A "*.sms" entry of a folder directory.
struct FolderEntry {
  std::string name;  // "5.sms"
  DWORD attributes;
  DWORD size;
  DWORD oid;  // 0 when the name is not the one the store gives a message
};
std::vector<FolderEntry> FolderEntries(bool card, DWORD folder);
// "file abc.sms (not named by a message identifier)"
std::string OddName(const FolderEntry& entry);

// The identifier counter: the last identifier the store handed out.
struct IdCounter {
  bool present;
  bool sound;  // a file of exactly 4 bytes
  DWORD value;
  DWORD highest;  // the highest identifier in use on both storages
  bool Ok() const { return highest == 0 || (sound && value >= highest); }
  std::string State() const;
};
IdCounter ReadIdCounter();
// Sets the counter to the highest identifier in use; false when it cannot.
bool RepairIdCounter(const IdCounter& counter);
// Temporary files under both messaging trees whose writer died before it
// put them in place, as device paths.
std::vector<std::u16string> StaleTempFiles();
// Failure when a new identifier would replace a stored message.
void RequireIdCounter();
// Failure when the card state forbids storing a message on the card.
void RequireCardTakes(bool card);

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
// Every message of phone memory and, when inserted, of the memory card.
std::vector<Location> AllMessages();
// The folder that holds message oid on that storage; Failure when there is
// none.
Location Locate(bool card, DWORD oid);
// Reads the whole message; Failure when its file cannot be read.
void ReadWhole(const Location& at, bool withContent, Message* out);
// Reads the record without content and without touching any index.
bool ReadRecord(const Location& at, Message* out);
// Whether the message's file can be opened for reading.
bool Openable(const Location& at);
// Why a message cannot be read: "cannot be read (damaged file)" or "cannot
// be opened".
std::string ReadProblem(const Location& at);

// Subject, else the start of the text content.
std::string Summary(const tagMSGPROPS& props);
// Every field of the record; content as base64 (and as text when it is
// UTF-16 text) when withContent.
nlohmann::ordered_json MessageJson(const Location& at, const tagMSGPROPS& props, bool withContent);

}  // namespace tool

#endif  // MSGSTORE_TOOL_STORE_H_
