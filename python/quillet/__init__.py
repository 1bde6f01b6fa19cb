"""Quillet for Python: one call per job on SQLBase servers, through the Quillet library.

Each method calls one function of the library (libquillet.so.1 or Quillet.dll) through ctypes
and raises QuilletError when it returns anything but 0.
"""

import ctypes
import os
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from . import _header, _output

__all__ = ["Connection", "Database", "QuilletError", "Server", "result_text", "library_candidates"]
__version__ = "1.0.0"

_WINDOWS = sys.platform == "win32"
_LIBRARY_NAME = "Quillet.dll" if _WINDOWS else f"libquillet.so.{__version__.split('.')[0]}"
# The library's texts are 8-bit, in the system's code page on Windows.
_ENCODING = "mbcs" if _WINDOWS else sys.getfilesystemencoding()

Text = Union[str, bytes, "os.PathLike[str]"]


def result_text(code: int) -> Optional[str]:
    """The meaning of one of the library's own results, or None for a client library code."""
    return _header.RESULT_TEXTS.get(code)


class QuilletError(Exception):
    """A job that returned a non-zero result; code is that result, signed. The message says
    what the command line says: the code's meaning and, from the stand-in server, its own words
    on the failure (detail), such as SQLite's message or a path and the system's reason."""

    def __init__(self, function: str, code: int, meaning: Optional[str] = None,
                 detail: Optional[str] = None) -> None:
        own = result_text(code)
        self.meaning = own if own is not None else meaning
        message = f"{function} failed with return code {code}"
        if own is not None:
            message += f" ({own})"
        elif meaning:
            message += f", a client library code ({meaning})"
        else:
            message += ", a return code of the SQLBase client library"
        super().__init__(message + (f": {detail}" if detail else ""))
        self.function = function
        self.code = code
        self.detail = detail

    def __reduce__(self) -> Tuple[type, Tuple[str, int, Optional[str], Optional[str]]]:
        # Rebuilt from its arguments, so that it crosses process boundaries (multiprocessing).
        return (QuilletError, (self.function, self.code, self.meaning, self.detail))


@dataclass(frozen=True)
class Connection:
    """One client process connected to a server."""

    process: int
    database: str
    user: str
    program: str


def library_candidates() -> List[str]:
    """Where the library is looked for: $QUILLET_LIBRARY alone when it is set, else this
    package's folder, then the system's search."""
    named = os.environ.get("QUILLET_LIBRARY")
    if named:
        # The library named on purpose is the one meant: another found instead would be a
        # surprise nobody sees.
        return [named]
    candidates = []
    beside = Path(__file__).resolve().parent / _LIBRARY_NAME
    if beside.exists():
        candidates.append(str(beside))
    candidates.append(_LIBRARY_NAME)
    return candidates


_library: Optional[ctypes.CDLL] = None


def _load() -> ctypes.CDLL:
    global _library
    if _library is not None:
        return _library
    candidates = library_candidates()
    failures = []
    for candidate in candidates:
        try:
            library = ctypes.CDLL(candidate)  # the exports are cdecl on Windows too
            break
        except OSError as error:
            failures.append(f"{candidate}: {error}")
    else:
        if os.environ.get("QUILLET_LIBRARY"):
            raise OSError("the Quillet library that QUILLET_LIBRARY names could not be loaded: "
                          + failures[0])
        raise OSError("the Quillet library could not be loaded (set QUILLET_LIBRARY to its "
                      "file): " + "; ".join(failures))
    # The parameters as quillet.h declares them, read when the package was built.
    kinds = {"text": ctypes.c_char_p, "number": ctypes.c_int32}
    for name, parameters in _header.EXPORTS.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            raise OSError(f"{candidate} is not the Quillet library: it has no {name}") from None
        function.argtypes = [kinds[kind] for kind in parameters]
        function.restype = ctypes.c_int32
    # The stand-in server's texts, found through the library's own client library; a real
    # client library has none.
    for name in ("standin_code_text", "standin_last_message"):
        function = getattr(library, name, None)
        if function is not None:
            function.argtypes = [ctypes.c_int32]
            function.restype = ctypes.c_char_p
            _standin_texts[name] = function
    # The stand-in's judgement of a statement and of a folder, which the command line asks too.
    for name, parameters in (("standin_statement_kind", [ctypes.c_char_p, ctypes.c_char_p]),
                             ("standin_is_server_folder", [ctypes.c_char_p])):
        function = getattr(library, name, None)
        if function is not None:
            function.argtypes = parameters
            function.restype = ctypes.c_int32
            _standin_checks[name] = function
    _library = library
    return library


_standin_texts: Dict[str, Any] = {}
_standin_checks: Dict[str, Any] = {}
# standin_statement_kind's answers (standin_admin.h) for a change, and for no rows.
_STATEMENT_CHANGES = 1
_STATEMENT_NO_ROWS = 2


def _refuse_server_folder(folder: bytes) -> Optional[str]:
    check = _standin_checks.get("standin_is_server_folder")
    if check is None or not check(folder):
        return None
    return (f"the folder {os.fsdecode(folder)} holds a stand-in server: the output file there "
            "could replace its catalogue or a database; write it elsewhere")


def _standin_text(name: str, code: int) -> Optional[str]:
    function = _standin_texts.get(name)
    text = function(code) if function is not None else None
    return text.decode(_ENCODING, errors="replace") if text else None


