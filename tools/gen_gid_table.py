#!/usr/bin/env python3
"""Writes include/orv/orv_gid_table.inc, the named GID constants.

The framework's own names (tools/gid_framework_names.txt) get fixed values:
name-based (SHA-1) UUIDs from libuuid under a namespace of our own, so a rerun
gives the same bytes; ORV_GID_NULL, ORV_GID_UNKNOWN and ORV_ID_DUMP_LOG_CTX
keep their fixed values. The DirectShow-family names and their published
values come from real headers only, never made up:
  - mingw-w64-common (/usr/share/mingw-w64/include): uuids.h and ksuuids.h
    first, then every other header that defines a family name (wmcodecdsp.h,
    mfapi.h, ...);
  - Wine's headers from Debian's libwine-dev (/usr/include/wine/wine/windows),
    which add subtypes, formats and media types of later SDKs. They need not
    be installed: `apt-get download libwine-dev` and `dpkg-deb -x` the file
    somewhere, then pass --wine DIR.
A name keeps the first value found; a later header that gives it another
value is reported and ignored. CLSID_ and IID_ names come from mingw-w64's
uuids.h and ksuuids.h only: every COM header defines thousands of them, and
those two already hold more DirectShow ones than the framework lists.

Byte order: the framework stores a published (l, w1, w2, b1..b8) value as l in
little-endian order, then w1 and w2 in big-endian order, then b1..b8, so a
four-character-code media type reads as its four code characters followed by
00 00 00 10 80 00 00 AA 00 38 9B 71.

Usage: gen_gid_table.py [--mingw DIR] [--wine DIR] [--out FILE]
"""
import argparse
import ctypes
import os
import re
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FAMILIES = ("MEDIATYPE_", "MEDIASUBTYPE_", "FORMAT_", "CLSID_", "IID_", "AM_KSCATEGORY_",
            "AM_KSPROPSETID_", "PIN_CATEGORY_", "TIME_FORMAT_", "LOOK_", "AMPROPSETID_Pin")
FIXED = {
    "ORV_GID_NULL": bytes(16),
    "ORV_GID_UNKNOWN": b"\xff" * 16,
    "ORV_ID_DUMP_LOG_CTX": bytes.fromhex("7321ea4e290e22e2507b0c1c17d38fff"),
}
# Namespace of the framework's name-based values.
NAMESPACE = bytes.fromhex("7321ea4e290e22e2507b0c1c17d38fff")
FOURCC_TAIL = bytes.fromhex("000000108000" "00aa00389b71")


def framework_value(uuid_lib, name):
    if name in FIXED:
        return FIXED[name]
    out = (ctypes.c_ubyte * 16)()
    ns = (ctypes.c_ubyte * 16).from_buffer_copy(NAMESPACE)
    raw = name.encode()
    uuid_lib.uuid_generate_sha1(out, ns, raw, ctypes.c_size_t(len(raw)))
    return bytes(out)


DIRECTSHOW_HEADERS = ("uuids.h", "ksuuids.h")
COM_FAMILIES = ("CLSID_", "IID_")
DEFINITION = re.compile(r"\b(?:OUR_GUID_ENTRY|DEFINE_GUID|EXTERN_GUID)\s*\(\s*(\w+)\s*,([^)]*)\)")
ALIAS = re.compile(r"^#define\s+(\w+)\s+GUID_NULL\s*$", re.M)


def guid_bytes(fields):
    """(l, w1, w2, b1..b8) as stored: l little-endian, w1 and w2 big-endian."""
    try:
        f = [int(x.strip().rstrip("uUlL"), 0) for x in fields.split(",")]
    except ValueError:
        return None
    if len(f) != 11:
        return None
    return struct.pack("<I", f[0]) + struct.pack(">HH", f[1], f[2]) + bytes(f[3:11])


def headers(include_dir):
    """uuids.h and ksuuids.h first (they set the order of the older table),
    then the rest by name."""
    names = sorted(n for n in os.listdir(include_dir) if n.endswith(".h"))
    first = [n for n in DIRECTSHOW_HEADERS if n in names]
    return first + [n for n in names if n not in first]


