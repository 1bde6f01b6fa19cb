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
import tempfile
import warnings
from typing import Callable, Optional

_WINDOWS = sys.platform == "win32"
if not _WINDOWS:
    import fcntl
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
                # One with another hard link is some other file's name too: kept.
                if (stat.S_ISREG(info.st_mode) and info.st_uid == os.geteuid()
                        and info.st_nlink == 1):
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


def _held_for_writing(file: os.stat_result) -> Optional[int]:
    """The descriptor through which this process holds the file open for writing (its standard
    output through /dev/stdout), or None: the caller's redirection must get the rows, not lose
    its file to a rename. One open only for reading is no reason to write into the file."""
    try:
        descriptors = sorted(int(name) for name in os.listdir("/proc/self/fd"))
    except (OSError, ValueError):
        descriptors = [0, 1, 2]
    for descriptor in descriptors:
        try:
            held = os.fstat(descriptor)
            writing = fcntl.fcntl(descriptor, fcntl.F_GETFL) & os.O_ACCMODE != os.O_RDONLY
        except OSError:
            continue
        if writing and (held.st_dev, held.st_ino) == (file.st_dev, file.st_ino):
            return descriptor
    return None


def _refuse_hard_linked(target: bytes, file: os.stat_result, why: str) -> None:
    """Writing into a file with another hard link changes it under every name: one in a stand-in
    server's folder may be a catalogue or a database, which no folder rule sees from here."""
    if file.st_nlink > 1:
        raise ValueError(f"{os.fsdecode(target)} has another hard link and {why}: writing into "
                         "it would change the file under every name it has (it could be a "
                         "stand-in server's database); write it elsewhere, or remove the other "
                         "link")


def _follow_dangling_link(target: bytes) -> bytes:
    """A target that is a link to no file: followed, so that the link stays, only when it is the
    caller's own link in a folder nobody else may write to, and what it names is no link
    itself; else ValueError. Any other target is returned as it is."""
    try:
        link = os.lstat(target)
    except OSError:
        return target
    if not stat.S_ISLNK(link.st_mode):
        return target
    folder = os.path.dirname(target) or b"."
    named = os.path.join(folder, os.readlink(target))
    try:
        place = os.stat(folder)
        own = (link.st_uid == os.geteuid() == place.st_uid
               and not place.st_mode & (stat.S_IWGRP | stat.S_IWOTH))
    except OSError:
        own = False
    if own and not os.path.lexists(named):
        return os.path.normpath(named)
    raise ValueError(f"{os.fsdecode(target)} is a symbolic link to a file that does not exist, "
                     "and not one of yours in a folder only you may write to: it is not "
                     "followed")


class NoNewFile(OSError):
    """The folder takes no new file (it is missing, read-only, someone else's): the output file,
    which does not exist, cannot be created; the export reports it as the library would."""


def _same_file(one: os.stat_result, other: os.stat_result) -> bool:
    return (one.st_dev, one.st_ino) == (other.st_dev, other.st_ino)


