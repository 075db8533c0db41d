"""The msgstore tool's export format: a device as one JSON object a line.

The first line names the format and its version, the parts it holds, whether
the card was inserted and which message trees were made; then per store its
identifier counter (beside the SMS store the handset's SMS counters) and
every message of both storages (every field, times also as exact ticks, the
content in base64, the place in its phone index); then the account database
with the incoming-server account and each account in the order the file keeps
them; last a closing line that counts the lines before it, the messages of
each store and the accounts, so that an export cut short is told apart.
"""

from __future__ import annotations

import base64
import binascii
import contextlib
import json
import os
from typing import IO, Any, Dict, Iterator, List, Optional, Tuple

from . import _msgstore as _m
from . import (_EXPORT_FORMAT, _EXPORT_VERSION, _FIELDS, _KIND, _STORE_BY_NAME, Failed,
               Invalid, RestoreReport, _folder_name, _storage)

_STORE_NAMES = [s["name"] for s in _m.stores()]
_KEEPS_HANDSET_COUNTERS = {s["name"] for s in _m.stores() if s["keeps_handset_counters"]}
_ACCOUNT_TEXT_UNITS = 255


@contextlib.contextmanager
def _opened(file: Any, mode: str) -> Iterator[IO[str]]:
    if hasattr(file, "write" if "w" in mode else "read"):
        yield file
        return
    with open(os.fspath(file), mode, encoding="utf-8", newline="\n") as f:
        yield f


def _line(j: Dict[str, Any]) -> str:
    return json.dumps(j, ensure_ascii=False, separators=(",", ":")) + "\n"


def _text(value: Optional[str]) -> str:
    """A store's string as UTF-8 can carry it: a lone surrogate becomes U+FFFD."""
    if value is None:
        return ""
    return value.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")


def _units_base64(value: Optional[str]) -> Optional[str]:
    """The UTF-16LE bytes of a string UTF-8 cannot carry as it is."""
    if value is None or _text(value) == value:
        return None
    return base64.b64encode(value.encode("utf-16-le", "surrogatepass")).decode("ascii")


def _message_line(store: str, at, record: Dict[str, Any], position: Optional[int]):
    j: Dict[str, Any] = {"type": "message", "store": store, "storage": _storage(at[0]),
                         "folder": _folder_name(store, at[1]), "id": at[2]}
    raw: Dict[str, str] = {}
    for key, kind, stores in _FIELDS:
        if store not in stores:
            continue
        value = record[key]
        if kind == "bool":
            j[key] = value != 0
        elif kind == "time":
            j[key] = _m.format_time(value)
            j[key + "_ticks"] = value
        elif kind == "text":
            j[key] = _text(value)
            units = _units_base64(value)
            if units is not None:
                raw[key + "_utf16_base64"] = units
        elif kind == "bytes":
            j["content_size"] = len(value)
            j["content_base64"] = base64.b64encode(value).decode("ascii")
            text = _m.content_text(value)
            if text is not None:
                j["content_text"] = text
        else:
            j[key] = value
    if record["read"] not in (0, 1):
        j["read_value"] = record["read"]
    j.update(raw)
    j["index_position"] = position
    return j


