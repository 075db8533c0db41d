"""A handset's message store on a device root: SMS/EMS, MMS and e-mail.

    import msgstore

    dev = msgstore.Device("/path/to/device")   # or Device(): $MSGSTORE_ROOT, ...
    dev.init()
    m = dev.sms.add("inbox", to="+4915112345678", subject="Hi", text="See you at 8")
    for message in dev.sms.list("inbox", unread=True):
        print(message.id, message.time, message.subject, message.text)
    dev.sms.mark(m.id, read=True)

Every failure raises msgstore.Error, or one of its subclasses where a caller
tells them apart (NotFound, FolderFull, NoSpace, NoCard, Invalid, ...); its
text is the one line the msgstore tool prints.

Each call works on the device's files with the interpreter's lock released,
and is safe against other threads and processes using the same root.
"""

from __future__ import annotations

import datetime as _dt
import os
from typing import IO, Any, Dict, Iterator, List, NamedTuple, Optional, Tuple, Union

from . import _msgstore as _m
from ._msgstore import (  # noqa: F401 (the package's exceptions)
    BothFull,
    Error,
    Failed,
    FolderFull,
    Invalid,
    NoCard,
    NoSpace,
    NotFound,
    NotOnStorage,
    Refused,
)

__all__ = [
    "Account", "Accounts", "BothFull", "Count", "Device", "Error", "Failed", "Folder",
    "FolderFull", "Invalid", "Message", "NoCard", "NoSpace", "NotFound", "NotOnStorage",
    "Place", "Problem", "Refused", "RepairReport", "RestoreReport", "Store",
    "default_root", "from_ticks", "to_ticks",
]

FolderArg = Union[str, int]
PathOrFile = Union[str, "os.PathLike[str]", IO[str]]

# The fields of a message, (key, type, stores), as the library describes them.
_FIELDS: List[Tuple[str, str, List[str]]] = [tuple(f) for f in _m.record_fields()]  # type: ignore
_FIELD_TYPE: Dict[str, str] = {key: kind for key, kind, _ in _FIELDS}
_STORES = _m.stores()
_KIND = {s["name"]: s["kind"] for s in _STORES}
# What a write needs besides these comes from add()'s own arguments.
_NOT_ADDED = {"record_id", "record_folder", "content"}
_EXPORT_FORMAT, _EXPORT_VERSION = "msgstore-export", 2


# ---------------------------------------------------------------------------
# Times

_EPOCH = _dt.datetime(1601, 1, 1, tzinfo=_dt.timezone.utc)


