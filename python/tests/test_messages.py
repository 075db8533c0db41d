import datetime as dt

import pytest

import msgstore

UTC = dt.timezone.utc
STORES = ("sms", "mms", "email")


def filled(store, account):
    """A value of its own for every field the store keeps that add() takes."""
    fields = {}
    for n, (key, kind, stores) in enumerate(msgstore._FIELDS, 1):
        if store not in stores or key in ("record_id", "record_folder", "content", "read"):
            continue
        if kind == "text":
            fields[key] = f"t\u00e9xt \U0001F600 {key}"
        elif kind == "time":
            fields[key] = dt.datetime(2020, 1, 2, 3, 4, n, 123456, tzinfo=UTC)
        elif kind == "word":
            fields[key] = 0xFF00 + n
        elif kind == "int32":
            fields[key] = -n
        else:
            fields[key] = 0x80000000 + n
    if "account" in fields:
        fields["account"] = account
    return fields


@pytest.mark.parametrize("store", STORES)
def test_every_field_comes_back_as_python_values(dev, store):
    account = dev.accounts.add("Work").id
    fields = filled(store, account)
    added = dev.store(store).add("inbox", read=True, body=b"\x00\xff\x01", **fields)
    got = dev.store(store).get(added.id)
    assert got == added
    assert (got.store, got.storage, got.folder, got.folder_number) == (store, "phone", "inbox", 1)
    assert got.read is True and got.read_value == 1
    assert got.content == b"\x00\xff\x01" and got.text is None
    assert (got.record_id, got.record_folder) == (added.id, 1)
    for key, value in fields.items():
        assert getattr(got, key) == value, key
        assert type(getattr(got, key)) is type(value), key
    assert got.time.tzinfo is not None
    assert got.time_ticks == msgstore.to_ticks(fields["time"])
    # Fields of the other stores are not there.
    others = [k for k, _, stores in msgstore._FIELDS if store not in stores]
    for key in others:
        with pytest.raises(AttributeError):
            getattr(got, key)


def test_the_typed_fields_are_the_librarys():
    kinds = {"bool": "bool", "word": "int", "dword": "int", "int32": "int", "bytes": "bytes",
             "text": "Optional[str]", "time": "Optional[_dt.datetime]"}
    declared = dict(msgstore.Message.__annotations__)
    for key, kind, _ in msgstore._FIELDS:
        assert declared.pop(key) == kinds[kind], key
        if kind == "time":
            assert declared.pop(key + "_ticks") == "int"
    assert declared == {}


def test_texts_absent_and_odd_come_back_exactly(dev):
    m = dev.sms.add("draft", text="Grüße 👋", subject="\ud800 lone", to=None)
    got = dev.sms.get(m.id)
    assert got.text == "Grüße 👋"
    assert got.content == "Grüße 👋".encode("utf-16-le")
    assert got.subject == "\ud800 lone"
    assert got.to is None and got.msg_id is None
    assert dev.sms.add("draft", read=5).read_value == 5
    # Ticks finer than a microsecond stay exact beside the datetime.
    t = dev.sms.add("draft", time=130000000000000001)
    assert t.time_ticks == 130000000000000001
    assert t.time == dt.datetime(2012, 12, 14, 23, 6, 40, tzinfo=UTC)
    naive = dev.sms.add("draft", time=dt.datetime(2026, 1, 2, 3, 4, 5))
    assert naive.time == dt.datetime(2026, 1, 2, 3, 4, 5, tzinfo=UTC)
    assert naive.index_time == naive.time
    assert dev.sms.add("draft", time="2026-01-02T04:04:05+01:00").time == naive.time
    assert repr(got).startswith("<Message sms %d phone draft read=False time=" % m.id)
    assert "text='Grüße 👋'" in repr(got)


def test_add_at_the_folder_limit(card_dev):
    sms, mms = card_dev.sms, card_dev.mms
    for i in range(sms.folder_limit):
        assert sms.add("inbox", time=1000 + i).evicted is None
    with pytest.raises(msgstore.FolderFull) as full:
        sms.add("inbox")
    assert str(full.value) == ("the phone inbox is full: message not stored (letting the store "
                               "choose the storage puts it on the other)")
    moved = sms.add("inbox", auto=True)
    assert (moved.storage, moved.other_storage, moved.evicted) == ("card", True, None)
    assert sms.count("inbox") == (sms.folder_limit, sms.folder_limit, 0)

    ids = [mms.add("sent", time=2000 + i).id for i in range(mms.folder_limit)]
    newest = mms.add("sent", time=9000)
    # The full MMS folder makes room by deleting its oldest message.
    assert newest.evicted == msgstore.Place("mms", "phone", "sent", ids[0], 0)
    assert newest.other_storage is False and newest.storage == "phone"
    assert ids[0] not in mms and len(list(mms.list("sent", card=False))) == mms.folder_limit

    card_dev.card = False
    with pytest.raises(msgstore.NoCard):
        sms.add("draft", card=True)


