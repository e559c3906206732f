#!/usr/bin/env python3
"""Builds the NuGet package of the C# binding without dotnet: a .nupkg is a zip of a .nuspec,
[Content_Types].xml, _rels/.rels, the managed assembly (compiled here with mono's mcs) under
lib/net472/, and the native libraries under runtimes/RID/native/.

On Linux the loader looks for libCorvane.so and libZENTA.so (the names the P/Invoke declarations
give, with the platform's prefix and suffix), and libCorvane.so needs libOstrel.so.0,
libZENTA.so.0 and libcorvane-quim.so.0 by their SONAMEs: both names are carried (a zip holds no links),
installed copies whose run path $ORIGIN finds each other. With a Windows build tree, its DLLs
go under runtimes/win-x64/native/.

    build-nupkg.py BUILD-DIR OUTPUT-DIR VERSION [WINDOWS-BUILD-DIR]
"""
import glob
import os
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCES = sorted(name for name in os.listdir(HERE) if name.endswith(".cs"))
LIBRARIES = ["Corvane", "ZENTA", "Ostrel", "corvane-quim"]
WINDOWS_DLLS = ["Corvane.dll", "ZENTA.dll", "Ostrel.dll", "libquim.dll"]
# A fixed time for every entry, so that two builds of the same files give the same package.
STAMP = (2026, 1, 1, 0, 0, 0)

NUSPEC = """<?xml version="1.0" encoding="utf-8"?>
<package xmlns="http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd">
  <metadata>
    <id>Corvane</id>
    <version>{version}</version>
    <authors>The Corvane authors</authors>
    <license type="expression">MIT</license>
    <description>Typed calls onto the platform server's REST interface: the C# binding of
libCorvane's C interface, with the native libraries for {rids}.</description>
    <tags>corvane native</tags>
  </metadata>
</package>
"""

CONTENT_TYPES = """<?xml version="1.0" encoding="utf-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />
  <Default Extension="nuspec" ContentType="application/octet" />
{defaults}</Types>
"""

RELS = """<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/Corvane.nuspec" Id="R0" />
</Relationships>
"""


def compile_assembly(stage):
    out = os.path.join(stage, "Corvane.dll")
    sources = [os.path.join(HERE, name) for name in SOURCES]
    subprocess.run(["mcs", "-nologo", "-warnaserror+", "-target:library", "-optimize+",
                    "-r:System.Core.dll", "-out:" + out] + sources, check=True)
    return out


def linux_libraries(build, stage):
    """(name in the package, file) of the installed runtime libraries."""
    prefix = os.path.join(stage, "prefix")
    subprocess.run(["cmake", "--install", build, "--component", "runtime", "--prefix", prefix],
                   check=True, stdout=subprocess.DEVNULL)
    entries = []
    for library in LIBRARIES:
        found = glob.glob(os.path.join(prefix, "**", "lib%s.so.0" % library), recursive=True)
        if not found:
            sys.exit("build-nupkg: lib%s.so.0 was not installed" % library)
        real = os.path.join(stage, "lib%s.so.0" % library)
        shutil.copyfile(found[0], real)
        subprocess.run(["strip", "--strip-unneeded", real], check=True)
        entries.append(("lib%s.so.0" % library, real))
        if library in ("Corvane", "ZENTA"):
            entries.append(("lib%s.so" % library, real))
    return entries


def windows_libraries(windows_build):
    # The build puts every DLL in bin/; the tree is not searched, since it also holds a wine
    # prefix whose drive links lead to the whole file system.
    entries = []
    for name in WINDOWS_DLLS:
        path = os.path.join(windows_build, "bin", name)
        if not os.path.isfile(path):
            sys.exit("build-nupkg: %s not found in %s" % (name, os.path.dirname(path)))
        entries.append((name, path))
    return entries


def write_entry(package, name, data):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    package.writestr(info, data)


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    build, out, version = sys.argv[1], sys.argv[2], sys.argv[3]
    windows_build = sys.argv[4] if len(sys.argv) == 5 else ""
    stage = os.path.join(build, "nupkg-stage")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(stage)
    os.makedirs(out, exist_ok=True)
    files = [("lib/net472/Corvane.dll", compile_assembly(stage))]
    files += [("runtimes/linux-x64/native/" + name, path)
              for name, path in linux_libraries(build, stage)]
    rids = "linux-x64"
    if windows_build:
        files += [("runtimes/win-x64/native/" + name, path)
                  for name, path in windows_libraries(windows_build)]
        rids += " and win-x64"
    extensions = sorted({os.path.splitext(name)[1].lstrip(".") for name, _ in files})
    defaults = "".join('  <Default Extension="%s" ContentType="application/octet" />\n' % e
                       for e in extensions if e)
    target = os.path.join(out, "Corvane.%s.nupkg" % version)
    with zipfile.ZipFile(target, "w") as package:
        write_entry(package, "_rels/.rels", RELS)
        write_entry(package, "Corvane.nuspec", NUSPEC.format(version=version, rids=rids))
        for name, path in files:
            with open(path, "rb") as source:
                write_entry(package, name, source.read())
        write_entry(package, "[Content_Types].xml", CONTENT_TYPES.format(defaults=defaults))
    print(target)


if __name__ == "__main__":
    main()
