#!/usr/bin/env python3
"""Reads the resources of pintool.exe from its PE file and checks them: icon group 128 with its
four images, the version block, the manifest, all German (0x0407), and nothing else.
Usage: check_windows_resources.py PINTOOL_EXE ICO_FILE VERSION_TXT"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
GERMAN = 0x0407
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("not a PE file")
    count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], \
        struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    for i in range(count):
        name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        yield name.rstrip(b"\0"), vaddr, vsize, raddr, rsize


def resources(data):
    """{(type, name, language): bytes} from the .rsrc section."""
    for name, vaddr, _vsize, raddr, _rsize in sections(data):
        if name == b".rsrc":
            break
    else:
        sys.exit("no .rsrc section")

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, raddr + offset + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", data, raddr + offset + 16 + 8 * i)
            if ident & 0x80000000:
                length = struct.unpack_from("<H", data, raddr + (ident & 0x7FFFFFFF))[0]
                start = raddr + (ident & 0x7FFFFFFF) + 2
                ident = data[start:start + 2 * length].decode("utf-16-le")
            yield ident, target

    found = {}
    for kind, types in entries(0):
        for name, names in entries(types & 0x7FFFFFFF):
            for language, leaf in entries(names & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, raddr + leaf)
                found[(kind, name, language)] = data[raddr + rva - vaddr:raddr + rva - vaddr + size]
    return found


def check_icons(found, ico):
    group = found.get((RT_GROUP_ICON, 128, GERMAN))
    check(group is not None, "icon group 128 in German")
    if group is None:
        return
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    check(kind == 1 and count == 4, "four images in icon group 128")
    _, _, file_count = struct.unpack_from("<HHH", ico, 0)
    for i in range(min(count, file_count)):
        w, h, colours, _, planes, bits, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        fw, fh, fcolours, _, fplanes, fbits, fsize, foffset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        check((w, h, bits, colours) == (fw, fh, fbits, fcolours), f"image {i}: {w}x{h} at {bits} bits")
        check(found.get((RT_ICON, ident, GERMAN)) == ico[foffset:foffset + fsize],
              f"image {i} holds the icon file's bytes")
    sizes = sorted(struct.unpack_from("<BBBBHH", group, 6 + 14 * i)[::5][:1] +
                   struct.unpack_from("<BBBBHH", group, 6 + 14 * i)[5:6] for i in range(count))
    check(sizes == [(16, 4), (16, 8), (32, 4), (32, 8)], f"32x32 and 16x16 at 4 and 8 bits: {sizes}")


def read_block(data, offset):
    """One node of the version block: (key, value bytes, children, end)."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if is_text else value_length
    value = data[position:position + value_bytes]
    position = (position + value_bytes + 3) & ~3
    children = []
    while position < end:
        child = read_block(data, position)
        children.append(child)
        position = (child[3] + 3) & ~3
    return key, value, children, end


def check_version(found, version_txt):
    block = found.get((RT_VERSION, 1, GERMAN))
    check(block is not None, "version block 1 in German")
    if block is None:
        return
    key, fixed, children, _ = read_block(block, 0)
    check(key == "VS_VERSION_INFO", "VS_VERSION_INFO")
    (signature, _, file_ms, file_ls, product_ms, product_ls, mask, flags, os, kind, subtype) = \
        struct.unpack_from("<11I", fixed, 0)
    check(signature == 0xFEEF04BD, "fixed file info")
    check((file_ms, file_ls) == (0x00010000, 0x00000001), "file version 1.0.0.1")
    check((product_ms, product_ls) == (0x00010000, 0x00000001), "product version 1.0.0.1")
    check((mask, flags, os, kind, subtype) == (0x3F, 0, 0x4, 0x1, 0),
          "flags mask 0x3F, flags 0, VOS__WINDOWS32, VFT_APP")
    expected = {}
    for line in open(version_txt, encoding="utf-8"):
        line = line.rstrip("\n")
        if "=" in line and not line.startswith("#") and not line.startswith("Translation"):
            name, value = line.split("=", 1)
            expected[name] = value
    tables = {child[0]: child for child in children}
    string_file_info = tables.get("StringFileInfo")
    check(string_file_info is not None and [t[0] for t in string_file_info[2]] == ["040704B0"],
          "one string table 040704B0")
    if string_file_info and string_file_info[2]:
        strings = {name: value.decode("utf-16-le").rstrip("\0")
                   for name, value, _, _ in string_file_info[2][0][2]}
        check(strings == expected, f"strings {strings} are those of version.txt")
        check(strings.get("FileVersion") == "1, 0, 0, 1", "FileVersion \"1, 0, 0, 1\"")
        check("CompanyName" in strings and "LegalTrademarks" in strings,
              "CompanyName and LegalTrademarks present")
    var_file_info = tables.get("VarFileInfo")
    translation = var_file_info[2][0] if var_file_info and var_file_info[2] else None
    check(translation is not None and translation[0] == "Translation" and
          struct.unpack("<HH", translation[1]) == (0x0407, 1200), "translation 0x0407, 1200")


def check_manifest(found):
    manifest = found.get((RT_MANIFEST, 1, GERMAN))
    check(manifest is not None, "manifest 1 in German")
    if manifest is None:
        return
    root = ElementTree.fromstring(manifest)
    text = {element.tag.split("}")[1]: (element.text or "").strip() for element in root.iter()}
    identities = [element.attrib for element in root.iter()
                  if element.tag.endswith("assemblyIdentity")]
    check(any(i.get("name") == "Microsoft.Windows.Common-Controls" and i.get("version") == "6.0.0.0"
              for i in identities), "common controls 6")
    check(text.get("activeCodePage") == "UTF-8", "UTF-8 as the ANSI code page")
    check(text.get("dpiAware") == "true", "DPI aware")


def main():
    exe, ico, version_txt = sys.argv[1:4]
    found = resources(open(exe, "rb").read())
    kinds = sorted({kind for kind, _, _ in found})
    check(kinds == [RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST],
          f"only icons, the version block and the manifest: {kinds}")
    check(all(language == GERMAN for _, _, language in found), "every resource German")
    check_icons(found, open(ico, "rb").read())
    check_version(found, version_txt)
    check_manifest(found)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print(f"{len(found)} resources as they should be")


main()
