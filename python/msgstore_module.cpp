// _msgstore: the C++ device API for the msgstore Python package. This layer
// converts between records and Python values and maps results to
// exceptions; msgstore/__init__.py gives it its Python shape (Message,
// Store, Accounts, export and restore).
//
// Records travel as dicts keyed by the record's field keys (RecordFields()):
// ints for numbers and file times (100-ns ticks), str or None for texts,
// bytes for the content. Locations travel as (card, folder, id, account).
//
// The process has one device root: each call points it at its device first,
// with the calls of other devices waiting meanwhile, and releases the GIL
// while the library works on files.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "msgstore/device.h"
#include "msgstore/maintenance.h"
#include "msgstore/platform.h"
#include "msgstore/stores.h"
#include "msgstore/text.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

using msgstore::Location;
using msgstore::Record;
using msgstore::RecordField;
using msgstore::Refusal;
using msgstore::Result;
using msgstore::Status;
using msgstore::StoreKind;

// ---------------------------------------------------------------------------
// Exceptions

struct Errors {
  PyObject* error;
  PyObject* notFound;
  PyObject* refused;
  PyObject* folderFull;
  PyObject* bothFull;
  PyObject* noSpace;
  PyObject* noCard;
  PyObject* notOnStorage;
  PyObject* invalid;
  PyObject* failed;
};
Errors g_errors;

PyObject* NewError(py::module_& m, const char* name, const char* doc, PyObject* base) {
  const std::string qualified = std::string("msgstore.") + name;
  PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
  if (type == nullptr) throw py::error_already_set();
  m.add_object(name, py::handle(type));
  return type;
}

PyObject* Bases(PyObject* a, PyObject* b) {
  PyObject* tuple = PyTuple_Pack(2, a, b);
  if (tuple == nullptr) throw py::error_already_set();
  return tuple;
}

void MakeErrors(py::module_& m) {
  Errors& e = g_errors;
  e.error = NewError(m, "Error", "A store operation failed; str() is its one-line reason.",
                     PyExc_Exception);
  e.notFound = NewError(m, "NotFound", "No such message, folder, account or message tree.",
                        Bases(e.error, PyExc_LookupError));
  e.refused = NewError(m, "Refused", "The store declined the operation.", e.error);
  e.folderFull =
      NewError(m, "FolderFull", "The folder is full and the store may not use the other storage.",
               e.refused);
  e.bothFull = NewError(m, "BothFull", "The folder is full on both storages.", e.folderFull);
  e.noSpace = NewError(m, "NoSpace", "The volume has no room for the content.", e.refused);
  e.noCard = NewError(m, "NoCard", "The memory card is not inserted or cannot take messages now.",
                      e.refused);
  e.notOnStorage =
      NewError(m, "NotOnStorage", "The folder does not exist on that storage.", e.refused);
  e.invalid = NewError(m, "Invalid", "The store does not take this folder, field or value.",
                       Bases(e.refused, PyExc_ValueError));
  e.failed = NewError(m, "Failed", "The file system failed.", e.error);
}

PyObject* ErrorType(const Result& r) {
  switch (r.status) {
    case Status::kOk:
    case Status::kFailed:
      return g_errors.failed;
    case Status::kNotFound:
      return g_errors.notFound;
    case Status::kRefused:
      break;
  }
  switch (r.refusal) {
    case Refusal::kFolderFull:
      return g_errors.folderFull;
    case Refusal::kBothFull:
      return g_errors.bothFull;
    case Refusal::kNoSpace:
      return g_errors.noSpace;
    case Refusal::kNoCard:
      return g_errors.noCard;
    case Refusal::kNotInFolder:
      return g_errors.notOnStorage;
    case Refusal::kInvalid:
      return g_errors.invalid;
    case Refusal::kNone:
      break;
  }
  return g_errors.refused;
}

[[noreturn]] void Raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  throw py::error_already_set();
}

// Raises the result's error unless it succeeded.
void Check(const Result& r) {
  if (!r) Raise(ErrorType(r), r.error.empty() ? "the operation failed" : r.error);
}

