"""The Windows release (tools/release). The sources are copied twice, to two
folders (one with a space and a non-ASCII letter in its path), each made a
git repository with the last commit's time; each is released at another
time, in another time zone. The two zips must be the same bytes; the zip
holds what it promises; and its four exes run under Wine where it is
unpacked.

  WINE32_LOADER, WINE64_LOADER  the Wine loaders for the x86 and x64 exes
                                (no WINE32_LOADER: the x86 exes are not run)
"""

import hashlib
import os
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

from tickwatch_e2e import BANNER, ROOT, project_version, wine_env

COPIES = (("first", "UTC"), ("second copy \u00e9", "Pacific/Chatham"))


def git(*args, cwd=ROOT, **settings):
    env = dict(os.environ, GIT_CONFIG_NOSYSTEM="1", GIT_CONFIG_GLOBAL=os.devnull, **settings)
    return subprocess.run(["git"] + list(args), cwd=cwd, env=env, check=True, capture_output=True).stdout


def copy_sources(to, epoch):
    """The working tree's files that git knows or would add, committed at
    epoch in a repository of their own."""
    names = git("ls-files", "-z", "--cached", "--others", "--exclude-standard").decode().split("\0")
    for name in filter(None, names):
        source = os.path.join(ROOT, name)
        if os.path.isfile(source):  # not deleted in the working tree
            os.makedirs(os.path.dirname(os.path.join(to, name)), exist_ok=True)
            shutil.copy2(source, os.path.join(to, name))
    date = "@%d +0000" % epoch
    git("init", "-q", cwd=to)
    git("add", "-A", cwd=to)
    git("-c", "user.name=release test", "-c", "user.email=release@test", "commit", "-q", "-m", "release", cwd=to,
        GIT_AUTHOR_DATE=date, GIT_COMMITTER_DATE=date)


