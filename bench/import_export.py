#!/usr/bin/env python3
"""Times `msgstore import` and `msgstore export` of a whole device beside tar.

    bench/import_export.py [--tool BUILD/tools/msgstore/msgstore] [--reps 9]
                           [--base /dev/shm] [--per-folder 100] [--size 1024]
                           [--baseline OTHER/msgstore]

Makes a device of 3 stores x 2 storages (phone memory, memory card) x 3
folders (inbox, draft, sent) x --per-folder messages of --size bytes of
content each, with one e-mail account for the e-mail inboxes, by writing its
export file and importing it. Then, in rounds whose order is shuffled, times
as whole processes:

  import  `msgstore import FILE` onto a fresh root with the card inserted
  copy    `tar -cf - DiskOnChip 'SD Card' | tar -xf -` of the device's tree
          into a fresh directory
  export  `msgstore export > FILE`
  read    `tar -cf FILE DiskOnChip 'SD Card'` of the device's tree

and prints the median wall-clock and CPU time of each, and the ratios
import/copy and export/read. With --baseline, another build of the tool (an
earlier commit, say) imports and exports in the same shuffled rounds, so that
the two are compared under the same load. On a loaded machine the CPU times
say more: the SMS store yields the processor (Sleep(0)) around each file and
index access, which costs a time slice whenever another process waits for
the CPU.
The base directory should be a memory file system (/dev/shm) so that the
disk's write-back does not blur the figures.
"""
import argparse
import base64
import json
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time

STORES = ["sms", "mms", "email"]
FOLDERS = ["inbox", "draft", "sent"]
ACCOUNT = 805306371
COUNTER_FILES = {"sms": "EmsDB.ini", "mms": "MMSDB.ini", "email": "EmailDB.ini"}


def run(args, **kw):
    return subprocess.run(args, check=True, **kw)