def from_ticks(ticks: int) -> Optional[_dt.datetime]:
    """A file time (100-ns ticks since 1601, UTC) as an aware datetime;
    None past the year 9999. Ticks finer than a microsecond are dropped."""
    try:
        return _EPOCH + _dt.timedelta(microseconds=ticks // 10)
    except OverflowError:
        return None


def to_ticks(time: Union[_dt.datetime, _dt.date, str, int]) -> int:
    """A datetime (naive means UTC), a date, ISO 8601 text or ticks as ticks."""
    if isinstance(time, bool):
        raise Invalid("a time is a datetime, an ISO 8601 str or ticks, not a bool")
    if isinstance(time, int):
        return time
    if isinstance(time, str):
        return _m.parse_time(time)
    if isinstance(time, _dt.datetime):
        if time.tzinfo is None:
            time = time.replace(tzinfo=_dt.timezone.utc)
        delta = time - _EPOCH
    elif isinstance(time, _dt.date):
        delta = _dt.datetime(time.year, time.month, time.day, tzinfo=_dt.timezone.utc) - _EPOCH
    else:
        raise Invalid(f"a time is a datetime, an ISO 8601 str or ticks, not {type(time).__name__}")
    ticks = ((delta.days * 86400 + delta.seconds) * 1_000_000 + delta.microseconds) * 10
    if ticks < 0:
        raise Invalid(f"{time} is before 1601")
    return ticks


def default_root() -> str:
    """The device root Device() opens: $MSGSTORE_ROOT, else
    ${XDG_DATA_HOME:-$HOME/.local/share}/msgstore/device."""
    return _m.default_root()


# ---------------------------------------------------------------------------
# Values


class Folder(NamedTuple):
    """A folder of a store."""

    number: int
    name: str
    on_card: bool  # the memory card has it too
    indexed: bool  # a phone index file lists its messages
    sim: bool  # the phone's copies of SIM messages
    limited: bool  # holds at most the store's folder_limit messages per storage
    per_account: bool  # its messages belong to e-mail accounts


class Place(NamedTuple):
    """Where a message is (or was, for an evicted one)."""

    store: str
    storage: str  # "phone" or "card"
    folder: str
    id: int
    account: int = 0


class Count(NamedTuple):
    messages: int
    unread: int
    unreadable: int  # files that could not be read


class Problem(NamedTuple):
    """Something check() finds wrong."""

    store: Optional[str]  # "sms", "mms", "email"; None for the device's temporary files
    part: str  # the index ("inbox", "inbox 805306371"), "counter", "accounts" or a file
    kind: str  # "file_without_record", "counter", "accounts", "temporary_file", ...
    text: str  # one line, in the words the tool prints


class RepairReport(NamedTuple):
    rebuilt: List[Tuple[str, str]]  # (store, index) of each index built anew
    counters: Dict[str, int]  # the counters set, by store
    account_counter_set: bool
    temps_removed: List[str]
    problems: List[Problem]  # what is still wrong afterwards


class RestoreReport(NamedTuple):
    messages: Dict[str, int]  # messages written, by store
    accounts: int
    replaced_messages: int
    replaced_accounts: int
    skipped: List[str]  # messages the stores write nowhere, one line each
    handset_counters: int  # the handset's SMS counters set
    incoming_server: Optional[int]  # the account named the incoming-server account


class Account(NamedTuple):
    """An e-mail account of the account store."""

    id: int
    folder: int
    text: Optional[str]  # its name
    data: int = 0
    data1: int = 0
    data2: int = 0


def _storage(card: bool) -> str:
    return "card" if card else "phone"


class Message:
    """A stored message: where it is, and every field of its record.

    Location: store, id, storage ("phone"/"card"), card, folder (name),
    folder_number. Fields, by the keys the msgstore tool uses: read (bool),
    status, time and index_time (aware datetimes; time_ticks and
    index_time_ticks exact), to, subject, msg_id, text1..text4 (str, None
    where the store keeps no string), user1..user3, wuser1, wuser2, content
    (bytes), and the store's own: mms_text, mms_value1, ..., quick_value,
    email_text1, read_report, account, ... text is the content decoded when
    it is UTF-16 text, else None.

    A message returned by add() or move() also tells what the store did:
    evicted (the Place of the message deleted to make room, or None) and
    other_storage (the store used the other storage than asked).
    """

    __slots__ = ("store", "card", "folder_number", "id", "_account", "_fields", "evicted",
                 "other_storage")

    # The record's fields, for editors and type checkers; they are read from
    # the record by __getattr__ (a test holds them to the library's table).
    record_id: int
    record_folder: int
    read: bool
    status: int
    index_time: Optional[_dt.datetime]
    index_time_ticks: int
    time: Optional[_dt.datetime]
    time_ticks: int
    to: Optional[str]
    subject: Optional[str]
    msg_id: Optional[str]
    text1: Optional[str]
    text2: Optional[str]
    text3: Optional[str]
    text4: Optional[str]
    user1: int
    user2: int
    user3: int
    wuser1: int
    wuser2: int
    mms_text: Optional[str]
    mms_value1: int
    mms_value2: int
    mms_wvalue1: int
    mms_wvalue2: int
    mms_wvalue3: int
    mms_wquick1: int
    mms_wquick2: int
    quick_value: int
    email_data1: int
    email_text1: Optional[str]
    email_text2: Optional[str]
    read_report: int
    account: int
    email_data2: int
    content: bytes

    def __init__(self, store: str, at: Tuple[bool, int, int, int], fields: Dict[str, Any],
                 evicted: Optional[Place] = None, other_storage: bool = False) -> None:
        self.store = store
        self.card, self.folder_number, self.id, self._account = at
        self._fields = fields
        self.evicted = evicted
        self.other_storage = other_storage

    @property
    def storage(self) -> str:
        return _storage(self.card)

    @property
    def folder(self) -> str:
        return _folder_name(self.store, self.folder_number)

    @property
    def place(self) -> Place:
        return Place(self.store, self.storage, self.folder, self.id, self._account)

    @property
    def text(self) -> Optional[str]:
        return _m.content_text(self._fields["content"])

    @property
    def read_value(self) -> int:
        """The read flag as the file holds it (0 unread, any other value read)."""
        return self._fields["read"]

    def fields(self) -> Dict[str, Any]:
        """Every field of the record as raw values: ints, times in ticks, str or
        None, bytes; the keyword arguments that put it back (Store.put)."""
        return dict(self._fields)

    def __getattr__(self, name: str) -> Any:
        fields = object.__getattribute__(self, "_fields")
        if name.endswith("_ticks") and _FIELD_TYPE.get(name[:-6]) == "time":
            return fields[name[:-6]]
        if name not in fields or name not in _kept(self.store):
            raise AttributeError(f"a {self.store} message has no field {name!r}")
        kind, value = _FIELD_TYPE[name], fields[name]
        if kind == "bool":
            return value != 0
        if kind == "time":
            return from_ticks(value)
        return value

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Message):
            return NotImplemented
        return (self.store, self.place, self._fields) == (other.store, other.place, other._fields)

    def __hash__(self) -> int:
        return hash((self.store, self.place, self._fields["record_id"], self._fields["time"]))

    def __repr__(self) -> str:
        shown = [f"{self.store} {self.id}", f"{self.storage} {self.folder}"]
        if self._account:
            shown.append(f"account={self._account}")
        shown.append(f"read={self.read}")
        time = self.time
        shown.append(f"time={time.isoformat() if time else self.time_ticks}")
        for key in ("to", "subject"):
            if self._fields[key] is not None:
                shown.append(f"{key}={self._fields[key]!r}")
        text = self.text
        if text is not None:
            shown.append(f"text={text if len(text) <= 40 else text[:39] + '…'!r}")
        elif self._fields["content"]:
            shown.append(f"content=<{len(self._fields['content'])} bytes>")
        return "<Message " + " ".join(shown) + ">"


