#!/usr/bin/python3
"""Makes an installer that wixl wrote the same file on every build of the same inputs:
    pin-msi-summary.py INSTALLER.msi NAMESPACE-UUID
wixl fills three fields of the summary information from the clock and from chance: the package code
(a new random UUID each run) and the created and last-saved times (the time of the run). This sets the
times to SOURCE_DATE_EPOCH (now, when it is not set), and the package code to a name-based UUID of the
whole file's SHA-256 with that code zeroed: the same content has the same code, any other content
another, as Windows Installer asks of a package code. The fields are rewritten in place, at the same
lengths, inside the compound file; nothing else in the file changes."""

import hashlib
import os
import struct
import sys
import time
import uuid

PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM = 9, 12, 13
VT_LPSTR, VT_FILETIME = 30, 64
END_OF_CHAIN = 0xFFFFFFFE


def chain(table, start):
    sectors = []
    while start != END_OF_CHAIN:
        if start >= len(table) or len(sectors) > len(table):
            sys.exit("pin-msi-summary: a broken sector chain")
        sectors.append(start)
        start = table[start]
    return sectors


def stream_offsets(data, wanted):
    """The file offsets of each byte of the stream named wanted, and its size."""
    if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
        sys.exit("pin-msi-summary: not a compound file")
    sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
    fat_sectors, dir_start, cutoff, minifat_start = struct.unpack_from("<I I 4x I I", data, 0x2C)
    difat_start, difat_count = struct.unpack_from("<I I", data, 0x44)

    def at(sector):
        return (sector + 1) * sector_size

    difat = list(struct.unpack_from("<109I", data, 0x4C))
    per_sector = sector_size // 4
    for _ in range(difat_count):
        entries = struct.unpack_from(f"<{per_sector}I", data, at(difat_start))
        difat += entries[:-1]
        difat_start = entries[-1]
    fat = []
    for sector in difat[:fat_sectors]:
        fat += struct.unpack_from(f"<{per_sector}I", data, at(sector))

    root = found = None
    for sector in chain(fat, dir_start):
        for entry in range(sector_size // 128):
            base = at(sector) + entry * 128
            name_bytes = struct.unpack_from("<H", data, base + 0x40)[0]
            name = data[base:base + max(name_bytes - 2, 0)].decode("utf-16-le")
            start, size = struct.unpack_from("<I I", data, base + 0x74)
            if data[base + 0x42] == 5:
                root = (start, size)
            elif name == wanted:
                found = (start, size)
    if root is None or found is None:
        sys.exit(f"pin-msi-summary: no stream {wanted!r}")
    start, size = found
    if size >= cutoff:
        sectors = chain(fat, start)
        return [at(sectors[i // sector_size]) + i % sector_size for i in range(size)], size

    # A small stream lives in the mini stream, which is itself the root entry's stream in the big sectors.
    minifat = []
    for sector in chain(fat, minifat_start):
        minifat += struct.unpack_from(f"<{per_sector}I", data, at(sector))
    ministream = chain(fat, root[0])
    offsets = []
    for mini in chain(minifat, start):
        place = mini * mini_size
        for i in range(mini_size):
            offsets.append(at(ministream[(place + i) // sector_size]) + (place + i) % sector_size)
    return offsets[:size], size


def main():
    path, namespace = sys.argv[1], uuid.UUID(sys.argv[2])
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or time.time())
    data = bytearray(open(path, "rb").read())
    offsets, size = stream_offsets(data, "\x05SummaryInformation")
    summary = bytearray(data[o] for o in offsets)

    # The property set: a header, one section (its offset after the format id), and in it pairs of
    # property id and offset from the section's start.
    section = struct.unpack_from("<I", summary, 28 + 16)[0]
    count = struct.unpack_from("<I", summary, section + 4)[0]
    places = dict(struct.unpack_from("<II", summary, section + 8 + 8 * i) for i in range(count))
    missing = {PID_REVNUMBER, PID_CREATE_DTM, PID_LASTSAVE_DTM} - places.keys()
    if missing:
        sys.exit(f"pin-msi-summary: the summary has no properties {sorted(missing)}")

    filetime = (epoch + 11644473600) * 10_000_000  # 100 ns steps since 1601-01-01 UTC
    for pid in (PID_CREATE_DTM, PID_LASTSAVE_DTM):
        where = section + places[pid]
        if struct.unpack_from("<I", summary, where)[0] != VT_FILETIME:
            sys.exit(f"pin-msi-summary: property {pid} is not a time")
        struct.pack_into("<Q", summary, where + 4, filetime)

    where = section + places[PID_REVNUMBER]
    kind, length = struct.unpack_from("<II", summary, where)
    if kind != VT_LPSTR or length != 39:
        sys.exit("pin-msi-summary: the package code is not a braced UUID")

    def put(code):
        summary[where + 8:where + 8 + 38] = ("{" + str(code).upper() + "}").encode()
        for o, b in zip(offsets, summary):
            data[o] = b

    put(uuid.UUID(int=0))
    put(uuid.uuid5(namespace, hashlib.sha256(data).hexdigest()))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
