#!/usr/bin/env python3
"""Unpacks dist/Starter-win32.zip and dist/Starter-win64.zip and checks what a player gets: the
right machine, a GUI program, no MinGW runtime DLL to miss nor a function older Windows lacks,
the manifest, every picture the program loads at each scale, and texts that agree with the
program. Exit code 77 (skipped) when scripts/package has not
made the zips yet."""
import os
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import images  # noqa: E402
import pe_file  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DIST = os.environ.get("STARTER_DIST", os.path.join(ROOT, "dist"))
PACKAGES = {"win32": (pe_file.MACHINE_I386, False), "win64": (pe_file.MACHINE_AMD64, True)}
CONTENTS = {"Starter.exe", "starter.dll", "starter.dat", "LIESMICH.txt", "README.txt", "LISEZMOI.txt"}
READMES = ["LIESMICH.txt", "README.txt", "LISEZMOI.txt"]
# The main picture, the buttons' normal and hover images, and the description pictures.
BITMAPS = {3, *range(170, 184), *range(140, 147), *range(150, 157), *range(160, 167)}
# The same pictures drawn at 150 % and 200 %: (scale, id offset).
LARGER_SETS = [(1.5, 1000), (2, 2000)]
# Functions of Windows 8.1 and 10 that the program looks up at run time: imported, they would
# keep it from loading on Vista and 7.
NEWER_FUNCTIONS = {"GetDpiForWindow", "GetDpiForSystem", "SetProcessDpiAwarenessContext",
                   "SetThreadDpiAwarenessContext", "GetDpiForMonitor", "SetProcessDpiAwareness"}
ASM_V1, ASM_V3 = "urn:schemas-microsoft-com:asm.v1", "urn:schemas-microsoft-com:asm.v3"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
# Rows 61 to 67 of each language name the description pictures.
DESCRIPTION_ROWS = [base + row for base in (10000, 15000, 20000) for row in range(61, 68)]
MINGW_RUNTIME = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread)", re.I)
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
               "ole32.dll", "shell32.dll", "user32.dll", "wininet.dll"}
SETTINGS = ["HTTP_URL", "FTP_URL", "ADDSCORE_PHP", "ADDPLANE_PHP", "GETPLANES_PHP"]
MAIL_KEY = r"Software\Brightmoor Software\INet\1.0"


def unpack(name):
    with zipfile.ZipFile(os.path.join(DIST, f"Starter-{name}.zip")) as archive:
        return {info.filename: archive.read(info) for info in archive.infolist()}


