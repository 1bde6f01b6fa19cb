#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/). Each seed is the byte
stream that fuzz_client_library.h describes: one code byte per call (0 is success), then the
reply of the calls that hand data back. The active-cursor reply is laid out from the
constants of client/reply_layouts.h, read out of the header itself."""
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OK = b"\x00"


def layout_constants():
    """Every `constexpr <type> kName = <number>;` of the layout header, by name."""
    with open(os.path.join(HERE, "..", "client", "reply_layouts.h")) as header:
        text = header.read()
    found = re.findall(r"constexpr [\w:]+ (k\w+) = (-?\d+);", text)
    return {name: int(value) for name, value in found}


LAYOUT = layout_constants()


def reply(body, filler=0):
    return struct.pack("<H", len(body)) + bytes([filler]) + body


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def database_list():
    # connect, list, disconnect
    write("database_list", "two_names", OK + OK + reply(b"alpha\0beta\0\0") + OK)
    write("database_list", "empty", OK + OK + reply(b"\0") + OK)
    write("database_list", "no_closing_name", OK + OK + reply(b"a\0b", ord("x")) + OK)
    write("database_list", "list_fails", OK + b"\xc5" + OK)


def snapshot_list():
    # connect, list, a backup for each name, disconnect
    write("snapshot_list", "two_names", OK + OK + reply(b"alpha\0beta\0\0") + OK * 3)
    write("snapshot_list", "second_backup_fails", OK + OK + reply(b"alpha\0beta\0\0") + OK + b"\xc6" + OK)
    write("snapshot_list", "names_that_leave_the_root",
          OK + OK + reply(b"..\0.\0a\\b\0c/d\0e:\0f.\0 \0\0") + OK * 8)
    write("snapshot_list", "no_closing_name", OK + OK + reply(b"a\0b", ord("x")) + OK * 3)


def connect(setup=True):
    # opening, the read of parameter 1003 and its value, then "RL" and four parameters
    return OK + OK + (b"\x01" + OK * 5 if setup else b"\x00")


def column(kind, name, name_length=None):
    size = len(name) if name_length is None else name_length
    return (OK + struct.pack("<bhB", kind, 0, size) + bytes([len(name)]) + name  # describe
            + OK)  # bind


def select(name, columns, rows, count=None, end=OK * 2):
    data = connect() + OK + OK + struct.pack("<h", len(columns) if count is None else count)
    data += b"".join(column(*c) for c in columns) + OK  # execute
    for row in rows:
        data += OK + b"".join(bytes([len(v)]) + v for v in row)
    write("select", name, data + b"\xc0" + end)  # the fetch after the last row ends them


def selects():
    select("two_columns", [(1, b"NAME"), (2, b"AGE")], [[b"Smith", b"42"], [b"", b"7"]])
    select("quotes_and_line_feeds", [(1, b'QU"OTE'), (4, b"Q4"), (3, b"BARE")],
           [[b'a"b', b'"', b'x,"y'], [b"line\nfeed", b"cr\r\nlf", b"\n"]])
    select("unknown_types", [(0, b"ZERO"), (7, b"SEVEN"), (-1, b"NEG")], [[b"a", b"b", b"c"]])
    select("long_names", [(1, b"N" * 200, 255), (2, b"short", 200)], [[b"v" * 50, b"w" * 50]])
    select("no_columns", [], [], count=0)
    select("many_columns", [(1 + i % 6, b"C%d" % i) for i in range(255)],
           [[b'"' * 50] * 255])
    select("too_many_columns", [(1, b"C")], [], count=256)
    select("fetch_error", [(1, b"A")], [[b"1"], [b"2"], [b"3"]], end=b"\xc7" + OK * 2)
    write("select", "statement_fails", connect() + b"\xc5" + OK)


def cursor_reply(records, count=None):
    header, size = LAYOUT["kHeaderSize"], LAYOUT["kRecordSize"]
    body = bytearray(header + size * len(records))
    struct.pack_into("<H", body, LAYOUT["kCountOffset"], len(records) if count is None else count)
    for i, (process, user, database, program) in enumerate(records):
        at = header + size * i
        body[at + LAYOUT["kProcessOffset"]] = process
        for field, text in (("User", user), ("Database", database), ("Program", program)):
            start = at + LAYOUT["k%sOffset" % field]
            body[start:start + len(text)] = text[:LAYOUT["k%sSize" % field]]
    return bytes(body)


def active_cursors():
    records = [(12, b"CLERK", b"STOCK", b"ENTRY"), (3, b"ADMIN", b"SALES", b"REPORTS"),
               (0, b"", b"", b"SQLBase"), (7, b"X", b" ", b"BATCH"), (3, b"ADMIN", b"SALES", b"R")]
    kills = OK * 8  # a code for each kill call, then disconnect
    # database name length, the name, connect, reply request and its reply, kills
    write("active_cursors", "all_databases", b"\0" + OK + OK + reply(cursor_reply(records)) + kills)
    write("active_cursors", "one_database",
          b"\5SALES" + OK + OK + reply(cursor_reply(records)) + b"\xc2\xc5" + OK)
    write("active_cursors", "count_past_the_records",
          b"\0" + OK + OK + reply(cursor_reply(records[:1], count=600), 0x41) + kills)
    write("active_cursors", "long_texts", b"\0" + OK + OK + reply(cursor_reply(
        [(9, b"U" * 19, b"D" * 30, b"P" * 34)]), 0x41) + kills)
    write("active_cursors", "reply_fails", b"\0" + OK + b"\xc3" + OK)


if __name__ == "__main__":
    database_list()
    snapshot_list()
    selects()
    active_cursors()
