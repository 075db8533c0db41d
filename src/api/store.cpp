// A store of the device: listing, reading and counting from the folders'
// files, and writes, moves and changes through the store's own operations,
// each result told from what the store noted as it went (the message it
// wrote, the one it evicted, why it refused), never from a comparison of
// the folder before and after.
#include <algorithm>
#include <cstring>
#include <new>

#include "api/folder_files.h"
#include "api/handset.h"
#include "common/dir_scan.h"
#include "common/id_counter.h"
#include "common/index_file.h"
#include "common/msg_str.h"
#include "common/store_ops.h"
#include "msgstore/text.h"

namespace msgstore {
namespace {

using api::Fail;

using api::CardIn;
using api::FolderDir;
using api::FolderName;
using api::Handset;
using api::HandsetOf;
using api::IdOfName;
using api::IsDirectory;
using api::Message;
using api::NamesFiles;
using api::OnStorage;
using api::StorageName;
using api::What;
using api::Where;

template <class R>
R Refused(Refusal refusal, const std::string& error) {
  return Fail<R>(Status::kRefused, refusal, error);
}

template <class R>
R NotFound(const std::string& error) {
  return Fail<R>(Status::kNotFound, Refusal::kNone, error);
}

template <class R>
R Failed(const std::string& error) {
  return Fail<R>(Status::kFailed, Refusal::kNone, error);
}

// Carries a failure of a check into a result of another type.
template <class R>
R Carry(const Result& from) {
  return Fail<R>(from.status, from.refusal, from.error);
}

bool HasExtension(const std::u16string& name, const std::u16string& extension) {
  if (name.size() <= extension.size()) return false;
  for (size_t i = 0; i < extension.size(); ++i) {
    char16_t a = name[name.size() - extension.size() + i], b = extension[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b - u'A' + u'a');
    if (a != b) return false;
  }
  return true;
}

struct Entry {
  std::u16string name;
  Location at;
  int position;  // in the folder's enumeration
};

// The message files of a folder matching pattern (the store's by default),
// those whose names the store gives; the names of the others into strays.
// False when the folder could not be read whole.
bool Scan(const StoreDescription& s, bool card, DWORD folder, std::vector<Entry>* out,
          const std::u16string& pattern = u"", std::vector<std::u16string>* strays = nullptr) {
  const std::u16string dir = FolderDir(s, card, folder);
  if (dir.empty()) return true;
  const FolderDescription* f = s.Folder(folder);
  const std::u16string extension = s.extension;
  bool unread = false;
  int position = 0;
  ScanDir(
      dir, pattern.empty() ? std::u16string(s.messagePattern) : pattern,
      [&](const WCHAR* found) {
        const std::u16string name = found;
        const int at = position++;
        if (!HasExtension(name, extension)) return true;
        const std::u16string stem = name.substr(0, name.size() - extension.size());
        Location where{card, folder, 0, 0};
        const size_t bar = stem.find(u'_');
        if (!f->perAccount) {
          where.id = IdOfName(stem);
        } else if (bar != std::u16string::npos) {
          where.account = IdOfName(stem.substr(0, bar));
          where.id = where.account >= s.firstAccountFolder ? IdOfName(stem.substr(bar + 1)) : 0;
        }
        if (where.id != 0)
          out->push_back({name, where, at});
        else if (strays != nullptr)
          strays->push_back(name);
        return true;
      },
      &unread);
  return !unread;
}

// Whether the message's file is there.
bool Exists(const StoreDescription& s, const Location& at) {
  WCHAR path[MAX_PATH] = {};
  if (HandsetOf(s.kind).filePath(at, path) != 0)
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
  std::vector<Entry> found;
  Scan(s, at.card, at.folder, &found, DecimalU16(at.id) + s.extension);
  return !found.empty();
}

// The message of that identifier in a folder, with its account.
std::optional<Location> FindIn(const StoreDescription& s, bool card, DWORD folder, DWORD id) {
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr || !OnStorage(*f, card)) return std::nullopt;
  if (!f->perAccount) {
    const Location at{card, folder, id, 0};
    return Exists(s, at) ? std::optional<Location>(at) : std::nullopt;
  }
  std::vector<Entry> found;
  Scan(s, card, folder, &found, u"*_" + DecimalU16(id) + s.extension);
  for (const Entry& e : found)
    if (e.at.id == id) return e.at;
  return std::nullopt;
}

// Whether a message of the store, anywhere, has that identifier.
bool Occupied(const StoreDescription& s, DWORD id) {
  for (bool card : {false, true}) {
    if (card && !CardIn()) continue;
    for (const FolderDescription& f : s)
      if (FindIn(s, card, f.number, id)) return true;
  }
  return false;
}

// Checks that a write which draws a new identifier cannot land on a stored
// message: the counter's next identifier must be free. A counter that moved
// meanwhile was advanced by another writer, whose message that identifier
// is: only one that still stands where it was is behind the files.
Result CheckCounter(const StoreDescription& s) {
  const DWORD last = ReadIdCounter(s.counterFile);
  const DWORD next = last + 1;
  if (!Occupied(s, next) || ReadIdCounter(s.counterFile) != last) return {};
  return Failed<Result>("the identifier counter " + s.CounterFileName() +
                        " is damaged or behind the stored messages: the next identifier, " +
                        std::to_string(next) + ", is taken (a repair of the device raises it)");
}

Result CheckStorage(bool card, const FolderDescription& f) {
  if (card && !CardIn()) return Refused<Result>(Refusal::kNoCard, "no memory card is inserted");
  if (!OnStorage(f, card))
    return Refused<Result>(
        Refusal::kNotInFolder,
        "folder " + std::string(f.name) + " does not exist on the " + StorageName(card));
  return {};
}

Result CheckTree(const StoreDescription& s, bool card, DWORD folder) {
  const std::u16string dir = FolderDir(s, card, folder);
  if (IsDirectory(dir)) return {};
  if (!dir.empty() && GetFileAttributesW(dir.c_str()) != INVALID_FILE_ATTRIBUTES)
    return Failed<Result>("the " + Where(s, card, folder) + " folder is damaged (not a directory)");
  return NotFound<Result>(std::string("the message tree of the ") + StorageName(card) +
                          " has not been made, or its " + FolderName(s, folder) +
                          " folder is missing (initializing the device makes it)");
}

Result CheckCardTakes(const StoreDescription& s, bool card) {
  const int state = GetPlatform().xGetSDCardState();
  if (card && (state & s.cardUnusable) != 0)
    return Refused<Result>(
        Refusal::kNoCard,
        "the memory card cannot take messages now (card state " + std::to_string(state) + ")");
  return {};
}

// A location the store can reach: its folder, storage and account.
Result CheckPlace(const StoreDescription& s, const Location& at) {
  const FolderDescription* f = s.Folder(at.folder);
  if (f == nullptr)
    return NotFound<Result>("the " + std::string(s.title) + " has no folder " +
                            std::to_string(at.folder));
  Result r = CheckStorage(at.card, *f);
  if (!r) return r;
  if (f->perAccount && at.account < s.firstAccountFolder)
    return Refused<Result>(Refusal::kInvalid, "a message of the " + std::string(f->name) +
                                                  " is named by its account: give the account");
  if (!f->perAccount && at.account != 0)
    return Refused<Result>(Refusal::kInvalid,
                           "folder " + std::string(f->name) + " is not divided by account");
  if (at.id == 0) return NotFound<Result>("0 is no message identifier");
  return {};
}

// The same, and the message's file is there.
Result CheckLocation(const StoreDescription& s, const Location& at) {
  Result r = CheckPlace(s, at);
  if (r && !Exists(s, at)) return NotFound<Result>("no " + What(s, at));
  return r;
}

// A change reaches a message through the file the store names.
Result CheckNamed(const StoreDescription& s, const Location& at, const std::string& what) {
  if (NamesFiles(s, at.card, at.folder, at.account)) return {};
  return Refused<Result>(Refusal::kInvalid, "the " + std::string(s.title) +
                                                " names no file in folder " +
                                                FolderName(s, at.folder) + ": " + what);
}

Result CheckRecord(const Record& r) {
  const std::u16string* texts[] = {&r.text1,       &r.text2,      &r.to,    &r.text3,
                                   &r.text4,       &r.subject,    &r.msgId, &r.mms.text,
                                   &r.email.text1, &r.email.text2};
  for (const std::u16string* text : texts)
    if (text->find(u'\0') != std::u16string::npos)
      return Refused<Result>(Refusal::kInvalid,
                             "a text holds a NUL character, which a message file cannot keep");
  if (r.content.size() >= 0xFFFFFFFFu)
    return Refused<Result>(Refusal::kInvalid, "the content is too large for a message file");
  return {};
}

// Reads a message: through its file, or by its place in the folder's
// enumeration where the store names no file.
bool ReadMessage(const StoreDescription& s, const Location& at, bool withContent, Message* m) {
  const Handset& h = HandsetOf(s.kind);
  if (NamesFiles(s, at.card, at.folder, at.account))
    return h.read(at, -1, withContent, m->props(), m->own());
  std::vector<Entry> entries;
  Scan(s, at.card, at.folder, &entries, s.messagePattern);
  for (const Entry& e : entries)
    if (e.at.id == at.id) return h.read(at, e.position, withContent, m->props(), m->own());
  return false;
}

std::optional<Location> Evicted(const WriteNote& note) {
  if (!note.evicted) return std::nullopt;
  return Location{note.evictedCard, note.evictedFolder, note.evictedOid, note.evictedAccount};
}

// Why the write noted went to the other storage.
Refusal SwitchedFor(const WriteNote& note) {
  return note.switchedFor == WriteNote::kFolderFull ? Refusal::kFolderFull
         : note.switchedFor == WriteNote::kNoSpace  ? Refusal::kNoSpace
                                                    : Refusal::kNone;
}

// What a write that stored nothing tells: the refusal the store noted, or the
// storage it chose and could not use.
void Unwritten(const StoreDescription& s, bool card, DWORD folder, int32_t storage,
               const std::string& what, WriteResult* r) {
  const WriteNote& note = ThisThreadWriteNote();
  const std::string where = "the " + Where(s, card, folder);
  switch (note.refusal) {
    case WriteNote::kFolderFull:
      *r = Refused<WriteResult>(Refusal::kFolderFull,
                                where + " is full: " + what +
                                    " (letting the store choose the storage puts it on the other)");
      break;
    case WriteNote::kBothFull:
      *r = Refused<WriteResult>(Refusal::kBothFull, where + " is full, and so is the " +
                                                        Where(s, !card, folder) + ": " + what);
      break;
    case WriteNote::kNoSpace:
      *r = Refused<WriteResult>(Refusal::kNoSpace,
                                "there is not enough free space for the message "
                                "on the " +
                                    std::string(StorageName(card)) + " nor on the " +
                                    StorageName(!card) + ": " + what);
      break;
    case WriteNote::kNone:
      if (note.evictionFailed) {
        *r = Failed<WriteResult>(where +
                                 " is full and its oldest message could not be deleted: " + what);
      } else if (storage == 1 && !card && !CardIn()) {
        *r = Refused<WriteResult>(Refusal::kNoCard,
                                  where + " is full and no memory card is inserted: " + what);
      } else {
        *r = Failed<WriteResult>("the store could not write to " + where + ": " + what);
      }
      break;
  }
  r->evicted = Evicted(note);
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading

bool Store::TreeMade(bool card) const {
  return (!card || CardIn()) &&
         IsDirectory(FolderDir(description(), card, description().folders[0].number));
}

std::optional<DWORD> Store::Counter() const {
  DWORD value = 0;
  if (!api::ReadCounterFile(description(), &value)) return std::nullopt;
  return value;
}

std::vector<IndexPlace> Store::IndexPlaces() const {
  const StoreDescription& s = description();
  std::vector<IndexPlace> places;
  // One index file: its records, each message at its first record.
  auto read = [&](DWORD folder, DWORD account) {
    const std::u16string prefix = account != 0 ? DecimalU16(account) + u"_" : u"";
    const std::u16string path = FolderDir(s, false, folder) + u"\\" + prefix + s.indexName;
    std::vector<IndexRecord> records;
    if (!ReadIndex(path.c_str(), &records)) return;
    std::vector<Location> seen;
    for (size_t i = 0; i < records.size(); ++i) {
      // A record names its folder by the low byte of the folder's number (of
      // the account's, in an account's index).
      const BYTE mark = static_cast<BYTE>(records[i].folder);
      Location at{false, 0, records[i].oid, 0};
      if (account != 0) {
        if (mark != static_cast<BYTE>(account)) continue;
        at.folder = folder, at.account = account;
      } else {
        for (const FolderDescription& m : s)
          if (m.indexFolder == folder && static_cast<BYTE>(m.number) == mark) at.folder = m.number;
        if (at.folder == 0) continue;
      }
      if (std::find(seen.begin(), seen.end(), at) != seen.end()) continue;
      seen.push_back(at);
      places.push_back({at, i});
    }
  };
  for (const FolderDescription& f : s) {
    if (f.indexFolder != f.number) continue;
    if (!f.perAccount) {
      read(f.number, 0);
      continue;
    }
    for (DWORD account : api::AccountsOnDevice(s, f.number)) read(f.number, account);
  }
  return places;
}

ListResult Store::List(std::optional<bool> card, std::optional<DWORD> folder) const {
  const StoreDescription& s = description();
  if (card.value_or(false) && !CardIn())
    return Refused<ListResult>(Refusal::kNoCard, "no memory card is inserted");
  if (folder && s.Folder(*folder) == nullptr)
    return NotFound<ListResult>("the " + std::string(s.title) + " has no folder " +
                                std::to_string(*folder));
  ListResult out;
  for (bool onCard : {false, true}) {
    if (card ? *card != onCard : onCard && !TreeMade(true)) continue;
    if (!TreeMade(onCard)) return Carry<ListResult>(CheckTree(s, onCard, s.folders[0].number));
    for (DWORD number : s.shown) {
      if (folder && *folder != number) continue;
      const FolderDescription& f = *s.Folder(number);
      if (!OnStorage(f, onCard)) {
        if (folder && card) return Carry<ListResult>(CheckStorage(onCard, f));
        continue;
      }
      if (folder) {
        const Result tree = CheckTree(s, onCard, number);
        if (!tree) return Carry<ListResult>(tree);
      }
      std::vector<Entry> entries;
      std::vector<std::u16string> strays;
      if (!Scan(s, onCard, number, &entries, u"", &strays))
        return Failed<ListResult>("the " + Where(s, onCard, number) + " folder cannot be read");
      std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.at.id != b.at.id ? a.at.id < b.at.id : a.at.account < b.at.account;
      });
      for (const Entry& e : entries) out.messages.push_back(e.at);
      std::sort(strays.begin(), strays.end());
      for (const std::u16string& name : strays)
        out.strays.push_back({{onCard, number, 0, 0}, Utf16ToUtf8(name)});
    }
  }
  return out;
}

