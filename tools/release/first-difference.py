#!/usr/bin/python3
"""Names where two builds of one release file differ, member by member:
    first-difference.py FIRST SECOND
A Debian package: its ar members, then the entries of its control and data archives. A zip: its
entries. In both, entries whose contents differ come first, then entries in one build only, then
modes, owners and dates. An installer: its summary, its tables and its streams, as msiinfo reads
them. A Windows program: the parts of the file the differing bytes lie in (a header field or a
section). Prints one line per difference; exit code 1 when the files differ."""

import io
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile


def ar_members(data):
    if data[:8] != b"!<arch>\n":
        raise ValueError("not an ar archive")
    members, at = [], 8
    while at + 60 <= len(data):
        header = data[at:at + 60]
        size = int(header[48:58])
        members.append((header[:16].decode().strip().rstrip("/"), header, data[at + 60:at + 60 + size]))
        at += 60 + size + (size & 1)
    return members


def tar_entries(data):
    with tarfile.open(fileobj=io.BytesIO(data)) as tar:
        entries = {}
        for info in tar.getmembers():
            content = tar.extractfile(info).read() if info.isfile() else b""
            entries[info.name] = (content, (oct(info.mode), info.uid, info.gid, info.uname, info.gname, info.mtime,
                                            info.type, info.linkname))
        return entries


def compare_entries(where, first, second):
    """Entries of two archives (name: (contents, metadata)), in the first one's order."""
    contents = [f"{where}{name}: its contents" for name in first if name in second and first[name][0] != second[name][0]]
    alone = [f"{where}{name}: only in the {'second' if name in second else 'first'} build"
             for name in list(first) + list(second) if name not in first or name not in second]
    metadata = [f"{where}{name}: its mode, owner or date {first[name][1]} / {second[name][1]}"
                for name in first if name in second and first[name][1] != second[name][1]]
    return contents + alone + metadata


def deb(first, second):
    found = []
    a, b = ar_members(first), ar_members(second)
    if [m[0] for m in a] != [m[0] for m in b]:
        return [f"the members: {[m[0] for m in a]} / {[m[0] for m in b]}"]
    for (name, header_a, data_a), (_, header_b, data_b) in zip(a, b):
        if data_a != data_b:
            if ".tar" in name:
                inner = compare_entries(f"{name}: ", tar_entries(data_a), tar_entries(data_b))
                found += inner or [f"{name}: its compressed bytes, with the same entries"]
            else:
                found.append(f"{name}: its contents")
        elif header_a != header_b:
            found.append(f"{name}: its ar header (date, owner, group, mode) {header_a[16:48]} / {header_b[16:48]}")
    return found


def zip_entries(data):
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        return {i.filename: (z.read(i), (i.date_time, i.external_attr, i.create_system, i.compress_type))
                for i in z.infolist()}


def msi(first, second):
    with tempfile.TemporaryDirectory() as work:
        paths = []
        for n, data in enumerate((first, second)):
            paths.append(f"{work}/{n}.msi")
            with open(paths[-1], "wb") as f:
                f.write(data)

        def read(*args):
            return [subprocess.run(["msiinfo", *args[:1], path, *args[1:]], check=True, capture_output=True).stdout
                    for path in paths]

        found = []
        a, b = read("suminfo")
        if a != b:
            lines = [(x, y) for x, y in zip(a.decode().splitlines(), b.decode().splitlines()) if x != y]
            found += [f"summary: {x} / {y}" for x, y in lines]
        for table in read("tables")[0].decode().split():
            a, b = read("export", table)
            if a != b:
                found.append(f"table {table}")
        for stream in read("streams")[0].decode().split("\n"):
            if stream:
                a, b = read("extract", stream)
                if a != b:
                    found.append(f"stream {stream}")
        return found or ["the compound file's layout (same summary, tables and streams)"]


def pe(first, second):
    """The parts of the file the differing bytes lie in, in file order, with the first byte of each."""
    header = struct.unpack_from("<I", first, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", first, header + 6)[0], struct.unpack_from("<H", first, header + 20)[0]
    table = header + 24 + optional
    parts = [(header + 8, header + 12, "the header's link time (TimeDateStamp)"),
             (header + 24 + 64, header + 24 + 68, "the header's checksum")]
    for n in range(sections):
        name, _, _, raw_size, raw_at = struct.unpack_from("<8sIIII", first, table + 40 * n)
        parts.append((raw_at, raw_at + raw_size, "section " + name.rstrip(b"\0").decode()))

    found = {}
    for at in (i for i, (x, y) in enumerate(zip(first, second)) if x != y):
        part = next((name for begin, end, name in parts if begin <= at < end), "the headers")
        found.setdefault(part, (at, 0))
        found[part] = (found[part][0], found[part][1] + 1)
    return [f"{part}: {count} byte{'s' if count > 1 else ''} from byte {at} on" for part, (at, count) in found.items()]


def main():
    names = sys.argv[1:3]
    first, second = (open(path, "rb").read() for path in names)
    if first == second:
        return 0
    kind = names[0].rsplit(".", 1)[-1]
    try:
        if kind == "deb":
            found = deb(first, second)
        elif kind == "zip":
            found = compare_entries("", zip_entries(first), zip_entries(second))
        elif kind == "msi":
            found = msi(first, second)
        elif kind == "exe" and len(first) == len(second):
            found = pe(first, second)
        elif kind == "exe":
            found = [f"the sizes, {len(first)} and {len(second)} bytes"]
        elif names[0].endswith("SHA256SUMS"):
            lines = zip(first.decode().splitlines(), second.decode().splitlines())
            found = [f"the sum of {a.split(maxsplit=1)[-1]}" for a, b in lines if a != b]
        else:
            found = []
    except (ValueError, KeyError, struct.error, tarfile.TarError, zipfile.BadZipFile) as e:
        found = [f"(its members could not be read: {e})"]
    found = found or ["(no members to name)"]
    for line in found[:12]:
        print(line)
    if len(found) > 12:
        print(f"and {len(found) - 12} more")
    return 1


if __name__ == "__main__":
    sys.exit(main())
