"""The shipped programs as files: chatdraft.exe (x86-64) and chatdraft32.exe
(i686) are self-contained, importing only Windows system DLLs, and small.

CHATDRAFT_WIN_BUILD names the 64-bit build directory, CHATDRAFT_WIN32_BUILD
the 32-bit one; a build that is not named is skipped. No Wine prefix is needed.
"""

import os
import re
import shutil
import subprocess
import unittest

MAX_BYTES = 300 * 1024
# DLLs every Windows installation (and Wine) provides; MinGW's own runtime
# DLLs (libstdc++, libgcc, winpthread) must not appear: they are linked in.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "ntdll.dll", "advapi32.dll"}
NEEDED_DLLS = {"kernel32.dll", "user32.dll"}

BUILDS = [
    # (environment variable, program, objdump, PE format)
    ("CHATDRAFT_WIN_BUILD", "chatdraft.exe", "x86_64-w64-mingw32-objdump", "pei-x86-64"),
    ("CHATDRAFT_WIN32_BUILD", "chatdraft32.exe", "i686-w64-mingw32-objdump", "pei-i386"),
]


def objdump(tool, *args):
    return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout


def imported_dlls(tool, path):
    return {name.lower() for name in re.findall(r"DLL Name:\s*(\S+)", objdump(tool, "-p", path))}


class Binaries(unittest.TestCase):
    def program(self, variable, name, tool):
        build = os.environ.get(variable)
        if not build:
            self.skipTest("%s is not set" % variable)
        if not shutil.which(tool):
            self.fail("%s is missing (binutils-mingw-w64)" % tool)
        path = os.path.join(build, name)
        self.assertTrue(os.path.isfile(path), "no %s in %s" % (name, build))
        return path

    def test_each_build_imports_only_system_dlls(self):
        for variable, name, tool, pe_format in BUILDS:
            with self.subTest(name):
                path = self.program(variable, name, tool)
                self.assertIn("file format %s" % pe_format, objdump(tool, "-f", path))
                dlls = imported_dlls(tool, path)
                self.assertTrue(NEEDED_DLLS <= dlls, "%s imports %s" % (name, sorted(dlls)))
                self.assertEqual(set(), dlls - SYSTEM_DLLS,
                                 "%s imports DLLs that are not part of Windows" % name)

    def test_each_build_is_small(self):
        for variable, name, tool, _ in BUILDS:
            with self.subTest(name):
                size = os.path.getsize(self.program(variable, name, tool))
                self.assertLess(size, MAX_BYTES, "%s is %d bytes" % (name, size))


if __name__ == "__main__":
    unittest.main()
