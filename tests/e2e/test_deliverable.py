"""What each tickwatch.exe is: its kind of program, the DLLs it needs, its
resources, and the version its banner reads from them."""

import os
import re
import struct
import subprocess
import unittest

import tickwatch_e2e
from tickwatch_e2e import BANNER, EXE, TickwatchTestCase, run_to_end

OBJDUMP = os.environ.get("OBJDUMP", "objdump")
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def utf16(text):
    return text.encode("utf-16-le")


class Deliverable(TickwatchTestCase):

    def setUp(self):
        super().setUp()
        with open(EXE, "rb") as f:
            self.image = f.read()
        self.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
        self.is_32_bit = "pei-i386" in self.headers

    def test_is_a_console_program_needing_only_dlls_that_windows_has(self):
        self.assertIn("Subsystem\t\t00000003\t(Windows CUI)", self.headers)
        dlls = sorted(line.split(":", 1)[1].strip().lower() for line in self.headers.splitlines()
                      if "DLL Name:" in line)
        self.assertEqual(dlls, ["kernel32.dll", "msvcrt.dll", "version.dll", "winmm.dll"])
        imports = self.headers.lower()
        self.assertNotIn("getsystemtimepreciseasfiletime", imports, "looked up at run time, never imported")

    def fixed_file_info(self):
        at = self.image.find(FIXED_FILE_INFO_SIGNATURE)
        self.assertNotEqual(at, -1, "no version resource")
        return at, struct.unpack_from("<13I", self.image, at)

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
        with open(os.path.join(os.path.dirname(__file__), "../../resources/tickwatch.manifest"), "rb") as f:
            manifest_text = f.read()
        self.assertIn(b'<requestedExecutionLevel level="asInvoker"', manifest_text)
        self.assertIn(b'processorArchitecture="*"', manifest_text, "an identity that fits either architecture")
        self.assertTrue(manifest_text in self.image, "the manifest as it is in resources/")
        if self.is_32_bit:
            _, info = self.fixed_file_info()
            file_version, product_version, file_type = info[2:4], info[4:6], info[9]
            self.assertEqual(file_version, (0x00010006, 0))
            self.assertEqual(product_version, (0x00010006, 0))
            self.assertEqual(file_type, 1, "VFT_APP")
            for key, value in (("FileDescription", "tickwatch"), ("InternalName", "tickwatch"),
                               ("OriginalFilename", "tickwatch.exe"), ("ProductName", "Kestivar tickwatch"),
                               ("Comments", "Log system time adjustment parameters."),
                               ("FileVersion", "1, 6, 0, 0"), ("ProductVersion", "1, 6, 0, 0")):
                self.assertIn(utf16(key), self.image)
                self.assertIn(utf16(value), self.image)
            self.assertIn(utf16("StringFileInfo"), self.image)
            self.assertIn(utf16("00000000"), self.image)
        else:
            self.assertEqual(self.image.find(FIXED_FILE_INFO_SIGNATURE), -1, "no version resource")

    def test_banner_shows_the_resource_product_version_marked_where_it_differs(self):
        status, out = run_to_end(["-h"], self.dir)
        self.assertEqual(status, 1)
        self.assertTrue(out.startswith(b"\r\n" + BANNER + b"\r\n"), out)
        if not self.is_32_bit:
            return
        at, _ = self.fixed_file_info()
        for product_version, shown in (((0x00010007, 0), b"1.7 (!)"), ((0x00010006, 1), b"1.6.0.1 (!)"),
                                       ((0x00010006, 0x00010000), b"1.6.1.0 (!)")):
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
            self.assertTrue(out.startswith(b"\r\nKestivar TICKWATCH v" + shown + b"\r\n"), out)


if __name__ == "__main__":
    unittest.main()
