#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

Each seed is a small, meaningful input in the layout its target reads (see the
comment at the top of each *_fuzzer.cpp): bytes, little-endian 32-bit integers
and raw little-endian doubles. Run from anywhere; it rewrites the seeds it
knows and leaves other files alone.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def b(*values):
    return bytes(values)


def i32(value):
    return struct.pack("<i", value)


def f64(value):
    return struct.pack("<d", value)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# --- hash table --------------------------------------------------------------
def key(text):
    raw = text.encode()
    return b(len(raw)) + raw


def insert(text):
    return b(0) + key(text)


def lookup(text):
    return b(4) + key(text)


def fail_next(n):
    return b(7, n - 1)


def hash_table_seeds():
    write("hash_table", "one_slot", b(0) + insert("a") + lookup("a") + insert("b") + lookup("b"))
    write("hash_table", "grow_twice",
          b(3) + b"".join(insert("k%d" % i) for i in range(9)) +
          b"".join(lookup("k%d" % i) for i in range(10)))
    write("hash_table", "failed_resize_then_full",
          b(3) + insert("B0") + insert("B1") + fail_next(2) + insert("B2") +
          fail_next(3) + insert("B3") + fail_next(2) + insert("B4") + insert("B5") +
          lookup("B5") + lookup("absent") + lookup("B0"))
    write("hash_table", "failed_key_copy",
          b(7) + fail_next(1) + insert("Zero") + lookup("Zero") + insert("Zero") + lookup("Zero"))
    write("hash_table", "duplicates_and_empty_key",
          b(15) + insert("") + insert("") + insert("sigma1") + insert("sigma1") +
          lookup("") + lookup("sigma1") + b"".join(insert("x%d" % i) for i in range(8)) +
          lookup("sigma1") + lookup(""))


if __name__ == "__main__":
    hash_table_seeds()
