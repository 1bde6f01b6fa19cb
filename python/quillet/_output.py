"""The export's output file, written as the command line writes it: into a hidden temporary file
beside it, which replaces it only when the export succeeded, so that a failed export leaves a
previous file as it was. The temporary file's name tells the machine and the process writing
it, so that an export into the folder removes those that ended processes left behind."""

import errno
import os
import random
import socket
import stat
import sys
import warnings
from typing import Callable, Optional

_WINDOWS = sys.platform == "win32"
# The longest file name, in bytes, that the systems take in a folder.
_MAX_NAME_BYTES = 255
# Between the target's name and the writer's tag.
_MARK = b".quillet-"
_RANDOM_DIGITS = 6
# The failures to create the temporary file after which a writable file is written in place.
_NOT_ALLOWED = (errno.EACCES, errno.EPERM, errno.EROFS)


def _native(path: bytes) -> "str | bytes":
    # The library's texts are in the code page on Windows, in which os does not read bytes.
    return path.decode("mbcs") if _WINDOWS else path


def _start_time(process: int) -> Optional[int]:
    """A process's start in clock ticks after boot, which tells it from a later process that
    got the same number; None when /proc does not show it."""
    try:
        with open(f"/proc/{process}/stat", "rb") as file:
            # The fields after the name in parentheses, from the third on: the start is the 22nd.
            return int(file.read().rsplit(b")", 1)[1].split()[19])
    except (OSError, IndexError, ValueError):
        return None


def _machine_tag() -> bytes:
    """The host name's FNV-1a hash: a folder shared with other machines keeps their files."""
    value = 2166136261
    for byte in os.fsencode(socket.gethostname()):
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return b"%08x" % value


def temporary_name(name: bytes) -> bytes:
    """Hidden, named after the target, and no longer than the longest file name."""
    if _WINDOWS:
        writer = b"00000000-%d-0" % os.getpid()
    else:
        writer = b"%s-%d-%d" % (_machine_tag(), os.getpid(), _start_time(os.getpid()) or 0)
    tag = _MARK + writer + b"-%06d" % random.randrange(10 ** _RANDOM_DIGITS)
    end = min(len(name), _MAX_NAME_BYTES - 1 - len(tag))
    while 0 < end < len(name) and name[end] & 0xC0 == 0x80:  # not inside a UTF-8 character
        end -= 1
    return b"." + name[:end] + tag


def _left_by_ended_process(name: bytes, machine: bytes) -> bool:
    mark = name.rfind(_MARK)
    parts = name[mark + len(_MARK):].split(b"-")
    if (not name.startswith(b".") or mark < 0 or len(parts) != 4 or parts[0] != machine
            or not all(part.isdigit() for part in parts[1:])
            or len(parts[3]) != _RANDOM_DIGITS):
        return False
    process, start = int(parts[1]), int(parts[2])
    if process == os.getpid():
        return False
    started = _start_time(process)
    if started is not None:
        return started != start
    try:
        os.kill(process, 0)
    except ProcessLookupError:
        return True
    except OSError:
        pass
    return False


def remove_stale_temporaries(folder: bytes) -> None:
    """Removes this user's temporary files that ended processes of this machine left there."""
    if _WINDOWS:
        return
    machine = _machine_tag()
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        if _left_by_ended_process(name, machine):
            path = os.path.join(folder, name)
            try:
                info = os.lstat(path)
                if stat.S_ISREG(info.st_mode) and info.st_uid == os.geteuid():
                    os.unlink(path)
            except OSError:
                pass


def _refuse_others_link(target: bytes) -> None:
    """The kernel's rule for protected symbolic links, whether or not the kernel applies it: in
    a folder that others may write to (sticky, or writable by others), a link that neither this
    user nor the folder's owner made is not followed, or anyone could point the export at a file
    of this user's and have it replaced."""
    if _WINDOWS:
        return
    try:
        link = os.lstat(target)
        folder = os.stat(os.path.dirname(target) or b".")
    except OSError:
        return
    if (stat.S_ISLNK(link.st_mode) and folder.st_mode & (stat.S_ISVTX | stat.S_IWOTH)
            and link.st_uid not in (os.geteuid(), folder.st_uid)):
        raise ValueError(f"{os.fsdecode(target)} is a symbolic link of another user in a folder "
                         "that others may write to: it is not followed, so that nobody can "
                         "point an export at a file of yours")