def export(device, file, stores: Optional[List[str]], accounts: bool) -> int:
    names = list(dict.fromkeys(stores if stores is not None else _STORE_NAMES))
    for name in names:
        if name not in _KIND:
            raise Invalid(f"unknown store {name!r} (stores: {', '.join(_STORE_NAMES)})")
    d = device._d
    card = d.card_inserted()
    lines = [{"format": _EXPORT_FORMAT, "version": _EXPORT_VERSION, "stores": names,
              "accounts": accounts, "card_inserted": card,
              "trees": {"phone": [n for n in names if d.tree_made(_KIND[n], False)],
                        "card": [n for n in names if card and d.tree_made(_KIND[n], True)]}}]
    unreadable, total = [], 0
    for name in names:
        kind = _KIND[name]
        counter_file = _STORE_BY_NAME[name]["counter_file"].rsplit("\\", 1)[-1]
        lines.append({"type": "counter", "store": name, "file": counter_file,
                      "value": d.counter(kind)})
        if name in _KEEPS_HANDSET_COUNTERS:
            lines.append({"type": "handset_counters", "store": name,
                          "values": dict(d.handset_counters())})
        messages = d.list(kind, None, None)
        # The indexes before any message is read, so that no read moves a record.
        places: Dict[Tuple, int] = {}
        for at, position in d.index_places(kind):
            places.setdefault(tuple(at), position)
        for at in messages:
            total += 1
            try:
                record = d.read(kind, at)
            except _m.Error as e:
                unreadable.append(str(e))
                continue
            position = None if at[0] else places.get(tuple(at))
            lines.append(_message_line(name, at, record, position))
    whole = True
    if accounts:
        db = d.account_database()
        incoming = d.incoming_server()
        lines.append({"type": "accounts", "database": db["present"],
                      "database_size": db["bytes"] if db["present"] else None,
                      "counter": db["counter"], "incoming_server": incoming or None,
                      "incoming_server_name": d.incoming_server_name() if incoming else None})
        for i, a in enumerate(db["accounts"]):
            line = {"type": "account", "position": i, "id": a["id"], "folder": a["folder"],
                    "data": a["data"], "wdata1": a["data1"], "wdata2": a["data2"],
                    "text": _text(a["text"])}
            units = _units_base64(a["text"])
            if units is not None:
                line["text_utf16_base64"] = units
            lines.append(line)
        whole = db["whole"]
    # An export that left something out has no closing line: a restore
    # refuses it as incomplete.
    if not unreadable and whole:
        counts = {n: 0 for n in names}
        for j in lines:
            if j.get("type") == "message":
                counts[j["store"]] += 1
        lines.append({"type": "end", "lines": len(lines), "messages": counts,
                      "accounts": sum(1 for j in lines if j.get("type") == "account")
                      if accounts else None})
    with _opened(file, "w") as out:
        for j in lines:
            out.write(_line(j))
    if unreadable:
        raise Failed(f"{len(unreadable)} of {total} messages could not be read and are missing "
                     f"from the export ({unreadable[0]})")
    if not whole:
        raise Failed("the export is missing accounts of a damaged account database")
    return len(lines)


# ---------------------------------------------------------------------------
# Reading an export


class _LineError(Exception):
    pass


def _field(j: Dict[str, Any], key: str) -> Any:
    if key not in j:
        raise _LineError(f'it has no "{key}"')
    return j[key]


def _unsigned(j, key: str, high: int) -> int:
    v = _field(j, key)
    if not isinstance(v, int) or isinstance(v, bool) or v < 0 or v > high:
        raise _LineError(f'"{key}" is not a number from 0 to {high}')
    return v


def _signed32(j, key: str) -> int:
    v = _field(j, key)
    if not isinstance(v, int) or isinstance(v, bool) or not -2**31 <= v < 2**31:
        raise _LineError(f'"{key}" is not a number from {-2**31} to {2**31 - 1}')
    return v


def _optional_unsigned(j, key: str, high: int) -> Optional[int]:
    return None if _field(j, key) is None else _unsigned(j, key, high)


def _boolean(j, key: str) -> bool:
    v = _field(j, key)
    if not isinstance(v, bool):
        raise _LineError(f'"{key}" is not true or false')
    return v


def _string(j, key: str) -> str:
    v = _field(j, key)
    if not isinstance(v, str):
        raise _LineError(f'"{key}" is not a string')
    return v


def _bytes(j, key: str) -> bytes:
    try:
        return base64.b64decode(_string(j, key).encode("ascii"), validate=True)
    except (binascii.Error, UnicodeEncodeError, ValueError):
        raise _LineError(f'"{key}" is not base64') from None


def _units(j, key: str) -> Optional[str]:
    """A string field, from "<key>_utf16_base64" when the line has it."""
    text = _string(j, key)
    raw = key + "_utf16_base64"
    if raw in j:
        data = _bytes(j, raw)
        if len(data) % 2:
            raise _LineError(f'"{raw}" is not UTF-16 (odd length)')
        text = data.decode("utf-16-le", "surrogatepass")
    if "\0" in text:
        raise _LineError(f'"{key}" holds a NUL character, which ends a stored string')
    return text or None