def _encode(value: Text, what: str) -> bytes:
    path = os.fspath(value)
    if isinstance(path, bytes):
        data = path
    elif _WINDOWS:
        data = path.encode(_ENCODING)
    else:
        # As os.fsencode: a name read from the system with bytes that do not decode (held as
        # surrogates) goes back as those bytes.
        data = path.encode(_ENCODING, "surrogateescape")
    # A NUL would end the text early: the library would act on a different name.
    if b"\0" in data:
        raise ValueError(f"{what} must not contain a NUL character")
    return data


def _int32(value: int, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not -2**31 <= value < 2**31:
        raise ValueError(f"{what} must be a whole number within 32 bits")
    return value


def _call(name: str, *arguments: object) -> None:
    code = getattr(_load(), name)(*arguments)
    if code != 0:
        # The stand-in keeps its words per thread: read on the thread that made the call.
        raise QuilletError(name, code, _standin_text("standin_code_text", code),
                           _standin_text("standin_last_message", code))


def _listing(name: str, size: int, *arguments: bytes) -> str:
    buffer = ctypes.create_string_buffer(size)
    _call(name, *arguments, buffer)
    return buffer.value.decode(_ENCODING, errors="replace")


class Server:
    """A database server, reached by its name and password."""

    def __init__(self, name: Text, password: Text = "") -> None:
        self._name = _encode(name, "the server name")
        self._password = _encode(password, "the password")

    def _job(self, name: str, database: Text) -> None:
        _call(name, self._name, self._password, _encode(database, "the database name"))

    def install_db(self, database: Text) -> None:
        self._job("InstallDB", database)

    def deinstall_db(self, database: Text) -> None:
        self._job("DeinstallDB", database)

    def create_db(self, database: Text) -> None:
        self._job("CreateDB", database)

    def drop_db(self, database: Text) -> None:
        self._job("DropDB", database)

    def terminate(self) -> None:
        _call("TerminateServer", self._name, self._password)

    def kill_connection(self, process: int) -> None:
        _call("KillConnection", self._name, self._password, _int32(process, "process"))

    def kill_all_connections(self, database: Optional[Text] = None) -> None:
        """Kills the processes of one database; None kills those of every database."""
        if database is not None and _encode(database, "the database name") == b"":
            raise ValueError("the database name must not be empty; None means every database")
        self._job("KillAllConnections", "" if database is None else database)

    def dir_db(self) -> List[str]:
        text = _listing("DirDB", _header.DATABASE_LIST_SIZE, self._name, self._password)
        return [name for name in text.split(";") if name]

    def list_connections(self) -> List[Connection]:
        text = _listing("ListConnections", _header.CONNECTION_LIST_SIZE, self._name,
                        self._password)
        connections = []
        for line in filter(None, text.split(";")):
            process, database, user, program = line.split(":", 3)
            connections.append(Connection(int(process), database, user, program))
        return connections

    def snapshot(self, database: Text, directory: Text, flag: int = 1) -> None:
        _call("SnapShot", _int32(flag, "flag"), self._name, self._password,
              _encode(database, "the database name"), _encode(directory, "the directory"))

    def all_snapshot(self, root_directory: Text) -> None:
        _call("AllSnapShot", self._name, self._password,
              _encode(root_directory, "the root directory"))


class Database:
    """A database, reached as one of its users."""

    def __init__(self, name: Text, user: Text, password: Text = "") -> None:
        self._credentials = (_encode(name, "the database name"), _encode(user, "the user"),
                             _encode(password, "the password"))
        # The library joins database, user and password with "/": one in a name would move
        # part of it into the password.
        if b"/" in self._credentials[0] or b"/" in self._credentials[1]:
            raise ValueError("the database name and the user must not contain '/'")

    def update_stats(self) -> None:
        _call("UpdateStats", *self._credentials)

    def release_log(self) -> None:
        _call("ReleaseLog", *self._credentials)

    def load(self, command: Text) -> None:
        _call("Load", *self._credentials, _encode(command, "the command"))

    def unload(self, command: Text) -> None:
        _call("Unload", *self._credentials, _encode(command, "the command"))

    def reload(self, script_file: Text) -> None:
        _call("ReLoad", *self._credentials, _encode(script_file, "the script file"))

    def export_csv(self, statement: Text, output_file: Text) -> None:
        """Writes into a temporary file beside output_file, which replaces it only when the
        export succeeded: a failed export leaves a previous file as it was. Raises ValueError
        before anything runs for a statement that is no query, an output file in a stand-in
        server's folder, or another user's link in a folder others may write to."""
        text = _encode(statement, "the statement")
        # The library runs the statement, runs it again and commits: with the stand-in, a
        # statement that is no query is refused before anything runs.
        _load()
        kind = _standin_checks.get("standin_statement_kind")
        judged = kind(self._credentials[0], text) if kind is not None else None
        if judged == _STATEMENT_CHANGES:
            raise ValueError("the statement would change the database, and export_csv takes a "
                             "query (reload runs changes, from a script): nothing was run")
        if judged == _STATEMENT_NO_ROWS:
            raise ValueError("the statement reads no rows, and export_csv takes a query: "
                             "nothing was run")
        try:
            output = _output.Output(_encode(output_file, "the output file"),
                                    _refuse_server_folder)
        except _output.NoNewFile as refused:
            # As the library would fail to open it, with the command line's reason.
            raise QuilletError("ExportCSV", _header.ERROR_FILE,
                               detail=refused.strerror) from None
        try:
            _call("ExportCSV", *self._credentials, text, output.path)
            output.commit()
        finally:
            output.abandon()