[[noreturn]] void Invalid(const std::string& text) { Raise(g_errors.invalid, text); }

// ---------------------------------------------------------------------------
// Values

// UTF-16 as the store holds it, lone surrogates included, and back.
py::object TextToPy(const std::u16string& text) {
  if (text.empty()) return py::none();
  int order = -1;  // little-endian
  PyObject* s =
      PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                            static_cast<Py_ssize_t>(text.size() * 2), "surrogatepass", &order);
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(s);
}

std::u16string TextFromPy(py::handle value, const std::string& key) {
  if (value.is_none()) return u"";
  if (!PyUnicode_Check(value.ptr())) Invalid(key + " is not a str");
  PyObject* bytes = PyUnicode_AsEncodedString(value.ptr(), "utf-16-le", "surrogatepass");
  if (bytes == nullptr) throw py::error_already_set();
  py::bytes owned = py::reinterpret_steal<py::bytes>(bytes);
  char* data = nullptr;
  Py_ssize_t size = 0;
  PyBytes_AsStringAndSize(owned.ptr(), &data, &size);
  std::u16string text(static_cast<size_t>(size) / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<uint8_t>(data[2 * i]) |
                                    static_cast<uint8_t>(data[2 * i + 1]) << 8);
  if (text.find(u'\0') != std::u16string::npos)
    Invalid(key + " holds a NUL character, which a message file cannot keep");
  return text;
}

// An integer in [low, high].
long long Integer(py::handle value, const std::string& key, long long low, long long high) {
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) Invalid(key + " is not an int");
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0 || n < low || n > high)
    Invalid(key + " is not a number from " + std::to_string(low) + " to " + std::to_string(high));
  return n;
}

uint64_t Ticks(py::handle value, const std::string& key) {
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) Invalid(key + " is not an int");
  const unsigned long long n = PyLong_AsUnsignedLongLong(value.ptr());
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    Invalid(key + " is not a time in ticks from 0 to 18446744073709551615");
  }
  return n;
}

DWORD Dword(py::handle value, const std::string& key) {
  return static_cast<DWORD>(Integer(value, key, 0, UINT32_MAX));
}