class Output:
    """Where the export writes (path), then put in place (commit) or removed (abandon).
    refuse_folder: why no file may go into a folder (the one the file lands in, after links),
    or None; raised as ValueError before anything is written. The temporary file stays open and
    the library is given its descriptor's path, so that nobody can swap the name for a link."""

    def __init__(self, target: bytes,
                 refuse_folder: Optional[Callable[[bytes], Optional[str]]] = None) -> None:
        self.path = target
        self._temporary = False
        self._name = target
        self._descriptor: Optional[int] = None
        self._held: Optional[int] = None
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
        elif not _WINDOWS:
            self._target = _follow_dangling_link(target)
        regular = self._previous is None or stat.S_ISREG(self._previous.st_mode)
        folder = os.path.dirname(self._target) or b"."
        reason = refuse_folder(folder) if refuse_folder is not None and regular else None
        if reason:
            raise ValueError(reason)
        if not regular:
            # A device or a pipe holds no file to keep: written directly (a folder is refused).
            self._previous = None
            return
        name = os.path.basename(self._target)
        if not _WINDOWS and self._previous is not None:
            self._held = _held_for_writing(self._previous)
        if self._held is not None:
            # Nor may a file this process holds open for writing be replaced under its
            # descriptor: filled through it, from a temporary file of the system's.
            _refuse_hard_linked(target, self._previous, "this program holds it open for writing")
            self._previous = None
            folder, name = os.fsencode(tempfile.gettempdir()), b"quillet-export"
        remove_stale_temporaries(folder)
        for _ in range(100):
            temporary = os.path.join(folder, temporary_name(name))
            try:
                # Private while it fills when it replaces a file, which may be private.
                descriptor = os.open(_native(temporary), os.O_RDWR | os.O_CREAT | os.O_EXCL,
                                     0o666 if self._previous is None and self._held is None
                                     else 0o600)
            except FileExistsError:
                continue
            except OSError as error:
                reason = f"cannot create a file in the folder {os.fsdecode(folder)}: " \
                         f"{error.strerror}"
                # A folder that refuses new files to this user: a file the user may write there
                # is written in place by the library, after saying so. Anything else (a full
                # disk) fails before the previous file is touched.
                if (self._held is None and self._previous is not None
                        and error.errno in _NOT_ALLOWED and os.access(_native(target), os.W_OK)):
                    _refuse_hard_linked(target, self._previous, f"its folder takes no temporary "
                                        f"file ({reason}), so it would be written in place")
                    warnings.warn(f"{os.fsdecode(target)} is written in place, as its folder "
                                  f"takes no temporary file ({reason}): a failed export "
                                  "leaves it incomplete", RuntimeWarning, stacklevel=3)
                    return
                if self._previous is None and self._held is None:
                    raise NoNewFile(error.errno, reason) from None
                raise OSError(error.errno, reason) from None
            self._name, self._temporary, self.path = temporary, True, temporary
            if _WINDOWS:
                os.close(descriptor)
                return
            self._descriptor = descriptor
            through = b"/proc/self/fd/%d" % descriptor
            try:
                if _same_file(os.stat(through), os.fstat(descriptor)):
                    self.path = through
            except OSError:
                pass
            return

    def _close(self) -> None:
        if self._descriptor is not None:
            os.close(self._descriptor)
            self._descriptor = None

    def _swapped(self) -> bool:
        """Whether the temporary name is no longer the file this process created."""
        if self._descriptor is None:
            return False
        try:
            return not _same_file(os.lstat(self._name), os.fstat(self._descriptor))
        except OSError:
            return True

    def _copy_to(self, held: int) -> None:
        # Read through the temporary file's descriptor, written through the held one: at its
        # position, or at its end when it appends; never truncated.
        for stream in (sys.stdout, sys.stderr):
            if stream is not None and held in (1, 2):
                stream.flush()
        assert self._descriptor is not None
        os.lseek(self._descriptor, 0, os.SEEK_SET)
        while True:
            block = os.read(self._descriptor, 1 << 16)
            if not block:
                return
            view = memoryview(block)
            while view:
                view = view[os.write(held, view):]

    def commit(self) -> None:
        if not self._temporary:
            return
        self._temporary = False
        try:
            if self._held is not None:
                try:
                    self._copy_to(self._held)
                finally:
                    self._unlink()
                return
            if self._previous is not None:
                if self._descriptor is not None:
                    os.fchmod(self._descriptor, stat.S_IMODE(self._previous.st_mode))
                    try:
                        os.fchown(self._descriptor, self._previous.st_uid, self._previous.st_gid)
                    except OSError:
                        pass  # another owner needs privileges; the file stays the caller's
                else:
                    os.chmod(_native(self._name), stat.S_IMODE(self._previous.st_mode))
            if self._swapped():
                # The name is someone else's now: neither renamed nor removed.
                raise OSError(errno.EEXIST, f"the temporary file {os.fsdecode(self._name)} was "
                              "replaced by someone else while the export ran: nothing was put "
                              "in place")
            try:
                os.replace(_native(self._name), _native(self._target))
            except OSError:
                self._unlink()
                raise
        finally:
            self._close()

    def _unlink(self) -> None:
        try:
            os.unlink(_native(self._name))
        except OSError:
            pass

    def abandon(self) -> None:
        if self._temporary:
            self._temporary = False
            self._unlink()
        self._close()