std::optional<Location> Store::Find(DWORD id, std::optional<bool> card) const {
  const StoreDescription& s = description();
  if (id == 0) return std::nullopt;
  for (bool onCard : {false, true}) {
    if (card ? *card != onCard : onCard && !CardIn()) continue;
    // Where the store looks first, then the folders it does not search.
    for (DWORD number : s.searched)
      if (std::optional<Location> at = FindIn(s, onCard, number, id)) return at;
    for (DWORD number : s.shown)
      if (std::find(s.searched.begin(), s.searched.end(), number) == s.searched.end())
        if (std::optional<Location> at = FindIn(s, onCard, number, id)) return at;
  }
  return std::nullopt;
}

ReadResult Store::Read(const Location& at, bool withContent) const {
  const StoreDescription& s = description();
  // A file the store names is read without a look for it first (a read of a
  // missing file changes nothing): only a read that fails asks whether the
  // message is there at all. A list followed by a read of each message thus
  // reaches each file once.
  const bool named = NamesFiles(s, at.card, at.folder, at.account);
  Result checked = named ? CheckPlace(s, at) : CheckLocation(s, at);
  if (!checked) return Carry<ReadResult>(checked);
  Message m(HandsetOf(s.kind));
  if (!ReadMessage(s, at, withContent, &m)) {
    if (named && !Exists(s, at)) return NotFound<ReadResult>("no " + What(s, at));
    // A file that opens and yet cannot be read is damaged; one that does not
    // open (a directory of its name, no permission) is not known to be.
    const bool damaged = api::Openable(s, at);
    ReadResult r = Failed<ReadResult>(
        What(s, at) + (damaged ? " cannot be read (damaged file)" : " cannot be opened"));
    r.damaged = damaged;
    return r;
  }
  ReadResult r;
  r.record = api::FromProps(s.kind, *m, *m.own());
  return r;
}

