"""The msgstore tool and the package on one device: each reads what the other
wrote, and both write the same export and restore it alike."""
import base64
import filecmp
import json
import os

import pytest

import msgstore


def same_tree(a, b):
    """Whether two directory trees hold the same names and bytes."""
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.funny_files:
        return False
    if filecmp.cmpfiles(a, b, cmp.common_files, shallow=False)[1:] != ([], []):
        return False
    return all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


def fill(dev):
    """A device with something in every part the export covers."""
    dev.sms.add("inbox", to="+4915112345678", subject="Hi \ud800", text="See you", read=3,
                time="2026-01-02T03:04:05.1234567Z", user2=9)
    dev.sms.add("draft", body=b"\x01\x02\x03", card=True)
    dev.sms.add("sim-inbox", text="from the SIM")
    dev.mms.add("inbox", subject="Photo", body=b"\xff\xd8jpeg", mms_text="<smil/>",
                mms_value2=2**32 - 1, mms_wquick1=65535)
    dev.mms.add("none", subject="kept by file name only")
    work = dev.accounts.add("Work")
    home = dev.accounts.add("Home \udc00")
    dev.accounts.add("Other", 2, data=5, data1=6, data2=7)
    dev.accounts.use(work.id)
    dev.email.add("inbox", account=work.id, subject="a", text="hello", read_report=-2)
    dev.email.add("inbox", account=home.id, subject="b", email_text2="x")
    dev.email.add("sent", subject="c", quick_value=4, card=True)


def test_the_tool_reads_a_device_written_from_python(card_dev, tool):
    m = card_dev.sms.add("inbox", to="+49151", subject="Grüße", text="See you at 8",
                         time="2026-12-05T15:04:05Z", status=3)
    shown = json.loads(tool("show", "sms", str(m.id), json=True).stdout)
    assert (shown["id"], shown["folder"], shown["storage"]) == (m.id, "inbox", "phone")
    assert (shown["to"], shown["subject"], shown["status"]) == ("+49151", "Grüße", 3)
    assert shown["time"] == "2026-12-05T15:04:05Z" and int(shown["time_ticks"]) == m.time_ticks
    assert shown["read"] is False
    account = card_dev.accounts.add("Work", 3)
    listed = json.loads(tool("account", "ls", json=True).stdout)
    assert [(a["id"], a["folder"], a["text"]) for a in listed] == [(account.id, 3, "Work")]
    assert tool("check", "sms").returncode == 0


def test_python_reads_a_device_written_by_the_tool(root, tool):
    tool("card", "insert")
    tool("init")
    added = json.loads(tool("add", "sms", "inbox", "--to", "+4915112345678", "--subject", "Hi",
                            "--text", "See you at 8", "--time", "2026-12-05T15:04:05Z",
                            json=True).stdout)
    tool("--card", "add", "mms", "draft", "--mms-text", "<smil/>", "--mms-wvalue3", "12")
    tool("mark", "sms", str(added["id"]), "--read")
    dev = msgstore.Device(root)
    assert dev.card is True
    m = dev.sms.get(added["id"])
    assert (m.to, m.subject, m.text, m.read) == ("+4915112345678", "Hi", "See you at 8", True)
    assert m.time.isoformat() == "2026-12-05T15:04:05+00:00"
    [draft] = dev.mms.list(card=True)
    assert (draft.storage, draft.folder, draft.mms_text, draft.mms_wvalue3) == (
        "card", "draft", "<smil/>", 12)


def test_export_is_the_tools_and_restores_as_the_tools_import(tmp_path, card_dev, tool):
    fill(card_dev)
    ours = tmp_path / "python.jsonl"
    tool("counters", "EmsRecv", "5")
    tool("counters", "UnsentInSim", "2")
    assert card_dev.export(ours) == 18
    theirs = tool("export").stdout
    assert ours.read_text(encoding="utf-8") == theirs
    # The same file restored by the package and imported by the tool gives
    # the same files, byte for byte, and the files that were exported.
    copies = []
    for name in ("py", "tool"):
        copy = tmp_path / name
        os.makedirs(copy / "SD Card")
        copies.append(copy)
    report = msgstore.Device(copies[0]).restore(ours)
    # All six of the handset's SMS counters, and the account fill() made the
    # incoming-server account.
    assert report == msgstore.RestoreReport({"sms": 3, "mms": 2, "email": 3}, 3, 0, 0, [], 6,
                                            card_dev.accounts.incoming.id)
    tool("import", str(ours), on=copies[1])
    for part in ("DiskOnChip", "SD Card"):
        assert same_tree(os.path.join(card_dev.root, part), copies[0] / part), part
        assert same_tree(copies[0] / part, copies[1] / part), part
    again = msgstore.Device(copies[0])
    assert [a.id for a in again.accounts] == [a.id for a in card_dev.accounts]
    # The handset's counters and the incoming-server account came back too: each copy's export,
    # the package's and the tool's, is the original's.
    assert again.accounts.incoming.id == card_dev.accounts.incoming.id
    assert again.export(tmp_path / "again.jsonl") == 18
    assert (tmp_path / "again.jsonl").read_text(encoding="utf-8") == theirs
    assert tool("export", on=copies[1]).stdout == theirs


def test_restore_refuses_damaged_lines_and_stored_identifiers(tmp_path, dev, tool):
    dev.sms.add("inbox", text="x")
    export = tmp_path / "e.jsonl"
    dev.export(export, stores=["sms"], accounts=False)
    lines = export.read_text().splitlines()
    message = json.loads(lines[3])
    message["content_base64"] = base64.b64encode(b"abc").decode()
    bad = tmp_path / "bad.jsonl"
    bad.write_text("\n".join(lines[:3] + [json.dumps(message), "{"]) + "\n")
    fresh = msgstore.Device(tmp_path / "fresh")
    with pytest.raises(msgstore.Invalid) as e:
        fresh.restore(bad)
    assert str(e.value) == (
        f'{bad} line 4: "content_base64" holds 3 bytes, "content_size" says 2; '
        f"{bad} line 5: it is not JSON; {bad}: the export is incomplete: it ends at line 5 "
        'without its closing line {"type":"end",...} (cut short, or left out messages) '
        "(3 damaged lines): nothing imported")
    assert not os.path.exists(os.path.join(fresh.root, "DiskOnChip", "User"))
    with pytest.raises(msgstore.Invalid, match="not a msgstore export"):
        fresh.restore(_write(tmp_path / "other.jsonl", '{"format":"other"}\n'))
    # Ticks rounded to a double (as a JSON tool that reads numbers as doubles
    # gives them back) and a cut file: refused in the tool's words.
    message = json.loads(lines[3])
    ticks = int(message["time_ticks"])
    message["time_ticks"] = int(float(ticks)) if int(float(ticks)) != ticks else ticks + 1
    assert float(message["time_ticks"]) == float(ticks)
    for name, text in (("rounded", lines[:3] + [json.dumps(message)] + lines[4:]),
                       ("cut", lines[:4])):
        damaged = _write(tmp_path / f"{name}.jsonl", "\n".join(text) + "\n")
        with pytest.raises(msgstore.Invalid) as e:
            fresh.restore(damaged)
        told = tool("import", str(damaged), check=False, on=tmp_path / "fresh")
        assert (told.returncode, told.stderr) == (1, f"msgstore: {e.value}\n")
        assert ("rounded them" in str(e.value)) == (name == "rounded")
    with pytest.raises(msgstore.Refused, match="already holds sms message 1"):
        dev.restore(export)
    assert dev.restore(export, replace=True).replaced_messages == 1


def _write(path, text):
    path.write_text(text)
    return path
