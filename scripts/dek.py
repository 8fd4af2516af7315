#!/usr/bin/env python3
"""Packs a Pd library folder into a deken package, as `deken package --no-sign-gpg` does:

  NAME[vVERSION](OS-CPU-FLOATSIZE).dek   a zip of the folder, entries below NAME/, deflated
  ....dek.sha256                          its SHA-256, hex, no newline
  ....dek.txt                             one line per help patch: object TAB its DESCRIPTION

Debian's deken 0.9.6 cannot run without the network: it is written in Hy, which Debian does not
ship, so on first use it installs Hy from the Python package index into a per-user virtualenv.
This writes the same files from the standard library alone.

  dek.py FOLDER VERSION ARCH OUTDIR      (ARCH as deken names it, e.g. Linux-amd64-32)
"""
import hashlib
import os
import re
import sys
import zipfile

DESCRIPTION = re.compile(r"^#X text -?[0-9]+ -?[0-9]+ DESCRIPTION (.*)")


def description(helpfile):
    """The DESCRIPTION text of a help patch, found as deken finds it."""
    with open(helpfile, errors="ignore") as f:
        for statement in f.read().split(";\n"):
            line = re.sub(r"([^\\]), f [0-9]+$", r"\1", " ".join(statement.splitlines()))
            m = DESCRIPTION.match(line)
            if m:
                return m.group(1).replace("\\,", ",").replace("\t", " ")
    return "DEKEN GENERATED"


def main(folder, version, arch, outdir):
    folder = os.path.normpath(folder)
    name = os.path.basename(folder)
    dek = os.path.join(outdir, "%s[v%s](%s).dek" % (name, version, arch))
    parent = os.path.dirname(folder)
    with zipfile.ZipFile(dek, "w", compression=zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in sorted(os.walk(folder)):
            dirs.sort()
            for f in sorted(files):
                path = os.path.join(root, f)
                z.write(path, os.path.relpath(path, parent))
    with open(dek, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(dek + ".sha256", "w") as f:
        f.write(digest)
    with open(dek + ".txt", "w") as f:
        for h in sorted(os.listdir(folder)):
            if h.endswith("-help.pd"):
                f.write("%s\t%s\n" % (h[: -len("-help.pd")], description(os.path.join(folder, h))))
    print(dek)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
