"""What each tickwatch.exe is: its kind of program, the DLLs it needs, its
resources and its arithmetic, read from its file (Deliverable, no Wine
needed), and the version its banner reads from them (Banner, under Wine)."""

import os
import re
import struct
import subprocess
import unittest

import tickwatch_e2e
from tickwatch_e2e import BANNER, EXE, ROOT, TickwatchTestCase, project_version, run_to_end

OBJDUMP = os.environ.get("OBJDUMP", "objdump")
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
MAJOR, MINOR = (int(part) for part in project_version().split("."))
VERSION_MS = MAJOR << 16 | MINOR  # a version resource's most significant half

# x87 instructions that compute (rather than load, store, convert or compare):
# their extended precision would round differently from SSE2's doubles.
X87_ARITHMETIC = re.compile(r"fi?(add|subr?|mul|divr?)[slt]?p?|f(sqrt|prem1?|scale|sin|cos|sincos|ptan|patan|2xm1|yl2x|yl2xp1|rndint)")


def utf16(text):
    return text.encode("utf-16-le")


def instructions(objdump, path):
    """The mnemonics of the code in an object file or library, in order, by
    object file."""
    code = subprocess.run([objdump, "-d", "--no-show-raw-insn", path], check=True, capture_output=True,
                          text=True).stdout
    found, member = {}, None
    for line in code.splitlines():
        if "file format" in line:
            member = os.path.basename(line.split(":")[0].strip())
            found[member] = []
        parts = line.split("\t")
        if len(parts) > 1 and re.fullmatch(r" *[0-9a-f]+:", parts[0]) and parts[1].strip():
            found[member].append(parts[1].split()[0])
    return found


class ExeTestCase(TickwatchTestCase):

    def setUp(self):
        super().setUp()
        with open(EXE, "rb") as f:
            self.image = f.read()
        self.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
        self.is_32_bit = "pei-i386" in self.headers

    def fixed_file_info(self):
        at = self.image.find(FIXED_FILE_INFO_SIGNATURE)
        self.assertNotEqual(at, -1, "no version resource")
        return at, struct.unpack_from("<13I", self.image, at)