CountResult Store::Count(bool card, DWORD folder, DWORD account) const {
  const StoreDescription& s = description();
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr)
    return NotFound<CountResult>("the " + std::string(s.title) + " has no folder " +
                                 std::to_string(folder));
  Result checked = CheckStorage(card, *f);
  if (checked) checked = CheckTree(s, card, folder);
  if (!checked) return Carry<CountResult>(checked);
  std::vector<Entry> entries;
  if (!Scan(s, card, folder, &entries))
    return Failed<CountResult>("the " + Where(s, card, folder) + " folder cannot be read");
  CountResult r;
  for (const Entry& e : entries) {
    if (account != 0 && e.at.account != account) continue;
    ++r.messages;
    Message m(HandsetOf(s.kind));
    if (!ReadMessage(s, e.at, false, &m))
      ++r.unreadable;
    else if (m->bRead == 0)
      ++r.unread;
  }
  return r;
}

// ---------------------------------------------------------------------------
// Writing

WriteResult Store::Add(const Record& record, Storage storage) {
  const StoreDescription& s = description();
  const Handset& h = HandsetOf(s.kind);
  const FolderDescription* f = s.Folder(record.folder);
  if (f == nullptr)
    return NotFound<WriteResult>("the " + std::string(s.title) + " has no folder " +
                                 std::to_string(record.folder) + ": message not stored");
  const bool card = storage == Storage::kCard || storage == Storage::kAutoFromCard;
  const bool automatic = storage == Storage::kAuto || storage == Storage::kAutoFromCard;
  const DWORD account = f->perAccount ? record.email.accountId : 0;
  Result checked = CheckStorage(card, *f);
  if (checked) checked = CheckCardTakes(s, card);
  if (checked && f->perAccount && account < s.firstAccountFolder)
    checked = Refused<Result>(Refusal::kInvalid, "a message of the " + std::string(f->name) +
                                                     " needs the account it belongs to");
  if (checked && f->perAccount && !api::AccountExists(account))
    checked = NotFound<Result>("no account " + std::to_string(account));
  if (checked) checked = CheckNamed(s, {card, record.folder, 0, account}, "message not stored");
  if (checked) checked = CheckRecord(record);
  if (checked) checked = CheckTree(s, card, record.folder);
  if (checked) checked = CheckCounter(s);
  if (!checked) return Carry<WriteResult>(checked);

  Message m(h);
  try {
    api::ToProps(s.kind, record, m.props(), m.own());
  } catch (const std::bad_alloc&) {
    return Failed<WriteResult>("out of memory: message not stored");
  }
  m.props()->dwOid = 0;
  int32_t value = automatic ? STORAGE_AUTO : (card ? 1 : 0);
  ClearWriteNote();
  const DWORD id = h.write(card, m.props(), m.own(), 0, &value);
  const WriteNote& note = ThisThreadWriteNote();
  WriteResult r;
  if (id == 0 || !note.written) {
    Unwritten(s, card, record.folder, value, "message not stored", &r);
    return r;
  }
  r.stored = Location{note.writtenCard, record.folder, id, account};
  r.otherStorage = note.writtenCard != card;
  if (r.otherStorage) r.switchedFor = SwitchedFor(note);
  r.evicted = Evicted(note);
  return r;
}

