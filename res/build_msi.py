#!/usr/bin/env python3
"""Builds the Windows installer with wixl so that it depends on nothing but its sources: the
product code follows from the upgrade code and the version, the files go into the cabinet with
the time given, and the summary's package code and times, which wixl takes from the clock and
the random generator, are set afterwards: the package code from the package's own bytes, the
times to the one given.
What wixl 0.101 cannot write is written with msibuild: a component's Condition (wixl refuses the
element), the root HKMU (wixl writes 4, not -1) and the package's language in the summary
(wixl writes 1033 whatever the Package says).
Usage: build_msi.py WIXL MSIBUILD OUTPUT WXS FILES ICON VERSION SECONDS
FILES is the folder the installer takes pintool.exe and Lizenzen/ from, ICON the program's icon."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
import xml.etree.ElementTree as ElementTree

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"
SUMMARY = "\x05SummaryInformation"
PID_TEMPLATE, PID_REVISION_NUMBER, PID_CREATED, PID_LAST_SAVED = 7, 9, 12, 13
VT_LPSTR, VT_FILETIME = 0x1E, 0x40
FILETIME_1970 = 116444736000000000  # 100 ns ticks from 1601 to 1970


class CompoundFile:
    """The sectors of an OLE compound file (what an .msi is), as far as finding where a stream's
    bytes lie takes."""

    def __init__(self, data):
        if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            sys.exit("not a compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_sector_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (directory_start, ) = struct.unpack_from("<I", data, 0x30)
        self.mini_cutoff, mini_fat_start = struct.unpack_from("<II", data, 0x38)
        self.fat = self._fat()
        self.mini_fat = self._words(self._chain(mini_fat_start))
        self.directory = b"".join(self._sector(s) for s in self._chain(directory_start))
        _, mini_stream_start, mini_stream_size = self._entry(0)  # the root entry holds it
        self.mini_stream = self._offsets(mini_stream_start, mini_stream_size)

    def _sector(self, number):
        start = (number + 1) * self.sector_size
        return self.data[start:start + self.sector_size]

    def _words(self, sectors):
        return [w for s in sectors for w in struct.unpack_from(f"<{self.sector_size // 4}I",
                                                               self._sector(s))]

    def _fat(self):
        difat = list(struct.unpack_from("<109I", self.data, 0x4C))
        (next_difat, ) = struct.unpack_from("<I", self.data, 0x44)
        while next_difat < 0xFFFFFFFA:
            words = self._words([next_difat])
            difat += words[:-1]
            next_difat = words[-1]
        return self._words([s for s in difat if s < 0xFFFFFFFA])

    def _chain(self, start, table=None):
        table = self.fat if table is None else table
        chain = []
        while start < 0xFFFFFFFA:
            chain.append(start)
            start = table[start]
        return chain

    def _entry(self, index):
        entry = self.directory[index * 128:(index + 1) * 128]
        name_size = struct.unpack_from("<H", entry, 0x40)[0]
        name = entry[:max(name_size - 2, 0)].decode("utf-16-le")
        start, size = struct.unpack_from("<IQ", entry, 0x74)
        return name, start, size & 0xFFFFFFFF if self.sector_size == 512 else size

    def _offsets(self, start, size):
        offsets = []
        for sector in self._chain(start):
            base = (sector + 1) * self.sector_size
            offsets.extend(range(base, base + self.sector_size))
        return offsets[:size]

    def stream_offsets(self, wanted):
        """Where in the file each byte of the stream named lies."""
        for index in range(len(self.directory) // 128):
            name, start, size = self._entry(index)
            if index == 0 or name != wanted:
                continue
            if size >= self.mini_cutoff:
                return self._offsets(start, size)
            offsets = []
            for mini in self._chain(start, self.mini_fat):
                base = mini * self.mini_sector_size
                offsets.extend(self.mini_stream[base:base + self.mini_sector_size])
            return offsets[:size]
        sys.exit(f"no stream {wanted!r}")


def property_offsets(summary):
    """Where each property of the summary's only section starts, by its identifier."""
    (section, ) = struct.unpack_from("<I", summary, 44)
    (count, ) = struct.unpack_from("<I", summary, section + 4)
    pairs = struct.unpack_from(f"<{2 * count}I", summary, section + 8)
    return {pairs[i]: section + pairs[i + 1] for i in range(0, len(pairs), 2)}


