"""Reads the exports' parameters, the result texts and the buffer sizes from the library's C
headers, so that the package calls and says exactly what the header and the command line do."""

import re
from pathlib import Path
from typing import Dict, Tuple

INCLUDE_DIR = Path(__file__).resolve().parent.parent / "include"

_DEFINE = re.compile(r"^#define (QUILLET_\w+) \(?(-?\d+)\)?\s*$", re.MULTILINE)
_CASE = re.compile(r'^\s*case (QUILLET_\w+): return "((?:[^"\\]|\\.)*)";\s*$', re.MULTILINE)
# Read as the build's check reads it: comments dropped, lines broken and indented anywhere.
_COMMENT = re.compile(r"/\*.*?\*/|//[^\n]*", re.DOTALL)
_EXPORT = re.compile(r"^\s*QUILLET_API\s+int32_t\s+QUILLET_CALL\s+(\w+)\s*\(([^)]*)\)\s*;",
                     re.MULTILINE)
# What each parameter type of an export passes as: a text, or a 32-bit number.
_KINDS = {"const char*": "text", "char*": "text", "int32_t": "number"}


def exports(include_dir: Path) -> Dict[str, Tuple[str, ...]]:
    """Each export quillet.h declares, with the kind of each of its parameters."""
    header = _COMMENT.sub(" ", (include_dir / "quillet.h").read_text(encoding="utf-8"))
    found: Dict[str, Tuple[str, ...]] = {}
    for name, parameters in _EXPORT.findall(header):
        types = [re.sub(r"\s*\*", "*", " ".join(p.replace("*", "* ").split()[:-1]))
                 for p in parameters.split(",")]
        if any(t not in _KINDS for t in types):
            raise ValueError(f"quillet.h: {name} has a parameter type the package cannot pass")
        found[name] = tuple(_KINDS[t] for t in types)
    if not found:
        raise ValueError("no exports found in quillet.h")
    return found


def read(include_dir: Path) -> Tuple[Dict[str, int], Dict[int, str]]:
    """The numeric defines of quillet.h, and the texts of quillet_result_text.h by code."""
    header = (include_dir / "quillet.h").read_text(encoding="utf-8")
    defines = {name: int(value) for name, value in _DEFINE.findall(header)}
    table = (include_dir / "quillet_result_text.h").read_text(encoding="utf-8")
    texts = {}
    for name, text in _CASE.findall(table):
        if name not in defines:
            raise ValueError(f"quillet_result_text.h names {name}, which quillet.h does not define")
        texts[defines[name]] = text.replace('\\"', '"').replace("\\\\", "\\")
    if not texts:
        raise ValueError("no result texts found in quillet_result_text.h")
    return defines, texts


def module_text(include_dir: Path) -> str:
    defines, texts = read(include_dir)
    lines = ['"""Generated from quillet.h and quillet_result_text.h when the package is built."""', ""]
    lines += ["from typing import Dict, Tuple", ""]
    for name, value in sorted(defines.items()):
        lines.append(f"{name[len('QUILLET_'):]} = {value}")
    lines += ["", "RESULT_TEXTS: Dict[int, str] = {"]
    lines += [f"    {code}: {text!r}," for code, text in sorted(texts.items())]
    lines += ["}", "", "EXPORTS: Dict[str, Tuple[str, ...]] = {"]
    lines += [f"    {name!r}: {kinds!r}," for name, kinds in sorted(exports(include_dir).items())]
    lines += ["}", ""]
    return "\n".join(lines)
