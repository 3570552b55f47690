#!/usr/bin/python3
"""Compares two Windows Installer files stream by stream, leaving out the streams of an Authenticode
signature: prints each stream that differs or is in one file only, and exits 1 when any does.
    msi-streams-differ.py SIGNED.msi UNSIGNED.msi"""
import sys

import olefile

SIGNATURE = {"\x05DigitalSignature", "\x05MsiDigitalSignatureEx"}


def streams(path):
    with olefile.OleFileIO(path) as ole:
        found = {}
        for entry in ole.listdir(streams=True, storages=False):
            name = "/".join(entry)
            if name not in SIGNATURE:
                found[name] = ole.openstream(entry).read()
        return found, ole.root.clsid


signed, signed_clsid = streams(sys.argv[1])
unsigned, unsigned_clsid = streams(sys.argv[2])
differ = sorted(n for n in signed.keys() | unsigned.keys() if signed.get(n) != unsigned.get(n))
for name in differ:
    print("differs: %r (%s)" % (name, "in one file only" if name not in signed or name not in unsigned else "contents"))
if signed_clsid != unsigned_clsid:
    print("differs: the root's class")
    differ.append("root")
print("%d streams compared, %d differ" % (len(signed.keys() | unsigned.keys()), len(differ)))
sys.exit(1 if differ else 0)