def device_file(per_folder, size):
    """Writes the export of the device described above."""
    rnd = random.Random(20)
    ticks0 = 134410222186358104
    lines = [{
        "format": "msgstore-export", "version": 1, "stores": STORES, "accounts": True,
        "card_inserted": True, "trees": {"phone": STORES, "card": STORES},
    }]
    for s in STORES:
        per_store = 2 * len(FOLDERS) * per_folder
        lines.append({"type": "counter", "store": s, "file": COUNTER_FILES[s], "value": per_store})
        oid = 0
        for card in (False, True):
            for f in FOLDERS:
                for k in range(per_folder):
                    oid += 1
                    ticks = ticks0 + oid * 10_000_000
                    stamp = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(
                        (ticks - 116444736000000000) // 10_000_000)) + ".%07dZ" % (ticks % 10_000_000)
                    m = {
                        "type": "message", "store": s, "storage": "card" if card else "phone",
                        "folder": f, "id": oid, "record_id": oid, "read": False, "status": 0,
                        "index_time": stamp, "index_time_ticks": ticks, "time": stamp,
                        "time_ticks": ticks, "to": "+4915112345678", "subject": "message %d" % oid,
                        "msg_id": "", "text1": "", "text2": "", "text3": "", "text4": "",
                        "user1": 0, "user2": 0, "user3": 0, "wuser1": 0,
                    }
                    content = bytes(rnd.getrandbits(8) for _ in range(size))
                    m["content_size"] = size
                    m["content_base64"] = base64.b64encode(content).decode()
                    # Newest first in the phone index.
                    m["index_position"] = None if card else per_folder - 1 - k
                    lines.append(m)
    lines.append({"type": "accounts", "database": True, "database_size": 30,
                  "counter": ACCOUNT, "incoming_server": None, "incoming_server_name": None})
    lines.append({"type": "account", "position": 0, "id": ACCOUNT, "folder": 1, "data": 0,
                  "wdata1": 0, "wdata2": 0, "text": "Work"})
    # The closing line counts the lines before it.
    lines.append({"type": "end", "lines": len(lines),
                  "messages": {s: 2 * len(FOLDERS) * per_folder for s in STORES}, "accounts": 1})
    return lines


def complete(tool, probe_root, lines):
    """Fills each message line with the fields its store exports, from a probe
    device made by the tool itself (so the file follows the tool's format)."""
    env = dict(os.environ, MSGSTORE_ROOT=probe_root)
    run([tool, "init"], env=env, stdout=subprocess.DEVNULL)
    run([tool, "account", "add", "--folder", "1", "--text", "Work"], env=env,
        stdout=subprocess.DEVNULL)
    for s in STORES:
        for f in FOLDERS:
            extra = ["--account", str(ACCOUNT)] if s == "email" and f == "inbox" else []
            run([tool, "add", s, f, "--subject", "s", "--text", "t"] + extra, env=env,
                stdout=subprocess.DEVNULL)
    probe = subprocess.run([tool, "export"], env=env, check=True, capture_output=True,
                           text=True).stdout.splitlines()
    # The format version of the tool at hand.
    lines[0]["version"] = json.loads(probe[0])["version"]
    template = {}
    for line in probe:
        j = json.loads(line)
        if j.get("type") == "message":
            template[j["store"], j["folder"]] = j
    for m in lines:
        if m.get("type") != "message":
            continue
        for key, value in template[m["store"], m["folder"]].items():
            if key not in m and not key.startswith("content"):
                m[key] = value


def timed(args, stdout=None, cwd=None):
    """Wall-clock and CPU (user + system) seconds of the process (and its
    children, for a pipeline)."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=stdout, cwd=cwd)
    wall = time.perf_counter() - start
    now = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (now.ru_utime - used.ru_utime) + (now.ru_stime - used.ru_stime)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--tool", default=os.path.join(here, "..", "build-release", "tools",
                                                  "msgstore", "msgstore"))
    p.add_argument("--reps", type=int, default=9)
    p.add_argument("--base", default="/dev/shm" if os.access("/dev/shm", os.W_OK) else "/tmp")
    p.add_argument("--per-folder", type=int, default=100)
    p.add_argument("--size", type=int, default=1024)
    p.add_argument("--baseline", help="another build of the tool, timed in the same rounds")
    a = p.parse_args()
    tool = os.path.abspath(a.tool)
    work = os.path.join(a.base, "msgstore-import-bench-%d" % os.getpid())
    os.makedirs(work)
    try:
        lines = device_file(a.per_folder, a.size)
        complete(tool, os.path.join(work, "probe"), lines)
        export = os.path.join(work, "device.jsonl")
        with open(export, "w") as f:
            for j in lines:
                f.write(json.dumps(j, separators=(",", ":")) + "\n")
        source = os.path.join(work, "source")
        run([tool, "--root", source, "card", "insert"], stdout=subprocess.DEVNULL)
        run([tool, "--root", source, "import", export], stdout=subprocess.DEVNULL)
        tree = ["DiskOnChip", "SD Card"]
        files = sum(len(fs) for d in tree for _, _, fs in os.walk(os.path.join(source, d)))
        size = sum(os.path.getsize(os.path.join(r, n)) for d in tree
                   for r, _, fs in os.walk(os.path.join(source, d)) for n in fs)
        print("device: %d files, %.1f MB, under %s" % (files, size / 1e6, a.base))

        target = os.path.join(work, "target")
        out = os.path.join(work, "out")

        def fresh(path):
            shutil.rmtree(path, ignore_errors=True)
            os.makedirs(path)

        def do_import(tool=tool):
            shutil.rmtree(target, ignore_errors=True)
            run([tool, "--root", target, "card", "insert"], stdout=subprocess.DEVNULL)
            return timed([tool, "--root", target, "import", export], stdout=subprocess.DEVNULL)

        def do_copy():
            fresh(target)
            return timed(["sh", "-c", "tar -C \"$1\" -cf - DiskOnChip 'SD Card' | tar -C \"$2\" "
                          "-xf -", "copy", source, target])

        def do_export(tool=tool):
            with open(out, "w") as f:
                return timed([tool, "--root", source, "export"], stdout=f)

        def do_read():
            return timed(["tar", "-C", source, "-cf", out, "DiskOnChip", "SD Card"])

        work_items = {"import": do_import, "copy": do_copy, "export": do_export,
                      "read": do_read}
        if a.baseline:
            other = os.path.abspath(a.baseline)
            work_items["import0"] = lambda: do_import(other)
            work_items["export0"] = lambda: do_export(other)
        times = {k: [] for k in work_items}
        for _ in range(a.reps):
            order = list(work_items)
            random.shuffle(order)
            for k in order:
                times[k].append(work_items[k]())
        wall = {k: statistics.median(t[0] for t in v) for k, v in times.items()}
        cpu = {k: statistics.median(t[1] for t in v) for k, v in times.items()}
        for k in work_items:
            print("%-6s median %7.1f ms wall (min %.1f, max %.1f), %7.1f ms CPU" %
                  (k, wall[k] * 1e3, min(t[0] for t in times[k]) * 1e3,
                   max(t[0] for t in times[k]) * 1e3, cpu[k] * 1e3))
        print("import / tar copy: %.2f wall, %.2f CPU" %
              (wall["import"] / wall["copy"], cpu["import"] / cpu["copy"]))
        print("export / tar read: %.2f wall, %.2f CPU" %
              (wall["export"] / wall["read"], cpu["export"] / cpu["read"]))
        if a.baseline:
            print("baseline (import0, export0): import / tar copy %.2f wall, %.2f CPU; "
                  "export / tar read %.2f wall, %.2f CPU" %
                  (wall["import0"] / wall["copy"], cpu["import0"] / cpu["copy"],
                   wall["export0"] / wall["read"], cpu["export0"] / cpu["read"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