py::object FieldToPy(const RecordField& f, const Record& r) {
  const void* at = f.atConst(r);
  switch (f.type) {
    case RecordField::kBool:
    case RecordField::kWord:
    case RecordField::kDword:
    case RecordField::kInt32:
      return py::int_(f.Number(r));
    case RecordField::kText:
      return TextToPy(*static_cast<const std::u16string*>(at));
    case RecordField::kBytes: {
      const auto& bytes = *static_cast<const std::vector<uint8_t>*>(at);
      return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case RecordField::kTime:
      return py::int_(msgstore::Ticks(*static_cast<const FILETIME*>(at)));
  }
  return py::none();
}

void FieldFromPy(const RecordField& f, py::handle value, Record* r) {
  void* at = f.at(*r);
  const std::string key = f.key;
  switch (f.type) {
    case RecordField::kBool:
    case RecordField::kWord:
    case RecordField::kDword:
    case RecordField::kInt32:
      f.SetNumber(*r, f.type == RecordField::kBool && PyBool_Check(value.ptr())
                          ? value.ptr() == Py_True
                          : Integer(value, key, f.Least(), f.Greatest()));
      break;
    case RecordField::kText:
      *static_cast<std::u16string*>(at) = TextFromPy(value, key);
      break;
    case RecordField::kBytes: {
      if (!PyBytes_Check(value.ptr()) && !PyByteArray_Check(value.ptr()))
        Invalid(key + " is not bytes");
      const std::string bytes = py::bytes(py::reinterpret_borrow<py::object>(value));
      *static_cast<std::vector<uint8_t>*>(at) = std::vector<uint8_t>(bytes.begin(), bytes.end());
      break;
    }
    case RecordField::kTime:
      *static_cast<FILETIME*>(at) = msgstore::FromTicks(Ticks(value, key));
      break;
  }
}

py::dict RecordToPy(const Record& r) {
  py::dict d;
  for (const RecordField& f : msgstore::RecordFields()) d[f.key] = FieldToPy(f, r);
  return d;
}

// The fields a dict gives, over a record of zeros.
Record RecordFromPy(const py::dict& fields) {
  Record r;
  for (const auto& item : fields) {
    const std::string key = py::str(item.first);
    const RecordField* f = msgstore::RecordFieldNamed(key);
    if (f == nullptr) Invalid("a message has no field " + key);
    FieldFromPy(*f, item.second, &r);
  }
  return r;
}

py::tuple LocationToPy(const Location& at) {
  return py::make_tuple(at.card, at.folder, at.id, at.account);
}

Location LocationFromPy(const py::tuple& at) {
  if (at.size() != 4) Invalid("a location is (card, folder, id, account)");
  return Location{at[0].cast<bool>(), Dword(at[1], "folder"), Dword(at[2], "id"),
                  Dword(at[3], "account")};
}

py::object OptionalLocation(const std::optional<Location>& at) {
  return at ? py::object(LocationToPy(*at)) : py::object(py::none());
}

py::dict WriteToPy(const msgstore::WriteResult& w) {
  return py::dict("stored"_a = OptionalLocation(w.stored), "other_storage"_a = w.otherStorage,
                  "evicted"_a = OptionalLocation(w.evicted));
}

py::dict AccountToPy(const msgstore::Account& a) {
  return py::dict("id"_a = a.id, "folder"_a = a.folder, "data"_a = a.data, "data1"_a = a.data1,
                  "data2"_a = a.data2, "text"_a = TextToPy(a.text));
}

msgstore::Account AccountFromPy(const py::dict& d) {
  msgstore::Account a;
  for (const auto& item : d) {
    const std::string key = py::str(item.first);
    if (key == "id")
      a.id = Dword(item.second, key);
    else if (key == "folder")
      a.folder = Dword(item.second, key);
    else if (key == "data")
      a.data = Dword(item.second, key);
    else if (key == "data1")
      a.data1 = static_cast<WORD>(Integer(item.second, key, 0, UINT16_MAX));
    else if (key == "data2")
      a.data2 = static_cast<WORD>(Integer(item.second, key, 0, UINT16_MAX));
    else if (key == "text")
      a.text = TextFromPy(item.second, key);
    else
      Invalid("an account has no field " + key);
  }
  return a;
}

StoreKind Kind(int store) {
  if (store < 0 || store > 2) Invalid("no store " + std::to_string(store));
  return static_cast<StoreKind>(store);
}

const char* OnCardName(msgstore::OnCard c) {
  switch (c) {
    case msgstore::OnCard::kOwn:
      return "own";
    case msgstore::OnCard::kNone:
      return "none";
    case msgstore::OnCard::kPhoneFile:
      return "phone_file";
    case msgstore::OnCard::kPhone:
      break;
  }
  return "phone";
}

py::list StoresToPy() {
  py::list stores;
  for (const msgstore::StoreDescription* s : msgstore::Stores()) {
    py::list folders;
    for (DWORD number : s->shown) {
      const msgstore::FolderDescription& f = *s->Folder(number);
      folders.append(py::dict("number"_a = f.number, "name"_a = f.name, "on_card"_a = f.onCard(),
                              "card"_a = OnCardName(f.card), "indexed"_a = f.indexed(),
                              "index_folder"_a = f.indexFolder, "sim"_a = f.sim,
                              "limited"_a = f.limited, "per_account"_a = f.perAccount,
                              "has_folder_path"_a = f.hasFolderPath));
    }
    stores.append(py::dict(
        "kind"_a = static_cast<int>(s->kind), "name"_a = s->name, "title"_a = s->title,
        "folder_limit"_a = s->folderLimit, "counter_file"_a = msgstore::WideToUtf8(s->counterFile),
        "extension"_a = msgstore::WideToUtf8(s->extension), "folders"_a = folders,
        "keeps_handset_counters"_a = s->countersMutex != nullptr));
  }
  return stores;
}

py::list FieldsToPy() {
  static const char* const kTypes[] = {"bool", "word", "dword", "int32", "text", "bytes", "time"};
  py::list fields;
  for (const RecordField& f : msgstore::RecordFields()) {
    py::list stores;
    for (const msgstore::StoreDescription* s : msgstore::Stores())
      if (f.KeptBy(s->kind)) stores.append(s->name);
    fields.append(py::make_tuple(f.key, kTypes[f.type], stores));
  }
  return fields;
}

// ---------------------------------------------------------------------------
// The device

// Calls on the device the process's root points at run side by side; a call
// on another device waits for them, points the root at its own and runs
// alone.
std::shared_mutex g_root;

class PyDevice {
 public:
  PyDevice(const std::string& root, bool create) {
    Result r;
    {
      py::gil_scoped_release nogil;
      std::unique_lock<std::shared_mutex> alone(g_root);
      device_ = msgstore::Device::Open(root, create, &r);
      if (device_ != nullptr) canonical_ = msgstore::GetDeviceRoot();
    }
    Check(r);
  }

  const std::string& root() const { return canonical_; }

  // Runs f on this device without the GIL. f touches no Python object.
  template <class F>
  auto Run(F f) {
    py::gil_scoped_release nogil;
    {
      std::shared_lock<std::shared_mutex> shared(g_root);
      if (msgstore::GetDeviceRoot() == canonical_) return f(*device_);
    }
    std::unique_lock<std::shared_mutex> alone(g_root);
    if (msgstore::GetDeviceRoot() != canonical_) msgstore::SetDeviceRoot(canonical_);
    return f(*device_);
  }

  msgstore::Store& StoreOf(msgstore::Device& d, int store) { return d.store(Kind(store)); }

  // --- the device

  void Init() {
    Check(Run([](msgstore::Device& d) { return d.Init(); }));
  }
  bool CardInserted() {
    return Run([](msgstore::Device& d) { return d.CardInserted(); });
  }
  void InsertCard() {
    Check(Run([](msgstore::Device& d) { return d.InsertCard(); }));
  }
  void RemoveCard() {
    Check(Run([](msgstore::Device& d) { return d.RemoveCard(); }));
  }

  // --- messages

  py::list List(int store, std::optional<bool> card, std::optional<DWORD> folder) {
    const StoreKind kind = Kind(store);
    const msgstore::ListResult r =
        Run([&](msgstore::Device& d) { return d.store(kind).List(card, folder); });
    Check(r);
    py::list out;
    for (const Location& at : r.messages) out.append(LocationToPy(at));
    return out;
  }

  py::object Find(int store, DWORD id, std::optional<bool> card) {
    const StoreKind kind = Kind(store);
    return OptionalLocation(Run([&](msgstore::Device& d) { return d.store(kind).Find(id, card); }));
  }

  py::dict Read(int store, const py::tuple& location, bool content) {
    const StoreKind kind = Kind(store);
    const Location at = LocationFromPy(location);
    const msgstore::ReadResult r =
        Run([&](msgstore::Device& d) { return d.store(kind).Read(at, content); });
    Check(r);
    return RecordToPy(r.record);
  }

  py::tuple Count(int store, bool card, DWORD folder, DWORD account) {
    const StoreKind kind = Kind(store);
    const msgstore::CountResult r =
        Run([&](msgstore::Device& d) { return d.store(kind).Count(card, folder, account); });
    Check(r);
    return py::make_tuple(r.messages, r.unread, r.unreadable);
  }

  bool TreeMade(int store, bool card) {
    const StoreKind kind = Kind(store);
    return Run([&](msgstore::Device& d) { return d.store(kind).TreeMade(card); });
  }

  std::optional<DWORD> Counter(int store) {
    const StoreKind kind = Kind(store);
    return Run([&](msgstore::Device& d) { return d.store(kind).Counter(); });
  }

  py::list IndexPlaces(int store) {
    const StoreKind kind = Kind(store);
    const auto places = Run([&](msgstore::Device& d) { return d.store(kind).IndexPlaces(); });
    py::list out;
    for (const msgstore::IndexPlace& p : places)
      out.append(py::make_tuple(LocationToPy(p.at), p.position));
    return out;
  }

  py::dict Add(int store, const py::dict& fields, int storage) {
    const StoreKind kind = Kind(store);
    if (storage < 0 || storage > 3) Invalid("no storage " + std::to_string(storage));
    const Record record = RecordFromPy(fields);
    const msgstore::WriteResult w = Run([&](msgstore::Device& d) {
      return d.store(kind).Add(record, static_cast<msgstore::Storage>(storage));
    });
    Check(w);
    return WriteToPy(w);
  }

  py::dict Rewrite(int store, const py::tuple& location, const py::dict& fields) {
    const StoreKind kind = Kind(store);
    const Location at = LocationFromPy(location);
    const Record record = RecordFromPy(fields);
    const msgstore::WriteResult w =
        Run([&](msgstore::Device& d) { return d.store(kind).Rewrite(at, record); });
    Check(w);
    return WriteToPy(w);
  }

  py::dict Move(int store, const py::tuple& location, DWORD folder) {
    const StoreKind kind = Kind(store);
    const Location at = LocationFromPy(location);
    const msgstore::WriteResult w =
        Run([&](msgstore::Device& d) { return d.store(kind).Move(at, folder); });
    Check(w);
    return WriteToPy(w);
  }

  void Delete(int store, const py::tuple& location) {
    const StoreKind kind = Kind(store);
    const Location at = LocationFromPy(location);
    Check(Run([&](msgstore::Device& d) { return d.store(kind).Delete(at); }));
  }

  void Mark(int store, const py::tuple& location, std::optional<bool> read,
            std::optional<long long> status, std::optional<long long> readReport) {
    const StoreKind kind = Kind(store);
    const Location at = LocationFromPy(location);
    if (status && (*status < 0 || *status > UINT16_MAX))
      Invalid("status is not a number from 0 to 65535");
    if (readReport && (*readReport < INT32_MIN || *readReport > INT32_MAX))
      Invalid("read_report is not a number from -2147483648 to 2147483647");
    Check(Run([&](msgstore::Device& d) {
      msgstore::Store& s = d.store(kind);
      Result r;
      if (r && read) r = s.SetRead(at, *read);
      if (r && status) r = s.SetStatus(at, static_cast<WORD>(*status));
      if (r && readReport) r = s.SetReadReport(at, static_cast<int32_t>(*readReport));
      return r;
    }));
  }

  void Empty(int store, bool card, DWORD folder, DWORD account) {
    const StoreKind kind = Kind(store);
    Check(Run([&](msgstore::Device& d) { return d.store(kind).Empty(card, folder, account); }));
  }

  void Refresh(int store, bool all) {
    const StoreKind kind = Kind(store);
    Check(Run([&](msgstore::Device& d) { return msgstore::RefreshIndexes(d, kind, all); }));
  }

  // --- accounts

  py::list Accounts() {
    const msgstore::AccountListResult r =
        Run([](msgstore::Device& d) { return d.accounts().List(); });
    Check(r);
    py::list out;
    for (const msgstore::Account& a : r.accounts) out.append(AccountToPy(a));
    return out;
  }

  py::dict Account(DWORD id) {
    const msgstore::AccountResult r =
        Run([&](msgstore::Device& d) { return d.accounts().Get(id); });
    Check(r);
    return AccountToPy(r.account);
  }

  py::dict AddAccount(const py::dict& fields) {
    const msgstore::Account a = AccountFromPy(fields);
    const msgstore::AccountResult r = Run([&](msgstore::Device& d) { return d.accounts().Add(a); });
    Check(r);
    return AccountToPy(r.account);
  }

  void RemoveAccount(DWORD id) {
    Check(Run([&](msgstore::Device& d) { return d.accounts().Remove(id); }));
  }

  DWORD IncomingServer() {
    return Run([](msgstore::Device& d) { return d.accounts().IncomingServer(); });
  }

  std::string IncomingServerName() {
    return Run([](msgstore::Device& d) { return d.accounts().IncomingServerName(); });
  }

  // The handset's SMS counters, (name, value) in the platform's order.
  py::list HandsetCounters() {
    const std::vector<std::pair<std::string, DWORD>> values = Run([](msgstore::Device&) {
      std::vector<std::pair<std::string, DWORD>> all;
      for (const auto& c : msgstore::DefaultPlatform::Counters())
        all.emplace_back(c.name, msgstore::DefaultPlatform::GetCounter(c.name));
      return all;
    });
    py::list out;
    for (const auto& [name, value] : values) out.append(py::make_tuple(name, value));
    return out;
  }

  void SetIncomingServer(DWORD id, const std::string& name) {
    Check(Run([&](msgstore::Device& d) { return d.accounts().SetIncomingServer(id, name); }));
  }

  py::dict AccountDatabase() {
    const msgstore::AccountDatabase r =
        Run([](msgstore::Device& d) { return d.accounts().Database(); });
    Check(r);
    py::list accounts;
    for (const msgstore::Account& a : r.accounts) accounts.append(AccountToPy(a));
    return py::dict("present"_a = r.present, "bytes"_a = r.bytes, "counter"_a = r.counter,
                    "accounts"_a = accounts, "whole"_a = r.whole);
  }

  // --- maintenance

  py::dict CheckDevice() {
    const msgstore::DeviceReport r = Run([](msgstore::Device& d) { return msgstore::Check(d); });
    return ReportToPy(r);
  }

  py::dict RepairDevice() {
    const msgstore::RepairReport r = Run([](msgstore::Device& d) { return msgstore::Repair(d); });
    py::list stores;
    for (const auto& s : r.stores)
      stores.append(
          py::dict("store"_a = s.store->name, "rebuilt"_a = s.rebuilt,
                   "counter"_a = s.counterSet ? py::object(py::int_(s.counterValue)) : py::none()));
    py::list temps;
    for (const std::u16string& t : r.tempsRemoved) temps.append(msgstore::Utf16ToUtf8(t));
    return py::dict("stores"_a = stores, "account_counter_set"_a = r.accountCounterSet,
                    "temps_removed"_a = temps, "after"_a = ReportToPy(r.after));
  }

  // items: (store, location, fields, index position or None, source);
  // accounts: (fields, position); database: (existed, bytes, counter) or
  // None; counters: (store, value); trees: (store, card); incoming: (id,
  // name) or None; handset: (counter name, value).
  py::dict Restore(const py::list& items, const py::list& accounts, const py::object& database,
                   const py::list& counters, const py::list& trees, bool replace,
                   const py::object& incoming, const py::list& handset) {
    struct Item {
      StoreKind store;
      Location at;
      Record record;
      std::optional<size_t> position;
      std::string source;
    };
    std::vector<Item> messages;
    for (const py::handle h : items) {
      const py::tuple t = py::reinterpret_borrow<py::tuple>(h);
      const py::object position = t[3];
      messages.push_back(
          {Kind(t[0].cast<int>()), LocationFromPy(t[1].cast<py::tuple>()),
           RecordFromPy(t[2].cast<py::dict>()),
           position.is_none() ? std::nullopt : std::optional<size_t>(position.cast<size_t>()),
           t[4].cast<std::string>()});
    }
    std::vector<std::pair<msgstore::Account, size_t>> restoredAccounts;
    for (const py::handle h : accounts) {
      const py::tuple t = py::reinterpret_borrow<py::tuple>(h);
      restoredAccounts.emplace_back(AccountFromPy(t[0].cast<py::dict>()), t[1].cast<size_t>());
    }
    std::optional<std::tuple<bool, DWORD, DWORD>> db;
    if (!database.is_none()) {
      const py::tuple t = database.cast<py::tuple>();
      db = std::make_tuple(t[0].cast<bool>(), Dword(t[1], "database_size"), Dword(t[2], "counter"));
    }
    std::vector<std::pair<StoreKind, DWORD>> raised;
    for (const py::handle h : counters) {
      const py::tuple t = py::reinterpret_borrow<py::tuple>(h);
      raised.emplace_back(Kind(t[0].cast<int>()), Dword(t[1], "counter"));
    }
    std::optional<std::pair<DWORD, std::string>> incomingServer;
    if (!incoming.is_none()) {
      const py::tuple t = incoming.cast<py::tuple>();
      incomingServer = {Dword(t[0], "incoming_server"), t[1].cast<std::string>()};
    }
    std::vector<std::pair<std::string, DWORD>> handsetCounters;
    for (const py::handle h : handset) {
      const py::tuple t = py::reinterpret_borrow<py::tuple>(h);
      handsetCounters.emplace_back(t[0].cast<std::string>(), Dword(t[1], "handset counter"));
    }
    std::vector<std::pair<StoreKind, bool>> made;
    for (const py::handle h : trees) {
      const py::tuple t = py::reinterpret_borrow<py::tuple>(h);
      made.emplace_back(Kind(t[0].cast<int>()), t[1].cast<bool>());
    }

    msgstore::Restorer::Report report;
    const Result r = Run([&](msgstore::Device& d) {
      msgstore::Restorer restorer(d);
      for (const Item& m : messages) restorer.Add(m.store, m.at, m.record, m.position, m.source);
      for (const auto& a : restoredAccounts) restorer.AddAccount(a.first, a.second);
      if (db) restorer.SetAccountDatabase(std::get<0>(*db), std::get<1>(*db), std::get<2>(*db));
      for (const auto& c : raised) restorer.SetCounter(c.first, c.second);
      for (const auto& t : made) restorer.MakeTree(t.first, t.second);
      if (incomingServer) restorer.SetIncomingServer(incomingServer->first, incomingServer->second);
      for (const auto& c : handsetCounters) restorer.SetHandsetCounter(c.first, c.second);
      return restorer.Commit(replace, &report);
    });
    Check(r);
    py::list skipped;
    for (const auto& s : report.skipped)
      skipped.append(py::make_tuple(static_cast<int>(s.store), LocationToPy(s.at), s.source));
    return py::dict(
        "written"_a = py::make_tuple(report.written[0], report.written[1], report.written[2]),
        "accounts"_a = report.accounts, "replaced_messages"_a = report.replacedMessages,
        "replaced_accounts"_a = report.replacedAccounts, "skipped"_a = skipped,
        "handset_counters"_a = report.handsetCounters,
        "incoming_server"_a = report.incomingServer != 0
                                  ? py::object(py::int_(report.incomingServer))
                                  : py::object(py::none()));
  }

 private:
  static py::dict ReportToPy(const msgstore::DeviceReport& r) {
    py::list stores;
    for (const msgstore::StoreReport& s : r.stores) {
      py::list indexes;
      for (const msgstore::IndexReport& i : s.indexes) {
        py::list problems;
        for (const msgstore::IndexProblem& p : i.problems)
          problems.append(py::dict("kind"_a = p.kind, "folder"_a = p.folder, "id"_a = p.id,
                                   "text"_a = p.text, "lasting"_a = p.lasting()));
        indexes.append(py::dict("name"_a = i.name, "folder"_a = i.folder, "account"_a = i.account,
                                "files"_a = i.files, "records"_a = i.records,
                                "problems"_a = problems));
      }
      const msgstore::CounterReport& c = s.counter;
      stores.append(py::dict(
          "store"_a = s.store->name, "indexes"_a = indexes,
          "counter"_a = py::dict("present"_a = c.present, "sound"_a = c.sound, "value"_a = c.value,
                                 "highest"_a = c.highest, "ok"_a = c.ok(), "state"_a = c.State())));
    }
    const msgstore::AccountReport& a = r.accounts;
    py::list temps;
    for (const std::u16string& t : r.temps) temps.append(msgstore::Utf16ToUtf8(t));
    return py::dict("stores"_a = stores,
                    "accounts"_a = py::dict("present"_a = a.present, "readable"_a = a.readable,
                                            "accounts"_a = a.accounts, "counter"_a = a.counter,
                                            "highest"_a = a.highest, "problem"_a = a.problem),
                    "temps"_a = temps, "ok"_a = r.ok());
  }

  std::unique_ptr<msgstore::Device> device_;
  std::string canonical_;
};

py::object ContentText(const py::bytes& content) {
  const std::string bytes = content;
  std::string text;
  if (!msgstore::ContentAsText(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), &text))
    return py::none();
  return py::str(text);
}

