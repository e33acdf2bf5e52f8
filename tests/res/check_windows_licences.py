#!/usr/bin/env python3
"""The licences in the Windows zip and in the installer stand on their own: none refers to a
folder of the build machine (/usr/share/common-licenses and the like, which Windows has not),
and each holds the full texts of the licences that cover what is linked into pintool.exe, as
the build machine has them.
Usage: check_windows_licences.py ZIP MSI MSIEXTRACT"""
import pathlib
import re
import subprocess
import sys
import tempfile
import zipfile

COMMON = pathlib.Path("/usr/share/common-licenses")
# Each file, with the full texts it must hold and further words only the complete text has.
EXPECTED = {
    "OpenSSL.txt": (["Apache-2.0"], []),
    "GCC-Laufzeitbibliotheken.txt": (["GPL-3"], ["GCC RUNTIME LIBRARY EXCEPTION"]),
    "MinGW-w64.txt": (["LGPL-2", "LGPL-2.1", "GPL-2", "GPL-3"], []),
}
# A path from the root, not a source path such as d/phobos/etc/.
LINUX_PATH = re.compile(r"(?<![\w.])/(?:usr|etc)/|common-licenses")


def check_licences(where, folder):
    failures = []
    found = sorted(p.name for p in folder.glob("*"))
    if found != sorted(EXPECTED):
        failures.append(f"{where}: Lizenzen holds {found}, not {sorted(EXPECTED)}")
    for name, (full_texts, words) in EXPECTED.items():
        path = folder / name
        if not path.is_file():
            continue
        text = path.read_text(encoding="utf-8")
        for line in text.splitlines():
            if LINUX_PATH.search(line):
                failures.append(f"{where}: {name} refers to a Linux folder: {line.strip()}")
        for licence in full_texts:
            if (COMMON / licence).read_text(encoding="utf-8") not in text:
                failures.append(f"{where}: {name} lacks the full text of {licence}")
        failures += [f"{where}: {name} lacks {w}" for w in words if w not in text]
    return failures


def main():
    zip_file, msi, msiextract = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        work = pathlib.Path(work)
        zipfile.ZipFile(zip_file).extractall(work / "zip")
        subprocess.run([msiextract, "-C", str(work / "msi"), msi], check=True,
                       stdout=subprocess.DEVNULL)
        failures = []
        for where in ("zip", "msi"):
            folders = list((work / where).rglob("Lizenzen"))
            if len(folders) != 1:
                failures.append(f"{where}: not one folder Lizenzen but {len(folders)}")
                continue
            failures += check_licences(where, folders[0])
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if failures:
        sys.exit(1)
    print("the licences in the zip and in the installer are complete and refer to no Linux folder")


if __name__ == "__main__":
    main()