def published(include_dirs, com_dir):
    rows, aliases, sources = [], [], {}
    values = {}
    for include_dir in include_dirs:
        for header in headers(include_dir):
            text = open(os.path.join(include_dir, header), errors="replace").read()
            where = f"{os.path.basename(include_dir.rstrip('/'))}/{header}"
            com_source = header in DIRECTSHOW_HEADERS and include_dir == com_dir

            def wanted(name):
                return name.startswith(FAMILIES) and (com_source or not name.startswith(COM_FAMILIES))

            for m in DEFINITION.finditer(text):
                name = m.group(1)
                if not wanted(name):
                    continue
                value = guid_bytes(m.group(2))
                if value is None:
                    print(f"skipped {name} in {where}: not eleven numbers", file=sys.stderr)
                    continue
                if name in values:
                    if values[name] != value:
                        print(f"ignored {name} in {where}: differs from {sources[name]}", file=sys.stderr)
                    continue
                values[name] = value
                sources[name] = where
                rows.append((name, value))
            for m in ALIAS.finditer(text):
                name = m.group(1)
                if wanted(name) and name not in values and name not in dict(aliases):
                    aliases.append((name, "ORV_GID_NULL"))
    return rows, aliases, sources


def main():
    parser = argparse.ArgumentParser(description="Writes the named GID table.")
    parser.add_argument("--mingw", default="/usr/share/mingw-w64/include")
    parser.add_argument("--wine", default="/usr/include/wine/wine/windows")
    parser.add_argument("--out", default=os.path.join(HERE, "..", "include", "orv", "orv_gid_table.inc"))
    args = parser.parse_args()
    for d in (args.mingw, args.wine):
        # A missing directory would drop names without a word: refuse instead.
        if not os.path.isfile(os.path.join(d, "uuids.h")):
            sys.exit(f"no uuids.h in {d}: see the notes at the top of {os.path.basename(__file__)}")
    uuid_lib = ctypes.CDLL("libuuid.so.1")
    names = [n.strip() for n in open(os.path.join(HERE, "gid_framework_names.txt")) if n.strip()]
    own = [(n, framework_value(uuid_lib, n)) for n in names]
    rows, aliases, sources = published([args.mingw, args.wine], args.mingw)
    out_path = args.out

    seen = {}
    for name, value in own:
        assert value not in seen, f"{name} repeats {seen.get(value)}"
        seen[value] = name
    published_values = {v for _, v in rows}
    clash = [n for n, v in own if v in published_values and n != "ORV_GID_NULL"]  # TIME_FORMAT_NONE is zero
    assert not clash, f"framework values equal published ones: {clash}"
    all_names = [n for n, _ in own] + [n for n, _ in rows] + [n for n, _ in aliases]
    assert len(all_names) == len(set(all_names)), "a name appears twice"

    counts = {}
    for name, _ in rows + aliases:
        family = next(f for f in FAMILIES if name.startswith(f))
        counts[family] = counts.get(family, 0) + 1
    per_header = {}
    for name, _ in rows:
        per_header[sources[name]] = per_header.get(sources[name], 0) + 1
    fourcc = sum(1 for _, v in rows if v[4:] == FOURCC_TAIL)

    with open(out_path, "w") as out:
        out.write("/* Generated by tools/gen_gid_table.py; do not edit. Named GID constants:\n")
        out.write(" * ORV_GID_ROW(name, 16 bytes in memory order); ORV_GID_ALIAS(name, constant).\n")
        out.write(f" * {len(own)} framework names, {len(rows)} published values "
                  f"({fourcc} four-character codes), {len(aliases)} aliases. */\n")
        for name, value in own + rows:
            out.write(f"ORV_GID_ROW({name}, " + ", ".join(f"0x{b:02x}" for b in value) + ")\n")
        for name, target in aliases:
            out.write(f"ORV_GID_ALIAS({name}, {target})\n")

    print(f"framework names: {len(own)}; published: {len(rows)}; aliases: {len(aliases)}; "
          f"constants: {len(own) + len(rows)}; names: {len(all_names)}; four-character codes: {fourcc}")
    print("names per family (aliases included):")
    for family in FAMILIES:
        print(f"  {family:<16} {counts.get(family, 0)}")
    print("values per header:")
    for header, n in per_header.items():
        print(f"  {header:<24} {n}")


if __name__ == "__main__":
    main()
