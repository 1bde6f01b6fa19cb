#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/). Each seed is the byte
stream that fuzz_client_library.h describes: one code byte per call (0 is success), then the
reply of the calls that hand data back."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OK = b"\x00"


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


if __name__ == "__main__":
    database_list()
