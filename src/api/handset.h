// The handset's operations of each store behind one signature, for the C++
// API: which operation reads, writes, moves or deletes a message of a folder
// (the e-mail store reaches its inbox through the Inbox twins, by account),
// and the records they fill, released by the store's own FreeMsgProps.
#ifndef MSGSTORE_API_HANDSET_H_
#define MSGSTORE_API_HANDSET_H_

#include <mutex>
#include <string>

#include "email/email_accounts.h"
#include "msgstore/device.h"
#include "msgstore/msgstore.h"

namespace msgstore {
namespace api {

// The store's own record beside tagMSGPROPS.
union OwnRecord {
  tagMMSMSGPROPS mms;
  tagEMAILMSGPROPS email;
};

struct Handset {
  void (*release)(tagMSGPROPS* props, OwnRecord* own);
  int (*createDir)(bool card);
  int (*folderPath)(bool card, DWORD folder, WCHAR* path);
  // The file the store names for a message; 0 when it names none there.
  int (*filePath)(const Location& at, WCHAR* path);
  // Reads the message's file (by its path, or by position in the folder's
  // enumeration when position >= 0).
  bool (*read)(const Location& at, int position, bool withContent, tagMSGPROPS* props,
               OwnRecord* own);
  DWORD (*write)(bool card, tagMSGPROPS* props, OwnRecord* own, DWORD existing, int32_t* storage);
  // Why the store would not move the message (the record read before) to
  // the folder; empty when it would.
  std::string (*moveRefused)(const StoreDescription& s, const Location& at, DWORD to,
                             const tagMSGPROPS& props, const OwnRecord& own);
  // True when moved whole; *storage gets the store's own report, when it
  // gives one.
  bool (*move)(const Location& at, DWORD to, int32_t* storage);
  bool (*setRead)(const Location& at, bool read);
  bool (*setStatus)(const Location& at, WORD status);
  bool (*setReadReport)(const Location& at, int32_t status);  // null: the store keeps none
  bool (*remove)(const Location& at);
  bool (*empty)(bool card, DWORD folder, DWORD account);
  int (*refresh)();
};

const Handset& HandsetOf(StoreKind kind);

// A message record of a store, released by the store when it goes.
class Message {
 public:
  explicit Message(const Handset& h) : handset_(h), props_{}, own_{} {}
  ~Message() { handset_.release(&props_, &own_); }
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  tagMSGPROPS* props() { return &props_; }
  OwnRecord* own() { return &own_; }
  const tagMSGPROPS& operator*() const { return props_; }
  const tagMSGPROPS* operator->() const { return &props_; }

 private:
  const Handset& handset_;
  tagMSGPROPS props_;
  OwnRecord own_;
};

// Record to the store's records (the strings and content calloc'ed, for the
// store to release) and back.
void ToProps(StoreKind kind, const Record& record, tagMSGPROPS* props, OwnRecord* own);
Record FromProps(StoreKind kind, const tagMSGPROPS& props, const OwnRecord& own);

// The account store keeps one array per process: threads that load, change
// or save it take turns on this lock.
std::recursive_mutex& AccountArrayLock();

// The account store's array while a caller changes it, held by this thread:
// saved whole, or, on a way out without a save, put back as it was loaded
// (loaded again when the load failed), so that no unsaved change lingers in
// the process's array for a later save. When that load fails too, the array
// is put back as it was before: a failing file system never leaves it
// emptied, for a later save to write over the database.
class AccountSession {
 public:
  AccountSession() : held_(AccountArrayLock()) {}
  ~AccountSession();
  AccountSession(const AccountSession&) = delete;
  AccountSession& operator=(const AccountSession&) = delete;

  // Loads the database into the array: false when it could not be read.
  bool Open();
  HANDLE store() const { return store_; }
  bool Save();

 private:
  std::lock_guard<std::recursive_mutex> held_;
  HANDLE store_ = nullptr;
  bool opened_ = false, loaded_ = false, saved_ = false;
  EmailAccountArray kept_;  // as loaded, or as it was before the load
};

// Whether the account database holds an account of that identifier.
bool AccountExists(DWORD id);

}  // namespace api
}  // namespace msgstore

#endif  // MSGSTORE_API_HANDSET_H_