WriteResult Store::Rewrite(const Location& at, const Record& record) {
  const Result there = CheckLocation(description(), at);
  if (!there) return Carry<WriteResult>(there);
  return Put(at, record);
}

WriteResult Store::Put(const Location& at, const Record& record) {
  const StoreDescription& s = description();
  const Handset& h = HandsetOf(s.kind);
  Result checked = CheckPlace(s, at);
  if (checked) checked = CheckNamed(s, at, "message not written");
  if (checked) checked = CheckRecord(record);
  if (!checked) return Carry<WriteResult>(checked);
  Message m(h);
  try {
    api::ToProps(s.kind, record, m.props(), m.own());
  } catch (const std::bad_alloc&) {
    return Failed<WriteResult>("out of memory: message not written");
  }
  m.props()->dwFolder = at.folder;
  m.props()->dwOid = at.id;
  if (s.Folder(at.folder)->perAccount) m.own()->email.dwAccountId = at.account;
  int32_t value = at.card ? 1 : 0;
  ClearWriteNote();
  const DWORD id = h.write(at.card, m.props(), m.own(), at.id, &value);
  WriteResult r;
  if (id == 0 || !ThisThreadWriteNote().written) {
    Unwritten(s, at.card, at.folder, value, What(s, at) + " not written", &r);
    return r;
  }
  r.stored = at;
  r.evicted = Evicted(ThisThreadWriteNote());
  return r;
}

