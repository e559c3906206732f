#!/usr/bin/env python3
"""Writes the archive a Windows developer unpacks: a Windows build tree installed into a staging
folder (the DLLs and the client in bin/, the MinGW import libraries lib*.dll.a and the
MSVC-style Corvane.lib, Ostrel.lib, ZENTA.lib in lib/, the headers, the CMake package and the
.pc file) with the README and the Windows and bindings guides, under one top folder
Corvane-VERSION-win64/. Entries carry a fixed time, so the same files give the same archive.

    windows-zip.py WINDOWS-BUILD-DIR OUTPUT-DIR VERSION SOURCE-DIR
"""
import os
import shutil
import subprocess
import sys
import zipfile

STAMP = (2026, 1, 1, 0, 0, 0)
DOCS = ["README.md", "LICENSE", "docs/windows.md", "docs/bindings.md", "docs/usage.md"]
REQUIRED = ["bin/Corvane.dll", "bin/ZENTA.dll", "bin/Ostrel.dll", "bin/libquim.dll",
            "lib/Corvane.lib", "lib/ZENTA.lib", "lib/libCorvane.dll.a", "include/Corvane/Corvane.h"]


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    windows_build, out, version, source = sys.argv[1:]
    top = "Corvane-%s-win64" % version
    stage = os.path.join(out, "windows-zip-stage")
    shutil.rmtree(stage, ignore_errors=True)
    subprocess.run(["cmake", "--install", windows_build, "--prefix", stage], check=True,
                   stdout=subprocess.DEVNULL)
    for doc in DOCS:
        target = os.path.join(stage, "doc", os.path.basename(doc))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(source, doc), target)
    missing = [name for name in REQUIRED if not os.path.exists(os.path.join(stage, name))]
    if missing:
        sys.exit("windows-zip: the Windows build installed no " + ", ".join(missing))
    archive = os.path.join(out, top + ".zip")
    with zipfile.ZipFile(archive, "w") as package:
        for folder, _, files in sorted(os.walk(stage)):
            for name in sorted(files):
                path = os.path.join(folder, name)
                info = zipfile.ZipInfo(top + "/" + os.path.relpath(path, stage), STAMP)
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o644 << 16
                with open(path, "rb") as data:
                    package.writestr(info, data.read())
    shutil.rmtree(stage)
    print(archive)


if __name__ == "__main__":
    main()