def _kept(store: str) -> set:
    return {key for key, _, stores in _FIELDS if store in stores}


_STORE_BY_NAME = {s["name"]: s for s in _STORES}


def _folder_name(store: str, number: int) -> str:
    for f in _STORE_BY_NAME[store]["folders"]:
        if f["number"] == number:
            return f["name"]
    return str(number)


def _place(store: str, at: Optional[Tuple[bool, int, int, int]]) -> Optional[Place]:
    if at is None:
        return None
    return Place(store, _storage(at[0]), _folder_name(store, at[1]), at[2], at[3])


# ---------------------------------------------------------------------------
# Stores


class Store:
    """One message store of a device: dev.sms, dev.mms or dev.email.

    A message is named by its identifier, looked for in phone memory before
    the card unless card= says which storage; folders by name ("inbox",
    "sim-inbox") or number.
    """

    def __init__(self, device: "Device", name: str) -> None:
        d = _STORE_BY_NAME[name]
        self._dev = device
        self._kind = d["kind"]
        self.name: str = name
        self.title: str = d["title"]
        self.folder_limit: int = d["folder_limit"]
        self.folders: List[Folder] = [
            Folder(f["number"], f["name"], f["on_card"], f["indexed"], f["sim"], f["limited"],
                   f["per_account"]) for f in d["folders"]]
        self._kept = _kept(name)

    def __repr__(self) -> str:
        return f"<Store {self.name} of {self._dev.root}>"

    def folder(self, folder: FolderArg) -> Folder:
        """The folder of that name (case and '_' for '-' do not matter) or number."""
        if isinstance(folder, str) and not folder.isdigit():
            wanted = folder.lower().replace("_", "-")
            found = [f for f in self.folders if f.name == wanted]
        elif isinstance(folder, (int, str)) and not isinstance(folder, bool):
            found = [f for f in self.folders if f.number == int(folder)]
        else:
            raise Invalid(f"a folder is a name or a number, not {type(folder).__name__}")
        if not found:
            names = ", ".join(f.name for f in self.folders)
            raise NotFound(f"the {self.title} has no folder {folder} (folders: {names})")
        return found[0]

    def _at(self, id: int, card: Optional[bool]) -> Tuple[bool, int, int, int]:
        at = self._dev._d.find(self._kind, id, card)
        if at is None:
            where = "" if card is None else f" on the {'memory card' if card else 'phone memory'}"
            raise NotFound(f"no {self.name} message {id}{where}")
        return at

    def _message(self, at, result=None) -> Message:
        fields = self._dev._d.read(self._kind, at)
        if result is None:
            return Message(self.name, at, fields)
        return Message(self.name, at, fields, _place(self.name, result["evicted"]),
                       result["other_storage"])

    def add(self, folder: FolderArg, *, to: Optional[str] = None, subject: Optional[str] = None,
            text: Optional[str] = None, body: Optional[bytes] = None, read: bool = False,
            time: Any = None, index_time: Any = None, status: int = 0,
            msg_id: Optional[str] = None, account: Optional[int] = None, card: bool = False,
            auto: bool = False, **fields: Any) -> Message:
        """Stores a new message in folder and returns it as stored.

        text is stored as UTF-16 content, body as the bytes given (one of
        them); time defaults to now and index_time to time. account names the
        e-mail account of an inbox message. card=True writes to the memory
        card; auto=True lets the store use the other storage when the folder
        is full. Any other field of the store's record may be given by its
        key (text1, user1, mms_text, quick_value, read_report, ...).

        The returned Message tells what the store did: evicted is the message
        it deleted to make room, other_storage whether it used the other
        storage. A full folder it may not leave raises FolderFull (BothFull
        when full on both), missing room NoSpace, an unusable card NoCard.
        """
        if text is not None and body is not None:
            raise Invalid("text and body both give the content: give one of them")
        record: Dict[str, Any] = {}
        for key, value in fields.items():
            if key not in self._kept or key in _NOT_ADDED:
                raise Invalid(f"a {self.name} message has no field {key!r} to give")
            record[key] = value
        if account is not None:
            if "account" not in self._kept:
                raise Invalid(f"a {self.name} message belongs to no account")
            record["account"] = account
        if text is not None and not isinstance(text, str):
            raise Invalid("text is not a str")
        content = text.encode("utf-16-le", "surrogatepass") if text is not None else body
        ticks = to_ticks(time) if time is not None else to_ticks(_dt.datetime.now(_dt.timezone.utc))
        record.update(to=to, subject=subject, msg_id=msg_id, status=status,
                      read=1 if read is True else read, time=ticks,
                      index_time=to_ticks(index_time) if index_time is not None else ticks,
                      content=content if content is not None else b"",
                      record_folder=self.folder(folder).number)
        storage = (3 if card else 2) if auto else (1 if card else 0)
        result = self._dev._d.add(self._kind, record, storage)
        return self._message(result["stored"], result)

    def list(self, folder: Optional[FolderArg] = None, *, card: Optional[bool] = None,
             unread: Optional[bool] = None, account: Optional[int] = None) -> Iterator[Message]:
        """The messages of a folder (every folder when None), ascending by
        storage (phone first), folder and identifier; card=True/False limits
        it to one storage, unread=True/False to unread or read messages,
        account= to one account's inbox messages. Messages are read as the
        iteration reaches them; one deleted meanwhile is left out."""
        number = None if folder is None else self.folder(folder).number
        for at in self._dev._d.list(self._kind, card, number):
            if account is not None and at[3] != account:
                continue
            try:
                message = self._message(at)
            except NotFound:
                continue
            if unread is not None and (message.read_value == 0) != unread:
                continue
            yield message

    def __iter__(self) -> Iterator[Message]:
        return self.list()

    def get(self, id: int, *, card: Optional[bool] = None) -> Message:
        """The message of that identifier; NotFound when there is none."""
        return self._message(self._at(id, card))

    def __contains__(self, id: object) -> bool:
        return isinstance(id, int) and self._dev._d.find(self._kind, id, None) is not None

    def mark(self, id: int, *, read: Optional[bool] = None, status: Optional[int] = None,
             read_report: Optional[int] = None, card: Optional[bool] = None) -> None:
        """Marks a message read or unread, and sets its status and (e-mail)
        read-report status, as given."""
        self._dev._d.mark(self._kind, self._at(id, card), read, status, read_report)

    def move(self, id: int, folder: FolderArg, *, card: Optional[bool] = None) -> Message:
        """Moves a message to another folder, where it gets a new identifier;
        returns it as moved (see add() for evicted and other_storage)."""
        number = self.folder(folder).number
        result = self._dev._d.move(self._kind, self._at(id, card), number)
        return self._message(result["stored"], result)

    def delete(self, id: int, *, card: Optional[bool] = None) -> None:
        self._dev._d.delete(self._kind, self._at(id, card))

    def empty(self, folder: FolderArg, *, card: bool = False,
              account: Optional[int] = None) -> None:
        """Deletes every message of a folder (of one account's, with account=)."""
        self._dev._d.empty(self._kind, card, self.folder(folder).number, account or 0)

    def count(self, folder: FolderArg, *, card: bool = False,
              account: Optional[int] = None) -> Count:
        """How many messages a folder holds, and how many of them are unread."""
        return Count(*self._dev._d.count(self._kind, card, self.folder(folder).number,
                                         account or 0))

    def put(self, place: Place, **fields: Any) -> Message:
        """Rewrites the message at place with the fields given over its own
        (a message's fields() are such fields); it keeps its identifier."""
        at = (place.storage == "card", self.folder(place.folder).number, place.id, place.account)
        record = self._dev._d.read(self._kind, at)
        for key, value in fields.items():
            if key not in self._kept:
                raise Invalid(f"a {self.name} message has no field {key!r}")
            record[key] = value
        result = self._dev._d.rewrite(self._kind, at, record)
        return self._message(result["stored"], result)

    def refresh(self, *, all: bool = False) -> None:
        """The store's own index rebuild; all=True rebuilds the indexes it keeps too."""
        self._dev._d.refresh(self._kind, all)