WriteResult Store::Move(const Location& at, DWORD folder) {
  const StoreDescription& s = description();
  const Handset& h = HandsetOf(s.kind);
  Result checked = CheckLocation(s, at);
  if (!checked) return Carry<WriteResult>(checked);
  const std::string what = What(s, at) + " not moved";
  const FolderDescription* to = s.Folder(folder);
  if (to == nullptr)
    return NotFound<WriteResult>("the " + std::string(s.title) + " has no folder " +
                                 std::to_string(folder) + ": " + what);
  const bool card = to->sim ? false : at.card;
  Message m(h);
  if (!ReadMessage(s, at, false, &m))
    return Failed<WriteResult>(What(s, at) + " cannot be read (damaged file)");
  const DWORD account = to->perAccount ? m.own()->email.dwAccountId : 0;
  checked = CheckStorage(card, *to);
  if (checked) checked = CheckCardTakes(s, card);
  if (checked) checked = CheckNamed(s, at, what);
  if (checked) {
    const std::string why = h.moveRefused(s, at, folder, *m, *m.own());
    if (!why.empty()) checked = Refused<Result>(Refusal::kInvalid, why + ": " + what);
  }
  if (checked) checked = CheckNamed(s, {card, folder, 0, account}, what);
  if (checked) checked = CheckTree(s, card, folder);
  if (checked) checked = CheckCounter(s);
  if (!checked) return Carry<WriteResult>(checked);

  int32_t value = STORAGE_AUTO;
  ClearWriteNote();
  const bool moved = h.move(at, folder, &value);
  const WriteNote& note = ThisThreadWriteNote();
  std::optional<Location> copy;
  if (note.written)
    copy = Location{note.writtenCard, folder, note.writtenOid, to->perAccount ? account : 0};
  WriteResult r;
  if (moved && copy) {
    r.stored = copy;
    r.otherStorage = copy->card != card;
    if (r.otherStorage) r.switchedFor = SwitchedFor(note);
    r.evicted = Evicted(note);
    return r;
  }
  if (copy && Exists(s, *copy)) {
    // The copy stands, and so does the message: the store could not delete
    // its old file.
    r = Failed<WriteResult>(What(s, at) + " was copied to " + Where(s, copy->card, folder) +
                            " as message " + std::to_string(copy->id) +
                            ", but its old file could not be deleted");
    r.stored = copy;
    r.otherStorage = copy->card != card;
    r.evicted = Evicted(note);
    return r;
  }
  Unwritten(s, card, folder, value, what, &r);
  return r;
}