def _time(j, key: str) -> int:
    """The ticks of a time, which must give the time its ISO text gives."""
    iso = _string(j, key)
    ticks_key = key + "_ticks"
    try:
        given: Optional[int] = _m.parse_time(iso)
    except Exception:  # not a time of years 1601 to 9999
        given = None
    note = f' ("{key}" gives {given})' if given is not None else ""
    rounded = (" a JSON tool that reads numbers as doubles keeps whole numbers exact only up to "
               "2^53 and rounded them")
    value = _field(j, ticks_key)
    if isinstance(value, float):
        raise _LineError(f'"{ticks_key}" {json.dumps(value)} is not a whole number:{rounded}{note}')
    ticks = _unsigned(j, ticks_key, 2**64 - 1)
    if (given == ticks) if given is not None else iso == _m.format_time(ticks):
        return ticks
    if given is not None and ticks > 2**53 and float(given) == float(ticks):
        raise _LineError(f'"{key}" {iso} and "{ticks_key}" {ticks} are not the same time:'
                         f"{rounded}{note}")
    raise _LineError(f'"{key}" {iso} and "{ticks_key}" {ticks} are not the same time{note}; '
                     "an edited time needs its ticks edited too")


def _folder(store: str, value: Any, card: bool) -> int:
    folders = _STORE_BY_NAME[store]["folders"]
    if isinstance(value, str) and not value.isdigit():
        found = [f for f in folders if f["name"] == value.lower().replace("_", "-")]
    elif isinstance(value, (int, str)) and not isinstance(value, bool):
        found = [f for f in folders if f["number"] == int(value)]
    else:
        raise _LineError('"folder" is not a folder name or number')
    if not found:
        raise _LineError(f"the {store} store has no folder {value}")
    if card and not found[0]["on_card"]:
        raise _LineError(f"the memory card has no {store} {found[0]['name']} folder")
    return found[0]["number"]


def _message(j, store: str) -> Tuple:
    storage = _string(j, "storage")
    if storage not in ("phone", "card"):
        raise _LineError('"storage" is neither "phone" nor "card"')
    card = storage == "card"
    folder = _folder(store, _field(j, "folder"), card)
    id = _unsigned(j, "id", 0xFFFFFFFF)
    if id == 0:
        raise _LineError('"id" 0 is no message identifier')
    _unsigned(j, "record_id", 0xFFFFFFFF)
    _unsigned(j, "record_folder", 0xFFFFFFFF)
    record: Dict[str, Any] = {"record_id": id, "record_folder": folder}
    for key, kind, stores in _FIELDS:
        if store not in stores or key in record:
            continue
        if kind == "bool":
            record[key] = 1 if _boolean(j, key) else 0
            if "read_value" in j:
                record[key] = _signed32(j, "read_value")
                if (record[key] != 0) != _boolean(j, key):
                    raise _LineError('"read_value" and "read" disagree')
        elif kind == "time":
            record[key] = _time(j, key)
        elif kind == "text":
            record[key] = _units(j, key)
        elif kind == "bytes":
            size = _unsigned(j, "content_size", 0xFFFFFFFE)
            record[key] = _bytes(j, "content_base64")
            if len(record[key]) != size:
                raise _LineError(f'"content_base64" holds {len(record[key])} bytes, '
                                 f'"content_size" says {size}')
        elif kind == "word":
            record[key] = _unsigned(j, key, 0xFFFF)
        elif kind == "int32":
            record[key] = _signed32(j, key)
        else:
            record[key] = _unsigned(j, key, 0xFFFFFFFF)
    account = 0
    if any(f["number"] == folder and f["per_account"] for f in _STORE_BY_NAME[store]["folders"]):
        account = record["account"]
        if account == 0:
            raise _LineError(f"an {_folder_name(store, folder)} message needs its account "
                             f'("account" is {account})')
    position = _optional_unsigned(j, "index_position", 0xFFFFFFFF)
    return (_KIND[store], (card, folder, id, account), record, position)


