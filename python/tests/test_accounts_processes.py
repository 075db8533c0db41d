"""Accounts, the README's examples, and a second process writing at the same time."""
import json
import os
import re
import subprocess
import sys
import time

import pytest

import msgstore

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")


def test_accounts_add_iterate_use_and_remove(dev):
    accounts = dev.accounts
    assert list(accounts) == [] and accounts.incoming is None
    work = accounts.add("Work")
    home = accounts.add("Home", 2, data=7, data1=8, data2=9)
    assert work == msgstore.Account(805306371, 1, "Work", 0, 0, 0)
    assert home == msgstore.Account(805306372, 2, "Home", 7, 8, 9)
    assert sorted(accounts) == [work, home] and len(accounts) == 2
    assert home.id in accounts and accounts.get(home.id) == home
    accounts.use(home.id)
    assert accounts.incoming == home
    with pytest.raises(msgstore.Invalid, match="account name 'no spaces'"):
        accounts.use(work.id, name="no spaces")
    with pytest.raises(msgstore.Invalid, match="at most 255"):
        accounts.add("x" * 256)
    accounts.remove(work.id)
    with pytest.raises(msgstore.NotFound, match=f"no account {work.id}"):
        accounts.remove(work.id)
    assert list(accounts) == [home]


def readme_examples():
    text = open(README, encoding="utf-8").read()
    python = text[text.index("\n## Python"):]
    return re.findall(r"```python\n(.*?)```", python, re.S)


def run_example(code, root, cwd):
    package = os.path.dirname(os.path.dirname(msgstore.__file__))
    path = os.pathsep.join([package] + [p for p in [os.environ.get("PYTHONPATH")] if p])
    env = dict(os.environ, MSGSTORE_ROOT=str(root), PYTHONPATH=path)
    done = subprocess.run([sys.executable, "-c", code], env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_the_readme_examples_run(dev, tmp_path):
    work = dev.accounts.add("Work")
    home = dev.accounts.add("Home")
    dev.email.add("inbox", account=work.id, subject="a")
    dev.email.add("inbox", account=work.id, subject="b")
    dev.email.add("inbox", account=home.id, subject="c", read=True)
    dev.sms.add("inbox", to="+49151", subject="Hi", text="See you, at 8",
                time="2026-12-05T15:04:05Z")
    first, unread, to_csv = readme_examples()
    shown = run_example(first, tmp_path / "first", tmp_path).splitlines()
    assert shown[0].startswith("1 phone inbox ") and shown[1].startswith("<Message sms 1 phone")
    assert shown[2:] == ["no sms message 1"]
    assert run_example(unread, dev.root, tmp_path) == "Work: 2 unread\nHome: 0 unread\n"
    assert run_example(to_csv, dev.root, tmp_path) == ""
    rows = (tmp_path / "sms.csv").read_text(encoding="utf-8").splitlines()
    assert rows == ["id,storage,folder,time,read,to,subject,text",
                    '1,phone,inbox,2026-12-05T15:04:05+00:00,False,+49151,Hi,"See you, at 8"']


WRITER = """
import json, os, sys, time
import msgstore
dev = msgstore.Device(sys.argv[1])
while not os.path.exists(sys.argv[2]):
    time.sleep(0.001)
added = [dev.mms.add("sent", subject="child") for _ in range(int(sys.argv[3]))]
print(json.dumps([[m.id, m.evicted and m.evicted.id] for m in added]))
"""


def test_a_second_process_writing_at_the_same_time(dev, tmp_path):
    """Both write to one full MMS folder: every message the two report evicted
    is gone and no other one is, though the store's own fullness test may let
    a write of one pass while the other's eviction is under way; the folder
    and its index stay whole."""
    mms = dev.mms
    first = [mms.add("sent", subject="old", time=1000 + i).id for i in range(mms.folder_limit)]
    go = tmp_path / "go"
    n = 25
    child = subprocess.Popen([sys.executable, "-c", WRITER, dev.root, str(go), str(n)],
                             stdout=subprocess.PIPE, text=True, env=dict(os.environ))
    try:
        time.sleep(0.2)
        go.touch()
        ours = [mms.add("sent", subject="parent") for _ in range(n)]
        out, _ = child.communicate(timeout=60)
    finally:
        child.kill()
    assert child.returncode == 0
    added = [[m.id, m.evicted and m.evicted.id] for m in ours] + json.loads(out)
    evicted = [e for _, e in added if e is not None]
    assert len(evicted) == len(set(evicted)) >= n
    left = {m.id: m.subject for m in mms.list("sent")}
    assert set(first) - set(left) == set(evicted)
    assert sorted(left[i] for i, _ in added) == ["child"] * n + ["parent"] * n
    assert len(left) == mms.folder_limit + 2 * n - len(evicted)
    assert dev.check() == []