uint64_t ParseTime(const std::string& text) {
  FILETIME ft = {0, 0};
  if (!msgstore::ParseTime(text, &ft)) Invalid("'" + text + "' is not a time");
  return msgstore::Ticks(ft);
}

}  // namespace

PYBIND11_MODULE(_msgstore, m) {
  m.doc() = "The msgstore library's device API; use the msgstore package instead.";
  MakeErrors(m);
  m.def("record_fields", &FieldsToPy, "(key, type, stores) of every message field, in order.");
  m.def("stores", &StoresToPy, "The store descriptions: names, folders, limits.");
  m.def("default_root", &msgstore::Device::DefaultRoot, "The device root used when none is given.");
  m.def("content_text", &ContentText, "The content as text when it is UTF-16 text, else None.");
  m.def(
      "format_time",
      [](uint64_t ticks) { return msgstore::FormatTime(msgstore::FromTicks(ticks)); },
      "A time in ticks as ISO 8601, as the tool shows it.");
  m.def("parse_time", &ParseTime, "ISO 8601 text to ticks, as the tool reads it.");

  py::class_<PyDevice>(m, "Device")
      .def(py::init<const std::string&, bool>(), "root"_a, "create"_a)
      .def_property_readonly("root", &PyDevice::root)
      .def("init", &PyDevice::Init)
      .def("card_inserted", &PyDevice::CardInserted)
      .def("insert_card", &PyDevice::InsertCard)
      .def("remove_card", &PyDevice::RemoveCard)
      .def("list", &PyDevice::List, "store"_a, "card"_a, "folder"_a)
      .def("find", &PyDevice::Find, "store"_a, "id"_a, "card"_a)
      .def("read", &PyDevice::Read, "store"_a, "at"_a, "content"_a = true)
      .def("count", &PyDevice::Count, "store"_a, "card"_a, "folder"_a, "account"_a)
      .def("tree_made", &PyDevice::TreeMade, "store"_a, "card"_a)
      .def("counter", &PyDevice::Counter, "store"_a)
      .def("index_places", &PyDevice::IndexPlaces, "store"_a)
      .def("add", &PyDevice::Add, "store"_a, "fields"_a, "storage"_a)
      .def("rewrite", &PyDevice::Rewrite, "store"_a, "at"_a, "fields"_a)
      .def("move", &PyDevice::Move, "store"_a, "at"_a, "folder"_a)
      .def("delete", &PyDevice::Delete, "store"_a, "at"_a)
      .def("mark", &PyDevice::Mark, "store"_a, "at"_a, "read"_a, "status"_a, "read_report"_a)
      .def("empty", &PyDevice::Empty, "store"_a, "card"_a, "folder"_a, "account"_a)
      .def("refresh", &PyDevice::Refresh, "store"_a, "all"_a)
      .def("accounts", &PyDevice::Accounts)
      .def("account", &PyDevice::Account, "id"_a)
      .def("add_account", &PyDevice::AddAccount, "fields"_a)
      .def("remove_account", &PyDevice::RemoveAccount, "id"_a)
      .def("incoming_server", &PyDevice::IncomingServer)
      .def("set_incoming_server", &PyDevice::SetIncomingServer, "id"_a, "name"_a)
      .def("incoming_server_name", &PyDevice::IncomingServerName)
      .def("handset_counters", &PyDevice::HandsetCounters)
      .def("account_database", &PyDevice::AccountDatabase)
      .def("check", &PyDevice::CheckDevice)
      .def("repair", &PyDevice::RepairDevice)
      .def("restore", &PyDevice::Restore, "items"_a, "accounts"_a, "database"_a, "counters"_a,
           "trees"_a, "replace"_a, "incoming"_a = py::none(), "handset"_a = py::list());
}