def _account(j) -> Tuple[Dict[str, Any], int]:
    position = _unsigned(j, "position", 0xFFFFFFFF)
    a = {"id": _unsigned(j, "id", 0xFFFFFFFF), "folder": _unsigned(j, "folder", 0xFFFFFFFF),
         "data": _unsigned(j, "data", 0xFFFFFFFF), "data1": _unsigned(j, "wdata1", 0xFFFF),
         "data2": _unsigned(j, "wdata2", 0xFFFF), "text": _units(j, "text")}
    units = len((a["text"] or "").encode("utf-16-le", "surrogatepass")) // 2
    if units > _ACCOUNT_TEXT_UNITS:
        raise _LineError(f'"text" is {units} UTF-16 code units long; an account keeps at most '
                         f"{_ACCOUNT_TEXT_UNITS}")
    if a["id"] == 0:
        raise _LineError('"id" 0 is no account identifier')
    return a, position


def _header(j) -> Dict[str, Any]:
    if not isinstance(j, dict) or j.get("format") != _EXPORT_FORMAT:
        raise _LineError('this is not a msgstore export (its first line has no "format": '
                         f'"{_EXPORT_FORMAT}")')
    version = _unsigned(j, "version", 0xFFFFFFFF)
    if version != _EXPORT_VERSION:
        raise _LineError(f"the export has format version {version}; this msgstore reads "
                         f"version {_EXPORT_VERSION}")
    stores = _field(j, "stores")
    if not isinstance(stores, list):
        raise _LineError('"stores" is not a list of store names')
    for name in stores:
        if name not in _KIND:
            raise _LineError(f'"stores" names no store {json.dumps(name)}')
    trees = _field(j, "trees")
    made = []
    for storage in ("phone", "card"):
        names = trees.get(storage) if isinstance(trees, dict) else None
        if not isinstance(names, list):
            raise _LineError(f'"trees" has no list "{storage}"')
        for name in names:
            if name not in _KIND:
                raise _LineError(f'"trees" names no store {json.dumps(name)}')
            made.append((_KIND[name], storage == "card"))
    return {"stores": stores, "accounts": _boolean(j, "accounts"), "trees": made}


def _incomplete(closing, lines: int, header, messages, accounts) -> str:
    """The closing line against the lines before it: empty when they agree."""
    number, j = closing
    found = {s: 0 for s in header["stores"]}
    for item in messages:
        found[_STORE_NAMES[item[0]]] += 1
    try:
        differ = []

        def compare(what: str, said: int, seen: int) -> None:
            if said != seen:
                differ.append(f"{what} {said} ({seen} found)")
        compare("lines", _unsigned(j, "lines", 2**64 - 1), lines)
        counts = _field(j, "messages")
        if not isinstance(counts, dict) or len(counts) != len(found):
            raise _LineError('"messages" does not count the messages of each store the first '
                             "line lists")
        for store in sorted(found):
            compare(store, _unsigned(counts, store, 2**64 - 1), found[store])
        if header["accounts"]:
            compare("accounts", _unsigned(j, "accounts", 2**64 - 1), len(accounts))
    except _LineError as e:
        return f"line {number}: {e}"
    if not differ:
        return ""
    return (f"the export is incomplete: its closing line on line {number} counts "
            + ", ".join(differ))


