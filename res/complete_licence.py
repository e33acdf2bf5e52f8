#!/usr/bin/env python3
"""Writes a Debian copyright file as a licence text that stands on its own on Windows: every
reference to a licence in /usr/share/common-licenses becomes a reference to a section of the
file, and those sections, the licences' full texts, are appended, each once.
Usage: complete_licence.py OUTPUT COPYRIGHT [COMMON_LICENCES]
COMMON_LICENCES is the folder of the full texts, /usr/share/common-licenses by default."""
import os
import re
import sys

RULE = "-" * 72


def main():
    output, copyright_file = sys.argv[1:3]
    common = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/common-licenses"
    text = open(copyright_file, encoding="utf-8").read()
    # "`/usr/share/common-licenses/GPL'", "... GPL' file", "/usr/share/common-licenses/GPL."
    # and the like: a name's dots only before a digit, so that a sentence's full stop stays one.
    reference = re.compile(
        r"`?" + re.escape(common) + r"/([A-Za-z0-9+-]+(?:\.[0-9]+)*)(?:' file|')?")
    appended = []

    def to_section(match):
        # GPL is a link to GPL-3: the text is appended under the name of the file it is.
        name = os.path.basename(os.path.realpath(os.path.join(common, match.group(1))))
        if name not in appended:
            appended.append(name)
        return f'section "{name}" below'

    text = reference.sub(to_section, text)
    if common in text:
        sys.exit(f"{copyright_file} refers to {common} in a way not understood")
    sections = [f"\n\n{RULE}\n{name}\n{RULE}\n\n" +
                open(os.path.join(common, name), encoding="utf-8").read() for name in appended]
    partial = output + ".partial"
    with open(partial, "w", encoding="utf-8", newline="\n") as licence:
        licence.write(text.rstrip("\n") + "".join(sections).rstrip("\n") + "\n")
    os.replace(partial, output)


if __name__ == "__main__":
    main()