def _is_own_open_file(file: os.stat_result) -> bool:
    """Whether this process holds the file open (its standard output through /dev/stdout): the
    caller's redirection must get the rows, not lose its file to a rename."""
    try:
        descriptors = [int(name) for name in os.listdir("/proc/self/fd")]
    except (OSError, ValueError):
        descriptors = [0, 1, 2]
    for descriptor in descriptors:
        try:
            held = os.fstat(descriptor)
        except OSError:
            continue
        if (held.st_dev, held.st_ino) == (file.st_dev, file.st_ino):
            return True
    return False


class Output:
    """Where the export writes (path), then put in place (commit) or removed (abandon).
    refuse_folder: why no file may go into a folder (the one the file lands in, after links),
    or None; raised as ValueError before anything is written."""

    def __init__(self, target: bytes,
                 refuse_folder: Optional[Callable[[bytes], Optional[str]]] = None) -> None:
        self.path = target
        self._temporary = False
        self._previous: Optional[os.stat_result] = None
        _refuse_others_link(target)
        try:
            self._previous = os.stat(_native(target))
        except OSError:
            pass
        self._target = target
        if self._previous is not None:
            # Through a link, the file it names is replaced; the link stays.
            resolved = os.path.realpath(_native(target))
            self._target = resolved.encode("mbcs") if isinstance(resolved, str) else resolved
        regular = self._previous is None or stat.S_ISREG(self._previous.st_mode)
        folder = os.path.dirname(self._target) or b"."
        reason = refuse_folder(folder) if refuse_folder is not None and regular else None
        if reason:
            raise ValueError(reason)
        if not regular or (not _WINDOWS and self._previous is not None
                           and _is_own_open_file(self._previous)):
            # A device or a pipe holds no file to keep, nor may a file this process holds open
            # be replaced under its descriptor: written directly (a folder is refused).
            self._previous = None
            return
        remove_stale_temporaries(folder)
        for _ in range(100):
            temporary = os.path.join(folder, temporary_name(os.path.basename(self._target)))
            try:
                # Private while it fills when it replaces a file, which may be private.
                os.close(os.open(_native(temporary), os.O_WRONLY | os.O_CREAT | os.O_EXCL,
                                 0o600 if self._previous is not None else 0o666))
            except FileExistsError:
                continue
            except OSError as error:
                if self._previous is not None and error.errno not in _NOT_ALLOWED:
                    # A full disk, say: the export fails before the previous file is touched.
                    raise OSError(error.errno, "cannot create a file in the folder "
                                  f"{os.fsdecode(folder)}: {error.strerror}") from None
                # A folder that refuses new files to this user: the library then opens the file
                # itself, and says so when it cannot.
                if self._previous is not None and os.access(_native(target), os.W_OK):
                    warnings.warn(f"{os.fsdecode(target)} is written in place, as its folder "
                                  f"takes no temporary file ({error.strerror}): a failed export "
                                  "leaves it incomplete", RuntimeWarning, stacklevel=3)
                return
            self.path, self._temporary = temporary, True
            return

    def commit(self) -> None:
        if not self._temporary:
            return
        self._temporary = False
        if self._previous is not None:
            os.chmod(_native(self.path), stat.S_IMODE(self._previous.st_mode))
            if hasattr(os, "chown"):
                try:
                    os.chown(self.path, self._previous.st_uid, self._previous.st_gid)
                except OSError:
                    pass  # another owner needs privileges; the file stays the caller's
        try:
            os.replace(_native(self.path), _native(self._target))
        except OSError:
            os.unlink(_native(self.path))
            raise

    def abandon(self) -> None:
        if self._temporary:
            self._temporary = False
            try:
                os.unlink(_native(self.path))
            except OSError:
                pass
