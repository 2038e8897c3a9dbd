"""Tests of the Wine runner: how a machine becomes Wine's, and that a broken
Wine run fails."""

import glob
import io
import os
import contextlib
import shutil
import tempfile
import unittest

import winemachine as w

VOLUME_A = "{11111111-2222-3333-4444-555555555555}"
VOLUME_B = "{AAAAAAAA-2222-3333-4444-555555555555}"


def binary(text):
    return {"type": "REG_BINARY", "text": text}


def machine_with_table(table, drives="CH", volumes=(VOLUME_A, VOLUME_B)):
    return {"drives": drives, "registry": {"SYSTEM\\MountedDevices": table},
            "volumes": [{"guid": g} for g in volumes]}


class LetterToVolume(unittest.TestCase):
    def test_a_letter_shows_the_volume_with_its_record(self):
        machine = machine_with_table({
            "\\DosDevices\\H:": binary("disk-b"),
            "\\??\\Volume" + VOLUME_A: binary("disk-a"),
            "\\??\\Volume" + VOLUME_B.lower(): binary("disk-b"),
        })
        self.assertEqual(w.volume_of_letter(machine), {"C": None, "H": 1})

    def test_a_letter_without_an_equal_record_shows_an_empty_drive(self):
        # Containing the other record is not enough, and a value of a volume
        # the machine does not have gives no directory.
        machine = machine_with_table({
            "\\DosDevices\\H:": binary("disk-a#1"),
            "\\DosDevices\\C:": binary("disk-c"),
            "\\??\\Volume" + VOLUME_A: binary("disk-a"),
            "\\??\\Volume{99999999-2222-3333-4444-555555555555}": binary("disk-c"),
        })
        self.assertEqual(w.volume_of_letter(machine), {"C": None, "H": None})

    def test_letters_not_in_use_and_names_in_any_case(self):
        machine = machine_with_table({
            "\\dosdevices\\h:": binary("disk-a"),
            "\\DosDevices\\E:": binary("disk-a"),
            "\\??\\VOLUME" + VOLUME_A: binary("disk-a"),
        }, drives="H")
        self.assertEqual(w.volume_of_letter(machine), {"H": 0})


class Values(unittest.TestCase):
    def test_every_value_form_gives_the_sims_bytes(self):
        cases = [
            ("A", (1, b"A\0\0\0")),
            ({"type": "REG_BINARY", "text": "A"}, (3, b"A\0")),
            ({"type": "REG_BINARY", "text": "A", "terminated": True}, (3, b"A\0\0\0")),
            ({"type": "REG_EXPAND_SZ", "text": "A", "terminated": False}, (2, b"A\0")),
            ({"type": "REG_MULTI_SZ", "strings": ["A", "B"]}, (7, b"A\0\0\0B\0\0\0\0\0")),
            ({"type": "REG_DWORD", "dword": 258}, (4, b"\x02\x01\0\0")),
            ({"type": 11, "hex": "01 ff"}, (11, b"\x01\xff")),
        ]
        for value, expected in cases:
            self.assertEqual(w.registry_value(value), expected, value)

    def test_reg_file_keeps_names_and_bytes_exact(self):
        text = w.reg_file([("HKEY_LOCAL_MACHINE\\K", [("\\??\\Vol\"x", 1, b"A\0"), ("", 3, b"")])])
        self.assertTrue(text.startswith("\ufeff".encode("utf-16-le")))
        lines = text.decode("utf-16-le").split("\r\n")
        self.assertEqual(lines[2:5], ["[HKEY_LOCAL_MACHINE\\K]", '"\\\\??\\\\Vol\\"x"=hex(1):41,00', "@=hex(3):"])

    def test_device_keys_hold_class_properties_and_values(self):
        machine = {
            "devices": [
                {"instanceId": "USB\\VID_045E&PID_FFFF\\1", "hardwareIds": ["X", "Y"], "service": "USBSTOR"},
                {"instanceId": "USBSTOR\\DISK\\1&0", "values": {"ParentIdPrefix": "7&1"}},
                {"instanceId": "ROOT\\OTHER\\0", "hardwareIds": {"hex": "4100"}},
            ],
            "registry": {"system\\currentcontrolset\\enum\\USBSTOR\\DISK\\1&0": {"Extra": "e"}},
        }
        keys = dict(w.registry_keys(machine))
        self.assertEqual(len(keys), 3)
        usb = {name: (kind, data) for name, kind, data in keys[w.ENUM + "USB\\VID_045E&PID_FFFF\\1"]}
        self.assertEqual(usb["ClassGUID"][1], w.utf16(w.CLASS_GUIDS["USB"], True))
        self.assertEqual(usb["HardwareID"], (7, "X\0Y\0\0".encode("utf-16-le")))
        self.assertEqual(usb["Service"], (1, w.utf16("USBSTOR", True)))
        disk = [name for name, _, _ in keys[w.ENUM + "USBSTOR\\DISK\\1&0"]]
        self.assertEqual(disk, ["ClassGUID", "ParentIdPrefix", "Extra"])
        other = {name: data for name, _, data in keys[w.ENUM + "ROOT\\OTHER\\0"]}
        self.assertEqual(other["HardwareID"], b"A\0")
        self.assertNotIn("Service", other)


