#!/usr/bin/python3
"""Reads the resources back out of the Windows program and checks them: the one icon group and its
four images, the version resource, the manifest, and the DLLs it imports. Prints what it read;
exits 1 when anything differs.

    check-resources.py PROGRAM.exe VERSION PRODUCT_NAME
"""
import re
import struct
import sys

import pefile

SYSTEM_DLLS = {  # present on every Windows
    "advapi32.dll", "comdlg32.dll", "crypt32.dll", "dwmapi.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "uuid.dll", "version.dll", "winmm.dll", "wininet.dll", "ws2_32.dll", "wsock32.dll",
    "comctl32.dll", "iphlpapi.dll", "d2d1.dll", "dwrite.dll", "dxgi.dll", "d3d11.dll", "opengl32.dll",
}

problems = []


def expect(what, actual, wanted):
    shown = actual if not isinstance(actual, bytes) else actual.decode(errors="replace")
    print(f"  {what}: {shown}")
    if actual != wanted:
        problems.append(f"{what}: {shown!r}, not {wanted!r}")


def entries(pe, type_id):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in resources.entries if resources else []:
        if entry.id == type_id:
            return entry.directory.entries
    return []


def data_of(pe, entry):
    leaf = entry.directory.entries[0].data.struct
    return pe.get_data(leaf.OffsetToData, leaf.Size)


pe = pefile.PE(sys.argv[1])
version, product = sys.argv[2], sys.argv[3]
icons = {e.id: data_of(pe, e) for e in entries(pe, pefile.RESOURCE_TYPE["RT_ICON"])}
groups = entries(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])

print("Icon groups:")
expect("names", [str(g.name) if g.name else g.id for g in groups], ["IDI_ICON1"])
images = []
for group in groups:
    data = data_of(pe, group)
    _, _, count = struct.unpack_from("<HHH", data, 0)
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
        png = icons[icon_id][:8] == b"\x89PNG\r\n\x1a\n"
        images.append((width or 256, height or 256, bits, png))
expect("images (size, size, bits, stored as PNG)", sorted(images),
       [(16, 16, 32, False), (32, 32, 32, False), (48, 48, 32, False), (256, 256, 32, True)])

print("Version:")
fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
expect("file version", fixed and (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                                  fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF),
       tuple(int(n) for n in version.split(".")) + (0,))
strings = {}
for info in getattr(pe, "FileInfo", [[]])[0]:
    for table in getattr(info, "StringTable", []):
        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
for key, wanted in [("FileVersion", version), ("ProductVersion", version), ("FileDescription", product),
                    ("ProductName", product), ("CompanyName", "Korvane")]:
    expect(key, strings.get(key), wanted)

print("Manifest:")
manifests = entries(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
text = data_of(pe, manifests[0]).decode() if manifests else ""
level = re.search(r'requestedExecutionLevel\s+level="([^"]*)"\s+uiAccess="([^"]*)"', text)
expect("execution level, uiAccess", level.groups() if level else None, ("asInvoker", "false"))

print("Imported DLLs:")
imported = sorted(d.dll.decode().lower() for d in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
print("  " + " ".join(imported))
for dll in imported:
    if dll not in SYSTEM_DLLS:
        problems.append(f"imports {dll}, which Windows does not bring")

for p in problems:
    print("FAIL:", p)
sys.exit(1 if problems else 0)
