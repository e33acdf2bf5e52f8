#!/usr/bin/env python3
"""Packs a folder into a zip that depends on nothing but the files' names and contents: entries
sorted by name, every time the one given (seconds since 1970, in UTC), no owners, no
permissions, no extra fields. Usage: pack_zip.py OUTPUT FOLDER SECONDS"""
import os
import sys
import time
import zipfile

EARLIEST = 315532800  # 1980-01-01, the first time a zip entry can hold


def entries(folder):
    """(name in the zip, path) for the folder itself and everything in it, sorted by name."""
    base = os.path.dirname(os.path.abspath(folder))
    found = []
    for directory, subdirectories, files in os.walk(folder):
        found.append((os.path.relpath(directory, base) + "/", directory))
        found.extend((os.path.relpath(os.path.join(directory, name), base),
                      os.path.join(directory, name)) for name in files)
    return sorted((name.replace(os.sep, "/"), path) for name, path in found)


def main():
    output, folder, seconds = sys.argv[1], sys.argv[2], max(int(sys.argv[3]), EARLIEST)
    stamp = time.gmtime(seconds)[:6]
    partial = output + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, path in entries(folder):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 0  # MS-DOS: attributes as Windows reads them, no Unix mode
            if name.endswith("/"):
                info.external_attr = 0x10  # directory
                archive.writestr(info, b"")
            else:
                info.external_attr = 0x20  # an ordinary file, as Windows' own zips mark it
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as source:
                    archive.writestr(info, source.read(), compresslevel=9)
    os.replace(partial, output)


if __name__ == "__main__":
    main()
