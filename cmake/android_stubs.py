#!/usr/bin/env python3
"""Writes the assembly of an Android stub library from a bionic-style symbol
map, as the NDK builds its own stubs: only the symbols a device of the given
ABI and API level exports, so linking against them shows what a library may
not use there.

    android_stubs.py MAP ARCH API OUT.S      (ARCH: arm, arm64, x86, x86_64)
"""
import re
import sys

ARCHES = {"arm", "arm64", "x86", "x86_64", "riscv64"}
# Tags that keep a symbol out of the NDK's stubs: platform, APEX and vendor use.
HIDDEN_TAGS = {"apex", "llndk", "platform-only", "future", "systemapi"}


def tags_of(comment):
    return comment.split() if comment else []


def present(tags, arch, api):
    """True when a symbol (or version) with these tags is on arch at api."""
    if any(t in HIDDEN_TAGS for t in tags):
        return False
    arches = [t for t in tags if t in ARCHES]
    if arches and arch not in arches:
        return False
    introduced = None
    for t in tags:
        if t.startswith("introduced=") and introduced is None:
            introduced = int(t.split("=", 1)[1])
    for t in tags:
        if t.startswith("introduced-" + arch + "="):
            introduced = int(t.split("=", 1)[1])
    return introduced is None or introduced <= api


def symbols(text, arch, api):
    out = []
    version_ok = True
    for raw in text.splitlines():
        line, _, comment = raw.partition("#")
        line = line.strip()
        if not line:
            continue
        m = re.match(r"^([A-Za-z0-9_]+)\s*\{$", line)
        if m:
            name = m.group(1)
            version_ok = (not name.endswith(("_PRIVATE", "_PLATFORM"))
                          and present(tags_of(comment), arch, api))
            continue
        if line.startswith("}") or line in ("global:", "local:", "*;"):
            continue
        m = re.match(r"^([A-Za-z0-9_$.]+);$", line)
        if not m:
            sys.exit("android_stubs: cannot read line: " + raw)
        tags = tags_of(comment)
        if version_ok and present(tags, arch, api):
            out.append((m.group(1), "var" in tags))
    return out


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    path, arch, api, dest = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    if arch not in ARCHES:
        sys.exit("android_stubs: unknown arch " + arch)
    with open(path) as f:
        syms = symbols(f.read(), arch, api)
    lines = []
    for name, is_var in sorted(set(syms)):
        if is_var:
            lines += [".data", ".globl " + name, ".type " + name + ", STT_OBJECT",
                      ".size " + name + ", 4", name + ":", ".long 0"]
        else:
            lines += [".text", ".globl " + name, ".type " + name + ", STT_FUNC", name + ":"]
    with open(dest, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