class Release(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="tickwatch-release-")
        cls.epoch = int(git("log", "-1", "--format=%ct"))
        cls.version = project_version()
        cls.zip_name = "tickwatch-%s-windows.zip" % cls.version
        cls.dists = []
        for folder, zone in COPIES:
            copy = os.path.join(cls.work, folder)
            copy_sources(copy, cls.epoch)
            env = dict(os.environ, TZ=zone)
            env.pop("SOURCE_DATE_EPOCH", None)
            done = subprocess.run([os.path.join(copy, "tools", "release")], cwd=copy, env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=1200)
            if done.returncode != 0:
                raise AssertionError("tools/release failed in %s:\n%s" % (copy, done.stderr[-4000:]))
            cls.dists.append(os.path.join(copy, "dist"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def read(self, dist, name):
        with open(os.path.join(dist, name), "rb") as f:
            return f.read()

    def test_both_builds_give_the_same_bytes(self):
        first, second = (self.read(dist, self.zip_name) for dist in self.dists)
        if first != second:
            with zipfile.ZipFile(os.path.join(self.dists[0], self.zip_name)) as a, \
                    zipfile.ZipFile(os.path.join(self.dists[1], self.zip_name)) as b:
                differ = [n for n in a.namelist() if n not in b.namelist() or a.read(n) != b.read(n)]
            self.fail("the zips differ, in %s" % (differ or "their headers"))
        self.assertEqual(*(self.read(dist, "SHA256SUMS") for dist in self.dists))

    def test_sha256sums_verifies_the_zip(self):
        self.assertEqual(self.read(self.dists[0], "SHA256SUMS").decode(),
                         "%s  %s\n" % (hashlib.sha256(self.read(self.dists[0], self.zip_name)).hexdigest(),
                                       self.zip_name))
        done = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.dists[0], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stdout), (0, self.zip_name + ": OK\n"))

    def test_the_zip_holds_one_folder_with_both_architectures_and_the_texts(self):
        top = "tickwatch-%s-windows/" % self.version
        with zipfile.ZipFile(os.path.join(self.dists[0], self.zip_name)) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos], [
                top, top + "x86/", top + "x86/tickwatch.exe", top + "x86/tickwatch-analyze.exe", top + "x64/",
                top + "x64/tickwatch.exe", top + "x64/tickwatch-analyze.exe", top + "README.txt",
                top + "LICENSE.txt", top + "tickwatch-tasks.ps1"
            ])
            for info in infos:
                # In UTC, to the 2 s a zip's times can hold.
                self.assertEqual(info.date_time, time.gmtime(self.epoch - self.epoch % 2)[:6], info.filename)
                mode = info.external_attr >> 16
                expected = 0o40755 if info.is_dir() else 0o100755 if info.filename.endswith(".exe") else 0o100644
                self.assertEqual(mode, expected, info.filename)
            for text in ("README.txt", "LICENSE.txt", "tickwatch-tasks.ps1"):
                data = archive.read(top + text)
                self.assertEqual(data.count(b"\n"), data.count(b"\r\n"), "%s in CR LF" % text)
                self.assertTrue(data.endswith(b"\r\n"))
            readme = archive.read(top + "README.txt").decode()
            self.assertNotIn("@VERSION@", readme)
            self.assertIn("Get-FileHash .\\%s" % self.zip_name, readme)
            self.assertIn("Copyright (c) 2026 Kestivar", archive.read(top + "LICENSE.txt").decode())

    def unpack(self):
        """The zip unpacked to a path with a space and a non-ASCII letter;
        returns its folder."""
        unpacked = os.path.join(self.work, "unpacked \u00e9")
        with zipfile.ZipFile(os.path.join(self.dists[0], self.zip_name)) as archive:
            archive.extractall(unpacked)
        return os.path.join(unpacked, "tickwatch-%s-windows" % self.version)

    def test_each_exe_is_for_its_machine_with_no_link_time(self):
        top = self.unpack()
        for arch, machine in (("x86", 0x14C), ("x64", 0x8664)):
            for program in ("tickwatch.exe", "tickwatch-analyze.exe"):
                with open(os.path.join(top, arch, program), "rb") as f:
                    image = f.read()
                pe = int.from_bytes(image[0x3C:0x40], "little")
                self.assertEqual(int.from_bytes(image[pe + 4:pe + 6], "little"), machine, (arch, program))
                self.assertEqual(image[pe + 8:pe + 12], bytes(4), "no link time in the PE header of %s" % program)

    def test_the_unpacked_exes_run_under_wine(self):
        # Each architecture whose loader is given: x64 alone where this
        # machine cannot run 32-bit programs (tests/e2e/CMakeLists.txt).
        top = self.unpack()
        banner = b"Kestivar TICKWATCH v" + self.version.encode()
        self.assertEqual(banner, BANNER)
        loaders = [(arch, os.environ.get(name)) for arch, name in (("x86", "WINE32_LOADER"), ("x64", "WINE64_LOADER"))]
        self.assertTrue(os.environ.get("WINE64_LOADER"), "the x64 exes always run")
        for arch, loader in loaders:
            if not loader:
                print("%s exes not run: no loader for them" % arch)
                continue
            folder = os.path.join(top, arch)
            done = subprocess.run([loader, os.path.join(folder, "tickwatch-analyze.exe"), "--version"], cwd=top,
                                  env=wine_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            self.assertEqual((done.returncode, done.stdout), (0, b"tickwatch-analyze %s\r\n" % self.version.encode()),
                             arch)
            done = subprocess.run([loader, os.path.join(folder, "tickwatch.exe"), "-h"], cwd=top,
                                  env=wine_env(), stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            self.assertEqual(done.returncode, 1, arch)
            self.assertTrue(done.stdout.startswith(b"\r\n" + banner + b"\r\n\r\nusage:\r\n"), done.stdout)


if __name__ == "__main__":
    unittest.main()
