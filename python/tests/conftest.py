import os
import subprocess

import pytest

import msgstore


@pytest.fixture
def root(tmp_path):
    return str(tmp_path / "device")


@pytest.fixture
def dev(root):
    d = msgstore.Device(root)
    d.init()
    return d


@pytest.fixture
def card_dev(root):
    d = msgstore.Device(root)
    d.card = True
    d.init()
    return d


@pytest.fixture
def tool(root):
    """Runs the msgstore tool on the same root: tool("ls", "sms", "inbox", json=True);
    on= runs it on another root."""
    path = os.environ.get("MSGSTORE_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("MSGSTORE_TOOL names no msgstore tool")

    def run(*args, json=False, check=True, on=None):
        command = [path, "--root", str(on or root)] + (["--json"] if json else []) + list(args)
        done = subprocess.run(command, capture_output=True, text=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError(f"{command} failed: {done.stderr}")
        return done

    return run