def restore(device, file, replace: bool) -> RestoreReport:
    with _opened(file, "r") as f:
        text = f.read()
    name = str(getattr(file, "name", "the export")) if hasattr(file, "read") else os.fspath(file)
    errors: List[str] = []
    header = None
    messages: List[Tuple] = []
    lines_of: Dict[Tuple[int, int], int] = {}
    counters: Dict[str, Tuple[int, Optional[int]]] = {}
    database = None
    accounts: List[Tuple[Dict[str, Any], int]] = []
    handset: Dict[str, int] = {}
    closing: Optional[Tuple[int, Dict[str, Any]]] = None
    counted = last = 0  # lines read but blank ones, the last of them
    rows = text.split("\n")
    if rows and rows[-1] == "":
        rows.pop()
    for number, row in enumerate(rows, 1):
        row = row[:-1] if row.endswith("\r") else row
        if header is not None and not row.strip(" \t"):
            continue
        counted, last = counted + 1, number
        try:
            try:
                j = json.loads(row)
            except ValueError:
                raise _LineError("it is not JSON") from None
            if header is None:
                header = _header(j)
                continue
            if closing is not None:
                raise _LineError(f"it comes after the closing line on line {closing[0]}, which "
                                 "ends the export")
            if not isinstance(j, dict):
                raise _LineError("it is not a JSON object")
            kind = _string(j, "type")
            if kind == "end":
                closing = (number, j)
            elif kind in ("message", "counter", "handset_counters"):
                store = _string(j, "store")
                if store not in _KIND:
                    raise _LineError(f'"store" names no store: {store}')
                if store not in header["stores"]:
                    raise _LineError(f"the first line does not list the store {store}")
                if kind == "handset_counters":
                    if store not in _KEEPS_HANDSET_COUNTERS:
                        raise _LineError(f"the {store} store keeps no handset counters")
                    if handset:
                        raise _LineError("the handset counters are also on another line")
                    values = _field(j, "values")
                    if not isinstance(values, dict):
                        raise _LineError('"values" is not an object of counters')
                    known = [c for c, _ in device._d.handset_counters()]
                    for counter in values:
                        if counter not in known:
                            raise _LineError('"values" names no counter of the handset: '
                                             f"{counter} (counters: {', '.join(known)})")
                        handset[counter] = _unsigned(values, counter, 0xFFFFFFFF)
                elif kind == "message":
                    item = _message(j, store)
                    key = (item[0], item[1][2])
                    if key in lines_of:
                        raise _LineError(f"{store} message {key[1]} is also on line "
                                         f"{lines_of[key]}")
                    lines_of[key] = number
                    messages.append(item + (f"line {number}",))
                else:
                    if store in counters:
                        raise _LineError(f"the counter of {store} is also on line "
                                         f"{counters[store][0]}")
                    counters[store] = (number, _optional_unsigned(j, "value", 0xFFFFFFFF))
            elif kind in ("accounts", "account"):
                if not header["accounts"]:
                    raise _LineError("the first line says the export holds no accounts")
                if kind == "account":
                    accounts.append(_account(j))
                elif database is not None:
                    raise _LineError(f"the account database is also on line {database[0]}")
                else:
                    database = (number, _boolean(j, "database"),
                                _optional_unsigned(j, "database_size", 0xFFFFFFFF),
                                _optional_unsigned(j, "counter", 0xFFFFFFFF),
                                _optional_unsigned(j, "incoming_server", 0xFFFFFFFF))
                    if database[4] is not None:
                        database += (_string(j, "incoming_server_name"),)
            else:
                raise _LineError(f'"type" "{kind}" is none of "message", "counter", '
                                 '"handset_counters", "accounts", "account", "end"')
        except _LineError as e:
            errors.append(f"{name} line {number}: {e}")
            if header is None:
                break
    if not rows:
        errors.append(f"{name} is empty: it is not a msgstore export")
    # Last, so that the refusal names it when the file was cut short; the
    # counts only of lines that could all be read.
    if header is not None and closing is None:
        errors.append(f"{name}: the export is incomplete: it ends at line {last} without its "
                      'closing line {"type":"end",...} (cut short, or left out messages)')
    elif header is not None and not errors:
        problem = _incomplete(closing, counted - 1, header, messages, accounts)
        if problem:
            errors.append(f"{name}: {problem}")
    if errors:
        more = f" ({len(errors)} damaged lines)" if len(errors) > 1 else ""
        raise Invalid("; ".join(errors[:20]) + more + ": nothing imported")
    assert header is not None
    if header["accounts"] and database is None and accounts:
        raise Invalid("the export holds accounts but no line of the account database: "
                      "nothing imported")
    r = device._d.restore(
        messages, accounts,
        (database[1], database[2] or 0, database[3] or 0) if database and header["accounts"]
        else None,
        [(_KIND[s], v[1]) for s, v in counters.items() if v[1] is not None],
        header["trees"], replace,
        (database[4], database[5]) if database and header["accounts"] and database[4] is not None
        else None,
        sorted(handset.items()))
    skipped = [f"{source}: {_STORE_NAMES[store]} message {at[2]} of the "
               f"{_folder_name(_STORE_NAMES[store], at[1])} folder cannot be restored: the "
               "store writes no message there" for store, at, source in r["skipped"]]
    return RestoreReport({s: r["written"][_KIND[s]] for s in header["stores"]}, r["accounts"],
                         r["replaced_messages"], r["replaced_accounts"], skipped,
                         r["handset_counters"], r["incoming_server"])