def test_errors_are_exceptions_with_the_tools_words(dev):
    with pytest.raises(msgstore.NotFound) as e:
        dev.sms.get(42)
    assert str(e.value) == "no sms message 42"
    with pytest.raises(msgstore.NotFound):
        dev.sms.add("attic")
    with pytest.raises(msgstore.NoCard) as e:
        dev.sms.add("inbox", card=True)
    assert str(e.value) == "no memory card is inserted"
    with pytest.raises(msgstore.Invalid, match="status is not a number from 0 to 65535"):
        dev.sms.add("inbox", status=70000)
    with pytest.raises(msgstore.Invalid, match="user1 is not an int"):
        dev.sms.add("inbox", user1="7")
    with pytest.raises(msgstore.Invalid, match="NUL"):
        dev.sms.add("inbox", subject="a\0b")
    with pytest.raises(msgstore.Invalid, match="no field 'mms_text'"):
        dev.sms.add("inbox", mms_text="x")
    with pytest.raises(msgstore.Invalid, match="belongs to no account"):
        dev.mms.add("inbox", account=5)
    with pytest.raises(msgstore.Invalid, match="text and body"):
        dev.sms.add("inbox", text="a", body=b"b")
    with pytest.raises(msgstore.Invalid, match="needs the account"):
        dev.email.add("inbox")
    with pytest.raises(msgstore.NotFound, match="no account 805306371"):
        dev.email.add("inbox", account=805306371)
    with pytest.raises(msgstore.Invalid, match="read_report"):
        dev.email.mark(dev.email.add("sent").id, read_report=2**31)
    # Every one of them is a msgstore.Error, and the lookups a LookupError.
    assert issubclass(msgstore.FolderFull, msgstore.Error)
    assert issubclass(msgstore.NotFound, LookupError)
    assert issubclass(msgstore.Invalid, ValueError)
    with pytest.raises(msgstore.Invalid, match="time in ticks"):
        dev.sms.add("inbox", time=2**64)
    with pytest.raises(msgstore.Invalid, match="before 1601"):
        dev.sms.add("inbox", time=dt.datetime(1600, 12, 31, tzinfo=UTC))
    with pytest.raises(msgstore.Invalid, match="'yesterday' is not a time"):
        dev.sms.add("inbox", time="yesterday")
    with pytest.raises(msgstore.Invalid, match="content is not bytes"):
        dev.sms.add("inbox", body="text")
    with pytest.raises(TypeError):
        dev.sms.get("1")
    with pytest.raises(msgstore.NotFound, match="no device root at"):
        msgstore.Device(dev.root + "/missing", create=False)
    with pytest.raises(msgstore.Invalid, match="not a directory"):
        msgstore.Device(__file__)


def test_mark_move_delete_empty_and_list(dev):
    sms = dev.sms
    a = sms.add("inbox", text="a", time="2026-01-01")
    b = sms.add("inbox", text="b", time="2026-01-02")
    c = sms.add("draft", text="c")
    assert [m.id for m in sms.list()] == [a.id, b.id, c.id]
    assert [m.id for m in sms.list("inbox")] == [a.id, b.id]
    sms.mark(a.id, read=True, status=7)
    got = sms.get(a.id)
    assert (got.read, got.status) == (True, 7)
    assert [m.id for m in sms.list("inbox", unread=True)] == [b.id]
    assert [m.id for m in sms.list(1, unread=False)] == [a.id]
    rewritten = sms.put(got.place, subject="again", user3=3)
    assert (rewritten.id, rewritten.subject, rewritten.user3, rewritten.status) == (
        a.id, "again", 3, 7)
    assert sms.get(a.id) == rewritten
    moved = sms.move(b.id, "spam")
    assert moved.folder == "spam" and moved.id != b.id and moved.text == "b"
    assert b.id not in sms and moved.id in sms
    sms.delete(c.id)
    with pytest.raises(msgstore.NotFound):
        sms.delete(c.id)
    sms.empty("inbox")
    assert [m.id for m in sms] == [moved.id]
    assert sms.count("spam") == msgstore.Count(1, 1, 0)
    # Emptying leaves the index its records until a repair or a refresh.
    assert [(p.store, p.part, p.kind) for p in dev.check()] == [
        ("sms", "inbox", "record_without_file")]
    assert dev.repair() == msgstore.RepairReport([("sms", "inbox")], {}, False, [], [])
    assert dev.check() == []


def test_two_devices_in_one_process_keep_to_their_roots(tmp_path):
    one = msgstore.Device(tmp_path / "one")
    two = msgstore.Device(tmp_path / "two")
    one.init()
    two.init()
    one.sms.add("inbox", subject="one")
    two.sms.add("inbox", subject="two")
    two.sms.add("inbox", subject="two again")
    assert [m.subject for m in one.sms] == ["one"]
    assert [m.subject for m in two.sms] == ["two", "two again"]
    assert (tmp_path / "one" / "DiskOnChip").is_dir()


def test_threads_on_two_devices_write_each_to_its_own(tmp_path):
    """The calls release the interpreter's lock, and a call on one device
    waits while the other device's calls run."""
    import threading
    devices = [msgstore.Device(tmp_path / name) for name in ("a", "b")]
    for d in devices:
        d.init()
    errors = []

    def write(d, subject):
        try:
            for _ in range(40):
                d.sms.add("draft", subject=subject)
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=write, args=(d, name))
               for d, name in zip(devices * 2, ["a", "b", "a", "b"])]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    for d, name in zip(devices, "ab"):
        messages = list(d.sms.list("draft"))
        assert [m.subject for m in messages] == [name] * 80
        assert sorted(m.id for m in messages) == list(range(1, 81))