Result Store::Delete(const Location& at) {
  const StoreDescription& s = description();
  Result checked = CheckLocation(s, at);
  if (checked) checked = CheckNamed(s, at, What(s, at) + " not deleted");
  if (!checked) return checked;
  if (!HandsetOf(s.kind).remove(at)) return Failed<Result>("could not delete " + What(s, at));
  return {};
}

namespace {

// A change the store makes by rewriting the message.
template <class Make>
Result Changed(const StoreDescription& s, const Location& at, const std::string& what,
               Make change) {
  Result checked = CheckLocation(s, at);
  if (checked) checked = CheckNamed(s, at, "the " + what + " of " + What(s, at) + " not changed");
  if (!checked) return checked;
  ClearWriteNote();
  if (change()) return {};
  WriteResult r;
  Unwritten(s, at.card, at.folder, at.card ? 1 : 0,
            "the " + what + " of " + What(s, at) + " not changed", &r);
  return Carry<Result>(r);
}

}  // namespace

Result Store::SetRead(const Location& at, bool read) {
  const Handset& h = HandsetOf(description().kind);
  return Changed(description(), at, "read flag", [&] { return h.setRead(at, read); });
}

Result Store::SetStatus(const Location& at, WORD status) {
  const Handset& h = HandsetOf(description().kind);
  return Changed(description(), at, "status", [&] { return h.setStatus(at, status); });
}