class Deliverable(ExeTestCase):

    def test_is_a_console_program_needing_only_dlls_that_windows_has(self):
        self.assertIn("Subsystem\t\t00000003\t(Windows CUI)", self.headers)
        dlls = sorted(line.split(":", 1)[1].strip().lower() for line in self.headers.splitlines()
                      if "DLL Name:" in line)
        self.assertEqual(dlls, ["kernel32.dll", "msvcrt.dll", "version.dll", "winmm.dll"])
        imports = self.headers.lower()
        self.assertNotIn("getsystemtimepreciseasfiletime", imports, "looked up at run time, never imported")

    def test_is_for_its_machine_with_no_link_time_and_no_build_path(self):
        pe = int.from_bytes(self.image[0x3C:0x40], "little")
        self.assertEqual(self.image[pe:pe + 4], b"PE\0\0")
        machine, time_stamp = int.from_bytes(self.image[pe + 4:pe + 6], "little"), self.image[pe + 8:pe + 12]
        self.assertEqual(machine, 0x14C if self.is_32_bit else 0x8664)
        self.assertEqual(time_stamp, bytes(4), "no link time in the PE header")
        for path in (ROOT, os.path.dirname(os.path.abspath(EXE))):
            self.assertNotIn(path.encode(), self.image, "a build path")

    def test_its_arithmetic_is_in_sse2_doubles_never_on_the_x87_unit(self):
        # In the code of tickwatch's logic, which the exe links in: the
        # stripped exe also holds the run-time's own x87 code. The analyzer's
        # logic too, but for the one x87 addition a 32-bit build makes: 2^64
        # added to an unsigned 64-bit integer with its top bit set, as it is
        # converted to double (exact, then rounded once), from memory or, in a
        # loop, from the register that holds it; and the degrees of
        # freedom's lag sums, in long double on purpose on every build (their
        # fourth differences cancel a dozen digits), which is x87 everywhere.
        build = os.path.dirname(os.path.abspath(EXE))
        long_double_on_purpose = {"edf.cpp.obj"}
        for library, allowed in (("libtickwatch_logic.a", ()), ("analyze/libtickwatch_analyze_logic.a", ("fadds", "fadd"))):
            members = instructions(OBJDUMP, os.path.join(build, library))
            self.assertGreater(sum(len(code) for code in members.values()), 1000, library)
            for member, code in members.items():
                if member in long_double_on_purpose:
                    continue
                x87 = sorted({m for m in code if X87_ARITHMETIC.fullmatch(m) and m not in allowed})
                self.assertEqual(x87, [], "%s: %s" % (library, member))

    def resources(self):
        """The (type, id) of every resource, from objdump's resource tree."""
        found, resource_type = set(), None
        for line in self.headers.split("The .rsrc Resource Directory section:")[-1].splitlines():
            entry = re.match(r"^[0-9a-f]+( +)Entry: ID: 0x([0-9a-f]+),", line)
            if entry and len(entry.group(1)) == 3:
                resource_type = int(entry.group(2), 16)
            elif entry and len(entry.group(1)) == 5:
                found.add((resource_type, int(entry.group(2), 16)))
        return found

    def test_both_carry_the_manifest_and_32_bit_the_version_resource(self):
        # RT_MANIFEST id 1 in both, RT_VERSION id 1 in the 32-bit build only:
        # a 32-bit program without a manifest has its writes into protected
        # folders virtualized.
        manifest, version = (24, 1), (16, 1)
        self.assertEqual(self.resources(), {manifest, version} if self.is_32_bit else {manifest})
        with open(os.path.join(ROOT, "resources", "tickwatch.manifest"), "rb") as f:
            manifest_text = f.read()
        self.assertIn(b'<requestedExecutionLevel level="asInvoker"', manifest_text)
        self.assertIn(b'processorArchitecture="*"', manifest_text, "an identity that fits either architecture")
        self.assertTrue(manifest_text in self.image, "the manifest as it is in resources/")
        if self.is_32_bit:
            _, info = self.fixed_file_info()
            file_version, product_version, file_type = info[2:4], info[4:6], info[9]
            self.assertEqual(file_version, (VERSION_MS, 0))
            self.assertEqual(product_version, (VERSION_MS, 0))
            self.assertEqual(file_type, 1, "VFT_APP")
            resource_version = "%d, %d, 0, 0" % (MAJOR, MINOR)
            for key, value in (("FileDescription", "tickwatch"), ("InternalName", "tickwatch"),
                               ("OriginalFilename", "tickwatch.exe"), ("ProductName", "Kestivar tickwatch"),
                               ("Comments", "Log system time adjustment parameters."),
                               ("FileVersion", resource_version), ("ProductVersion", resource_version)):
                self.assertIn(utf16(key), self.image)
                self.assertIn(utf16(value), self.image)
            self.assertIn(utf16("StringFileInfo"), self.image)
            self.assertIn(utf16("00000000"), self.image)
        else:
            self.assertEqual(self.image.find(FIXED_FILE_INFO_SIGNATURE), -1, "no version resource")


class Banner(ExeTestCase):

    def test_banner_shows_the_resource_product_version_marked_where_it_differs(self):
        status, out = run_to_end(["-h"], self.dir)
        self.assertEqual(status, 1)
        self.assertTrue(out.startswith(b"\r\n" + BANNER + b"\r\n"), out)
        if not self.is_32_bit:
            return
        at, _ = self.fixed_file_info()
        version = "%d.%d" % (MAJOR, MINOR)
        for product_version, shown in (((VERSION_MS + 1, 0), "%d.%d (!)" % (MAJOR, MINOR + 1)),
                                       ((VERSION_MS, 1), version + ".0.1 (!)"),
                                       ((VERSION_MS, 0x00010000), version + ".1.0 (!)")):
            patched = bytearray(self.image)
            struct.pack_into("<2I", patched, at + 16, *product_version)
            copy = os.path.join(self.dir, "patched.exe")
            with open(copy, "wb") as f:
                f.write(patched)
            tickwatch_e2e.EXE = copy
            try:
                status, out = run_to_end(["-h"], self.dir)
            finally:
                tickwatch_e2e.EXE = EXE
            self.assertEqual(status, 1)
            self.assertTrue(out.startswith(b"\r\nKestivar TICKWATCH v" + shown.encode() + b"\r\n"), out)


if __name__ == "__main__":
    unittest.main()