# ---------------------------------------------------------------------------
# Accounts


class Accounts:
    """The e-mail account store: dev.accounts."""

    def __init__(self, device: "Device") -> None:
        self._dev = device

    @staticmethod
    def _account(d: Dict[str, Any]) -> Account:
        return Account(d["id"], d["folder"], d["text"], d["data"], d["data1"], d["data2"])

    def __iter__(self) -> Iterator[Account]:
        return iter([self._account(a) for a in self._dev._d.accounts()])

    def __len__(self) -> int:
        return len(self._dev._d.accounts())

    def __contains__(self, id: object) -> bool:
        return any(a["id"] == id for a in self._dev._d.accounts())

    def get(self, id: int) -> Account:
        """The account of that identifier; NotFound when there is none."""
        return self._account(self._dev._d.account(id))

    def add(self, name: Optional[str], folder: int = 1, *, data: int = 0, data1: int = 0,
            data2: int = 0) -> Account:
        """A new account (its text is name, at most 255 UTF-16 code units),
        under the account counter's next identifier."""
        return self._account(self._dev._d.add_account(
            {"text": name, "folder": folder, "data": data, "data1": data1, "data2": data2}))

    def remove(self, id: int) -> None:
        """Removes an account; its inbox messages stay."""
        self._dev._d.remove_account(id)

    def use(self, id: int, *, name: Optional[str] = None) -> None:
        """Makes the account the incoming-server account, as the e-mail
        application names it in the registry (name: its registry name, 1 to
        15 letters, digits, '_' or '-'; default "Account" and the identifier
        in 8 hex digits)."""
        self._dev._d.set_incoming_server(id, name or "")

    @property
    def incoming(self) -> Optional[Account]:
        """The incoming-server account, or None."""
        id = self._dev._d.incoming_server()
        return self.get(id) if id else None

    def __repr__(self) -> str:
        return f"<Accounts of {self._dev.root}: {len(self)}>"


