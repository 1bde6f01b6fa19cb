"""Stand-in servers for the tests, in a scratch folder of each test, made by the command line
named by $QUILLET_PROGRAM."""

import os
import subprocess
from pathlib import Path

import pytest

import quillet

PASSWORD = "secret"


@pytest.fixture
def standin_root(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Path:
    root = tmp_path / "servers"
    monkeypatch.setenv("QUILLET_STANDIN_ROOT", str(root))
    monkeypatch.delenv("QUILLET_STANDIN_SERVER", raising=False)
    return root


@pytest.fixture
def server(standin_root: Path) -> quillet.Server:
    program = os.environ.get("QUILLET_PROGRAM")
    if not program:
        pytest.fail("QUILLET_PROGRAM must name the quillet program that creates stand-in servers")
    subprocess.run([program, "server", "create", "PYSRV", "--password-file", "-"],
                   input=PASSWORD + "\n", text=True, check=True)
    return quillet.Server("PYSRV", password=PASSWORD)