class Expressing(unittest.TestCase):
    def test_a_plain_machine_is_expressible(self):
        self.assertEqual(w.cannot_express(machine_with_table({"\\DosDevices\\C:": binary("c")})), [])
        self.assertEqual(w.cannot_express({"systemDirectory": "C:\\WINDOWS\\System32"}), [])

    def test_what_wine_cannot_show_is_named(self):
        cases = [
            {"setupApi": {"present": False}},
            {"setupApi": {"missing": ["SetupDiEnumDeviceInfo"]}},
            {"faults": [{"call": "RegOpenKeyExW"}]},
            {"maxAllocation": 4096},
            {"os": None},
            {"os": {"major": 4, "platformId": 1}},
            {"devices": [{"instanceId": "A\\B\\C", "enumKey": False}]},
            {"devices": [{"instanceId": "A\\B\\" + "C" * 196}]},
            {"devices": [{"instanceId": "A\\B\\c"}, {"instanceId": "A\\B\\C"}]},
            {"devices": [{"instanceId": "A\\B"}]},
            {"devices": [{"instanceId": "A\\B\\C\\D"}]},
            {"devices": [{"instanceId": "A\\B\\C", "values": {"service": "x"}}]},
            dict(machine_with_table({"\\DosDevices\\C:": binary("a"), "\\??\\Volume" + VOLUME_A: binary("a")}),
                 volumes=[{"guid": VOLUME_A, "medium": "none"}]),
            {"volumes": [{"guid": VOLUME_A, "files": {"device.xml": {"text": "xy", "size": 1}}}]},
            {"volumes": [{"guid": VOLUME_A, "files": {"a\\..\\device.xml": "x"}}]},
            machine_with_table({"\\DosDevices\\C:": binary("c")}, drives="H"),
            {"wine": {"versions": ["win3.1"]}},
            {"systemDirectory": "C:\\WINNT\\system32"},
        ]
        for machine in cases:
            self.assertNotEqual(w.cannot_express(machine), [], machine)

    def test_versions_follow_the_os_unless_the_file_names_them(self):
        self.assertEqual(w.versions({}), ["default"])
        self.assertEqual(w.versions({"os": {"major": 6, "minor": 0}}), ["default"])
        self.assertEqual(w.versions({"os": {"major": 5, "minor": 1}}), ["winxp"])
        self.assertEqual(w.versions({"os": {"major": 5, "minor": 0}}), ["win2k"])
        self.assertEqual(w.versions({"os": {"major": 5}, "wine": {"versions": ["winxp", "default"]}}),
                         ["winxp", "default"])
        keys = dict(w.machine_registry({}, ["default", "winxp"]))
        self.assertEqual(list(keys), ["HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\devdrives-winxp.exe"])

    def test_every_machine_file_runs_under_wine_or_says_why_not(self):
        # A machine Wine cannot show must say so, not be passed over.
        root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        files = glob.glob(os.path.join(root, "machines", "*.json"))
        self.assertTrue(files)
        for path in files:
            machine = w.load(path)
            if not machine.get("wine", {}).get("skip"):
                self.assertEqual(w.cannot_express(machine), [], path)
            self.assertIn("expect", machine, path)


class BrokenRuns(unittest.TestCase):
    """Wine exits 0 when it cannot start an exe at all: the run must fail."""

    def test_an_exe_wine_cannot_start_fails_the_machine(self):
        if shutil.which("wine") is None:
            self.fail("wine is not installed (scripts/setup installs it)")
        with tempfile.TemporaryDirectory() as directory:
            exe = os.path.join(directory, "devdrives.exe")
            with open(exe, "w") as f:
                f.write("not a program")
            machine = os.path.join(directory, "m.json")
            with open(machine, "w") as f:
                f.write('{"expect": {"stdout": "", "exit": 0}}')
            with contextlib.redirect_stdout(io.StringIO()) as out:
                self.assertEqual(w.main(["--exe", exe, machine]), 1)
            self.assertIn("FAIL m.json", out.getvalue())


if __name__ == "__main__":
    unittest.main()