def put_string(summary, at, text, what):
    """Replaces the string property at AT by TEXT, which must be as long."""
    kind, size = struct.unpack_from("<II", summary, at)
    value = text.encode("ascii") + b"\0"
    if kind != VT_LPSTR or size != len(value):
        sys.exit(f"the summary's {what} is not as wixl writes it")
    summary[at + 8:at + 8 + size] = value


def settle_summary(path, upgrade_code, languages, seconds):
    data = bytearray(open(path, "rb").read())
    offsets = CompoundFile(bytes(data)).stream_offsets(SUMMARY)
    summary = bytearray(data[o] for o in offsets)
    properties = property_offsets(summary)
    # "Platform;languages": the languages are the Package's.
    at = properties[PID_TEMPLATE]
    (size, ) = struct.unpack_from("<I", summary, at + 4)
    platform = bytes(summary[at + 8:at + 8 + size]).split(b";")[0].decode("ascii")
    put_string(summary, at, f"{platform};{languages}", "template")
    # The package code names these bytes: the same package, the same code; any other, another.
    for offset in offsets:
        data[offset] = 0
    package_code = uuid.uuid5(upgrade_code, hashlib.sha256(data).hexdigest())
    put_string(summary, properties[PID_REVISION_NUMBER], "{%s}" % str(package_code).upper(),
               "package code")
    for pid in (PID_CREATED, PID_LAST_SAVED):
        at = properties[pid]
        if struct.unpack_from("<I", summary, at)[0] != VT_FILETIME:
            sys.exit("the summary's times are not FILETIMEs")
        struct.pack_into("<Q", summary, at + 4, FILETIME_1970 + seconds * 10_000_000)
    for offset, byte in zip(offsets, summary):
        data[offset] = byte
    open(path, "wb").write(data)


def without_component_conditions(tree):
    """Takes each component's Condition out of TREE, for wixl; SQL that puts them in the
    package."""
    queries = []
    for component in tree.iter(f"{WIX}Component"):
        for condition in component.findall(f"{WIX}Condition"):
            text = condition.text.strip()
            if "'" in text:
                sys.exit(f"a condition with a quote cannot be written: {text}")
            queries.append(f"UPDATE `Component` SET `Condition` = '{text}' "
                           f"WHERE `Component` = '{component.get('Id')}'")
            component.remove(condition)
    return queries


def main():
    wixl, msibuild, output, wxs, files, icon, version, seconds = sys.argv[1:9]
    seconds = int(seconds)
    ElementTree.register_namespace("", WIX[1:-1])
    tree = ElementTree.parse(wxs)
    product = tree.getroot().find(f"{WIX}Product")
    upgrade_code = uuid.UUID(product.get("UpgradeCode"))
    languages = product.find(f"{WIX}Package").get("Languages")
    product_code = str(uuid.uuid5(upgrade_code, version)).upper()
    queries = without_component_conditions(tree)
    queries.append("UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4")
    with tempfile.TemporaryDirectory() as staging:
        # wixl takes files only by paths relative to where it runs, and puts their times in
        # the cabinet.
        shutil.copytree(files, os.path.join(staging, "files"))
        shutil.copy(icon, os.path.join(staging, "pintool.ico"))
        tree.write(os.path.join(staging, "pintool.wxs"), encoding="utf-8", xml_declaration=True)
        for directory, _, names in os.walk(staging):
            for name in names:
                os.utime(os.path.join(directory, name), (seconds, seconds))
        built = os.path.join(staging, "pintool.msi")
        subprocess.run([wixl, "--arch", "x64", "-D", f"Version={version}",
                        "-D", f"ProductCode={product_code}", "-D", "Files=files",
                        "-D", "Icon=pintool.ico", "-o", built, "pintool.wxs"],
                       cwd=staging, check=True)
        subprocess.run([msibuild, built] + [a for q in queries for a in ("-q", q)], check=True)
        settle_summary(built, upgrade_code, languages, seconds)
        shutil.copy(built, output + ".partial")
    os.replace(output + ".partial", output)


if __name__ == "__main__":
    main()