Result Store::SetReadReport(const Location& at, int32_t status) {
  const Handset& h = HandsetOf(description().kind);
  if (h.setReadReport == nullptr)
    return Refused<Result>(Refusal::kInvalid, "the " + std::string(description().title) +
                                                  " keeps no read-report status");
  return Changed(description(), at, "read-report status",
                 [&] { return h.setReadReport(at, status); });
}

Result Store::Empty(bool card, DWORD folder, DWORD account) {
  return EmptyFolder(card, folder, account);
}

EmptyResult Store::EmptyFolder(bool card, DWORD folder, DWORD account) {
  const StoreDescription& s = description();
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr)
    return NotFound<EmptyResult>("the " + std::string(s.title) + " has no folder " +
                                 std::to_string(folder));
  Result checked = CheckStorage(card, *f);
  if (checked && !f->hasFolderPath)
    checked =
        Refused<Result>(Refusal::kInvalid,
                        "folder " + std::string(f->name) +
                            " cannot be emptied: the store keeps its messages by file name only");
  if (checked && account != 0 && !f->perAccount)
    checked = Refused<Result>(Refusal::kInvalid,
                              "folder " + std::string(f->name) + " is not divided by account");
  if (checked) checked = CheckTree(s, card, folder);
  // The store deletes what it can and goes on; a directory it cannot delete
  // would leave the folder half emptied.
  for (const api::FolderEntry& e : api::FolderEntries(s, card, folder))
    if (checked && (account == 0 || e.account == account) &&
        (e.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      checked = Failed<Result>("the " + Where(s, card, folder) + " cannot be emptied: " + e.name +
                               " is not a file (nothing deleted)");
  if (!checked) return Carry<EmptyResult>(checked);
  const unsigned long before = DeletedByThisThread();
  const bool emptied = HandsetOf(s.kind).empty(card, folder, account);
  EmptyResult r;
  r.deleted = DeletedByThisThread() - before;
  if (emptied) return r;
  std::vector<Entry> left;
  Scan(s, card, folder, &left);
  size_t files = 0;
  for (const Entry& e : left) files += account == 0 || e.at.account == account ? 1 : 0;
  const size_t deleted = r.deleted;
  r = Failed<EmptyResult>(
      "could not empty the " + Where(s, card, folder) + ": " + std::to_string(files) +
      (files == 1 ? " message file" : " message files") + " could not be deleted");
  r.deleted = deleted;
  return r;
}

IndexResult Store::IndexRecords(DWORD folder, DWORD account) const {
  const StoreDescription& s = description();
  const FolderDescription* f = s.Folder(folder);
  if (f == nullptr)
    return NotFound<IndexResult>("the " + std::string(s.title) + " has no folder " +
                                 std::to_string(folder));
  if (f->indexFolder != folder)
    return Refused<IndexResult>(Refusal::kInvalid,
                                "folder " + std::string(f->name) + " has no index of its own" +
                                    (f->indexed() ? " (its messages are in the index of " +
                                                        FolderName(s, f->indexFolder) + ")"
                                                  : std::string()));
  if (account != 0 && !f->perAccount)
    return Refused<IndexResult>(Refusal::kInvalid,
                                "folder " + std::string(f->name) + " is not divided by account");
  const Result tree = CheckTree(s, false, folder);
  if (!tree) return Carry<IndexResult>(tree);
  std::vector<DWORD> accounts = {account};
  if (f->perAccount && account == 0) accounts = api::AccountsOnDevice(s, folder);
  IndexResult r;
  for (DWORD one : accounts) {
    std::vector<IndexRecord> records;
    ReadIndex(api::IndexPath(s, folder, one).c_str(), &records);
    // An account's records carry only part of the account where the folder
    // goes; elsewhere the folder is the record's low byte, as the stores list it.
    for (const IndexRecord& record : records)
      r.records.push_back({false, one != 0 ? folder : record.folder & 0xFF, record.oid, one});
  }
  return r;
}

Result Store::Refresh() {
  if (HandsetOf(description().kind).refresh() != 0) return {};
  return Failed<Result>("the " + std::string(description().title) +
                        " could not make every index whole");
}

}  // namespace msgstore
