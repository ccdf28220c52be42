"""Writes the Windows release zip and its SHA256SUMS (run by tools/release).

Everything in the zip is fixed by its inputs: the entries in one order, each
with the same time (the release's SOURCE_DATE_EPOCH, in UTC), mode and
compression, so that the same exes and texts always give the same bytes.
"""

import argparse
import hashlib
import os
import subprocess
import sys
import time
import zipfile

DIRECTORY_MODE = 0o40755
PROGRAM_MODE = 0o100755
TEXT_MODE = 0o100644
MSDOS_DIRECTORY = 0x10
UNIX = 3  # the "made by" system, so that unzip applies the modes


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def entry(name, mode, date_time):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = UNIX
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= MSDOS_DIRECTORY
        info.compress_type = zipfile.ZIP_STORED
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", type=int, required=True, help="SOURCE_DATE_EPOCH")
    parser.add_argument("--x86", required=True, help="the 32-bit build folder")
    parser.add_argument("--x64", required=True, help="the 64-bit build folder")
    parser.add_argument("--source", required=True, help="the source tree")
    parser.add_argument("--dist", required=True, help="where the zip and SHA256SUMS go")
    args = parser.parse_args()

    top = "tickwatch-%s-windows/" % args.version
    # A zip's times are local times from 1980 on, in steps of 2 s, with no
    # zone: the epoch's UTC time, rounded down to an even second.
    epoch = max(args.epoch, 315532800)
    date_time = time.gmtime(epoch - epoch % 2)[:6]
    readme = read(os.path.join(args.source, "docs", "README-windows.txt")).decode("utf-8")
    contents = [(top, DIRECTORY_MODE, b"")]
    for arch, folder in (("x86", args.x86), ("x64", args.x64)):
        contents.append((top + arch + "/", DIRECTORY_MODE, b""))
        for program in ("tickwatch.exe", "tickwatch-analyze.exe"):
            image = read(os.path.join(folder, program))
            # A build path in a shipped exe would make every build different.
            for path in (args.source, os.path.abspath(folder)):
                if path.encode() in image:
                    sys.exit("tools/release: %s/%s holds the build path %s" % (arch, program, path))
            contents.append((top + arch + "/" + program, PROGRAM_MODE, image))
    contents.append((top + "README.txt", TEXT_MODE, crlf(readme.replace("@VERSION@", args.version))))
    contents.append((top + "LICENSE.txt", TEXT_MODE, crlf(read(os.path.join(args.source, "LICENSE")).decode())))
    # The scheduled tasks' script, checked as far as can be without PowerShell.
    script = os.path.join(args.source, "docs", "tickwatch-tasks.ps1")
    if subprocess.run([sys.executable, os.path.join(args.source, "tools", "check_powershell.py"), script]).returncode:
        sys.exit("tools/release: docs/tickwatch-tasks.ps1 does not pass tools/check_powershell.py")
    contents.append((top + "tickwatch-tasks.ps1", TEXT_MODE, crlf(read(script).decode())))

    os.makedirs(args.dist, exist_ok=True)
    zip_name = "tickwatch-%s-windows.zip" % args.version
    zip_path = os.path.join(args.dist, zip_name)
    # Written beside, then renamed: a failed run leaves no half zip behind.
    with zipfile.ZipFile(zip_path + ".part", "w") as archive:
        for name, mode, data in contents:
            archive.writestr(entry(name, mode, date_time), data, compresslevel=9)
    os.replace(zip_path + ".part", zip_path)

    digest = hashlib.sha256(read(zip_path)).hexdigest()
    sums_path = os.path.join(args.dist, "SHA256SUMS")
    with open(sums_path + ".part", "w", newline="\n") as f:
        f.write("%s  %s\n" % (digest, zip_name))
    os.replace(sums_path + ".part", sums_path)
    print("%s\n%s" % (zip_path, sums_path))


if __name__ == "__main__":
    main()