def profile_entries(text):
    """(section, key, value) of an INI text read by the Windows profile rules: a line's key is
    everything before its first '=', so a commented-out line yields a key starting with ';'."""
    section = None
    for line in text.split("\r\n"):
        line = line.strip()
        if line.startswith("[") and "]" in line:
            section = line[1:line.index("]")].strip().lower()
        elif "=" in line and section is not None:
            key, value = line.split("=", 1)
            yield section, key.strip(), value.strip()


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.files = {name: unpack(name) for name in PACKAGES}

    def test_each_zip_holds_the_program_its_settings_and_three_readmes(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                self.assertEqual(set(files), CONTENTS)

    def test_the_program_is_a_gui_program_for_the_package_machine(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                machine, plus = PACKAGES[name]
                exe = pe_file.PeFile(files["Starter.exe"])
                self.assertEqual(exe.machine, machine)
                self.assertEqual(exe.is_pe32_plus, plus)
                self.assertEqual(exe.subsystem, pe_file.SUBSYSTEM_GUI)
                self.assertFalse(exe.characteristics & pe_file.FILE_DLL)
                dll = pe_file.PeFile(files["starter.dll"])
                self.assertEqual(dll.machine, machine, "a picture library the program cannot load")
                self.assertTrue(dll.characteristics & pe_file.FILE_DLL)

    def test_nothing_needs_a_mingw_runtime_dll(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                imported = {module: pe_file.PeFile(files[module]).imported_dlls()
                            for module in ("Starter.exe", "starter.dll")}
                for module, dlls in imported.items():
                    self.assertEqual([d for d in dlls if MINGW_RUNTIME.match(d)], [], module)
                    # Anything beyond what every Windows ships is a DLL the player lacks.
                    self.assertLessEqual({d.lower() for d in dlls}, SYSTEM_DLLS, module)
                # Both kinds of import were read: the program needs these whenever it loads them.
                self.assertLessEqual({"kernel32.dll", "wininet.dll"}, {d.lower() for d in imported["Starter.exe"]})

    def test_no_function_of_a_newer_windows_is_imported(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                functions = pe_file.PeFile(files["Starter.exe"]).imported_functions()
                self.assertIn("CreateWindowExA", functions.get("USER32.dll", []) + functions.get("user32.dll", []))
                imported = {f for names in functions.values() for f in names}
                self.assertEqual(imported & NEWER_FUNCTIONS, set())

    def test_the_manifest_declares_per_monitor_dpi_awareness_and_nothing_else(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                manifests = pe_file.PeFile(files["Starter.exe"]).resources(pe_file.RT_MANIFEST)
                self.assertEqual(list(manifests), [1], "the program's manifest is resource 1 of type 24")
                root = ElementTree.fromstring(manifests[1])
                self.assertEqual(root.tag, "{%s}assembly" % ASM_V1)
                self.assertEqual([e.tag for e in root.iter()][1:],
                                 ["{%s}application" % ASM_V3, "{%s}windowsSettings" % ASM_V3,
                                  "{%s}dpiAware" % SETTINGS_2005, "{%s}dpiAwareness" % SETTINGS_2016],
                                 "no execution level: it would end the file virtualization of myPlanes")
                self.assertEqual(root.find(".//{%s}dpiAware" % SETTINGS_2005).text, "true/pm")
                self.assertEqual(root.find(".//{%s}dpiAwareness" % SETTINGS_2016).text, "PerMonitorV2, PerMonitor")

    def test_a_first_call_into_a_delay_loaded_dll_reaches_its_loader_stub(self):
        # Before its first call a function's address slot holds the stub that loads the DLL and
        # fills the slot. An i686 link once left every slot 0: the first online action jumped to 0.
        for name, files in self.files.items():
            exe = pe_file.PeFile(files["Starter.exe"])
            for dll in ("wininet.dll", "shell32.dll"):
                with self.subTest(package=name, dll=dll):
                    slots = list(exe.delay_slots(dll))
                    self.assertTrue(slots, "no delay-loaded function")
                    for slot, code in slots:
                        self.assertIsNotNone(code, f"slot {slot:#x} is empty")
                        self.assertEqual(exe.section_of(code), ".text")
                        self.assertTrue(exe.stub_loads_slot(code, slot), f"slot {slot:#x}")

    def test_the_library_holds_every_picture_the_program_loads(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                texts = pe_file.PeFile(files["Starter.exe"]).strings()
                named = {int(texts[row]) for row in DESCRIPTION_ROWS}
                self.assertLessEqual(named, BITMAPS)
                bitmaps = pe_file.PeFile(files["starter.dll"]).resources(pe_file.RT_BITMAP)
                self.assertEqual(BITMAPS - set(bitmaps), set())
                for ident in sorted(BITMAPS):
                    picture = images.read_dib(bitmaps[ident])
                    self.assertGreater(picture.width * picture.height, 0, ident)
                    # Each larger set holds the picture, drawn at its size (rounded as the Starter rounds).
                    for scale, offset in LARGER_SETS:
                        self.assertIn(ident + offset, bitmaps)
                        width, height = struct.unpack_from("<ii", bitmaps[ident + offset], 4)
                        self.assertEqual((width, abs(height)),
                                         (int(picture.width * scale + 0.5), int(picture.height * scale + 0.5)),
                                         ident + offset)
                main = images.read_dib(bitmaps[3])
                self.assertIn((255, 0, 255), {p for row in main.rows for p in row},
                              "the main picture has no outline to cut the window from")

    def test_the_example_starter_dat_changes_nothing_and_names_real_settings(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                raw = files["starter.dat"]
                self.assertFalse(raw.startswith(b"\xef\xbb\xbf"), "a byte order mark hides [setup]")
                text = raw.decode("ascii")
                self.assertNotIn("\n", text.replace("\r\n", ""))
                exe = files["Starter.exe"]
                entries = list(profile_entries(text))
                self.assertEqual([e for e in entries if not e[1].startswith(";")], [])
                examples = {key.lstrip(";").strip(): value for section, key, value in entries
                            if section == "setup"}
                self.assertEqual(sorted(examples), sorted(SETTINGS))
                for key, value in examples.items():
                    self.assertTrue(key.encode() + b"\0" in exe, f"the program reads no {key}")
                    self.assertTrue(value.encode() + b"\0" in exe, f"{key}={value} is not the built-in value")

    def test_the_readmes_name_where_the_program_keeps_the_mail_address(self):
        for name, files in self.files.items():
            with self.subTest(package=name):
                exe = files["Starter.exe"]
                self.assertTrue(MAIL_KEY.encode() + b"\0" in exe, "the program keeps its settings elsewhere")
                for readme in READMES:
                    raw = files[readme]
                    self.assertTrue(raw.startswith(b"\xef\xbb\xbf"), readme)
                    text = raw[3:].decode("utf-8")
                    self.assertNotIn("\n", text.replace("\r\n", ""), readme)
                    self.assertIn("HKEY_CURRENT_USER\\" + MAIL_KEY, text, readme)


if __name__ == "__main__":
    missing = [n for n in PACKAGES if not os.path.exists(os.path.join(DIST, f"Starter-{n}.zip"))]
    if missing:
        print(f"no {', '.join(missing)} package in {DIST}: run scripts/package first")
        sys.exit(77)
    unittest.main(verbosity=2)