# ---------------------------------------------------------------------------
# The device


def _problems(report: Dict[str, Any]) -> List[Problem]:
    found: List[Problem] = []
    for s in report["stores"]:
        for index in s["indexes"]:
            for p in index["problems"]:
                found.append(Problem(s["store"], index["name"], p["kind"], p["text"]))
        if not s["counter"]["ok"]:
            found.append(Problem(s["store"], "counter", "counter",
                                 "identifier counter " + s["counter"]["state"]))
    if report["accounts"]["problem"]:
        found.append(Problem("email", "accounts", "accounts", report["accounts"]["problem"]))
    for path in report["temps"]:
        found.append(Problem(None, path, "temporary_file",
                             f"temporary file {path} left by a writer that stopped"))
    return found


class Device:
    """A device root: its stores (sms, mms, email), accounts and memory card.

    Device() opens the default root, as the msgstore tool does; the root
    directory is made when missing unless create=False.
    """

    def __init__(self, root: Union[str, "os.PathLike[str]", None] = None, *,
                 create: bool = True) -> None:
        self._d = _m.Device(os.fspath(root) if root is not None else "", create)
        self.sms = Store(self, "sms")
        self.mms = Store(self, "mms")
        self.email = Store(self, "email")
        self.accounts = Accounts(self)

    @property
    def root(self) -> str:
        return self._d.root

    @property
    def stores(self) -> Tuple[Store, Store, Store]:
        return (self.sms, self.mms, self.email)

    def store(self, name: str) -> Store:
        """The store of that name: "sms", "mms" or "email"."""
        for s in self.stores:
            if s.name == name:
                return s
        raise NotFound(f"no store {name!r} (stores: sms, mms, email)")

    def __repr__(self) -> str:
        return f"<Device {self.root}{' with card' if self.card else ''}>"

    def init(self) -> None:
        """Makes the message trees of phone memory and, when inserted, the card."""
        self._d.init()

    @property
    def card(self) -> bool:
        """Whether the memory card is inserted; set it to insert or remove
        the card (a removed card is kept aside until it is inserted again)."""
        return self._d.card_inserted()

    @card.setter
    def card(self, inserted: bool) -> None:
        if inserted and not self._d.card_inserted():
            self._d.insert_card()
        elif not inserted and self._d.card_inserted():
            self._d.remove_card()

    def check(self) -> List[Problem]:
        """What is wrong with the device: each phone index against its
        folders, the identifier counters, the account database and temporary
        files of writers that stopped. Empty when the device is sound."""
        return _problems(self._d.check())

    def repair(self) -> RepairReport:
        """Rebuilds the indexes that differ from their folders, raises the
        counters to the identifiers in use and removes temporary files; what
        is still wrong afterwards is in the report's problems."""
        r = self._d.repair()
        return RepairReport(
            [(s["store"], name) for s in r["stores"] for name in s["rebuilt"]],
            {s["store"]: s["counter"] for s in r["stores"] if s["counter"] is not None},
            r["account_counter_set"], r["temps_removed"], _problems(r["after"]))

    def export(self, file: PathOrFile, *, stores: Optional[List[str]] = None,
               accounts: bool = True) -> int:
        """Writes the device to file (a path or a text file) in the msgstore
        tool's export format, one JSON object a line; returns the lines
        written. Messages that cannot be read are left out and raise Failed
        once everything else is written."""
        from ._export import export
        return export(self, file, stores, accounts)

    def restore(self, file: PathOrFile, *, replace: bool = False) -> RestoreReport:
        """Puts back what an export holds, each message and account under its
        own identifier (the tool's import). The whole file is checked first:
        damaged lines raise Invalid naming each line, and nothing is written;
        so do stored messages or accounts of the same identifiers, unless
        replace=True."""
        from ._export import restore
        return restore(self, file, replace)
