"""Builds the package; the exports' parameters, the result texts and the buffer sizes come from
the C headers."""

import sys
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

sys.path.insert(0, str(Path(__file__).resolve().parent))
import header_table  # noqa: E402  (beside this file, not installed)


class BuildPyWithHeaderTable(build_py):
    """Writes quillet/_header.py from include/quillet.h and quillet_result_text.h."""

    def run(self) -> None:
        super().run()
        target = Path(self.build_lib) / "quillet" / "_header.py"
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(header_table.module_text(header_table.INCLUDE_DIR), encoding="utf-8")


setup(cmdclass={"build_py": BuildPyWithHeaderTable})
