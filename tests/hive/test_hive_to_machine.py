"""scripts/hive-to-machine on synthetic and real hives, replayed by the native build (and Wine);
devdrives-capture --anonymize on the real hives' machine files and every file in tests/machines;
and devdrives-capture --explain on both."""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

from hives import (REAL_HIVES, REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_SZ, dword, mark_unclean, multi,
                   real_hive, sz, system_keys, text, write_hive)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import round_trip  # noqa: E402  (the capture's round trip, whose identifier check these tests share)

SCRIPT = os.path.join(ROOT, "scripts", "hive-to-machine")
NATIVE = os.environ.get("HIVE_TEST_NATIVE", os.path.join(ROOT, "build", "native", "devdrives"))
NATIVE_CAPTURE = os.path.join(os.path.dirname(NATIVE), "devdrives-capture")
WINE_EXE = os.environ.get("HIVE_TEST_EXE")
MACHINES = os.path.join(ROOT, "tests", "machines")
TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7}

CLASS_USB = ("ClassGUID", REG_SZ, sz("{36fc9e60-c465-11cf-8056-444553540000}"))
CLASS_DISK = ("ClassGUID", REG_SZ, sz("{4d36e967-e325-11ce-bfc1-08002be10318}"))
CLASS_VOLUME = ("ClassGUID", REG_SZ, sz("{71a27cdd-812a-11d0-bec7-08002be2092f}"))
RM_RECORD = "\\??\\STORAGE#RemovableMedia#7&1a2b3c4d&0&RM#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"
STICK = "USB\\VID_1234&PID_5678\\SN0001"
DISK_RECORD = "_??_USBSTOR#Disk&Ven_Acme&Prod_Stick&Rev_1.00#SN0002&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
VISTA_STICK = "USB\\VID_1234&PID_5678\\SN0002"
DESCRIPTOR = "<hardware><type>main</type></hardware>"
FIXED_DISK = ("\\DosDevices\\C:", REG_BINARY, bytes.fromhex("8a3c9d120000007e00000000"))


HP_STICK = "USB\\VID_03F0&PID_3207\\AA951D0000007252"
LETTERED, UNLETTERED = "USB\\VID_0781&PID_5580\\AA010603160707470215", "USB\\VID_0781&PID_5580\\AA010215170355310594"
CRUZER = "USB\\VID_0781&PID_5530\\200608767007B7C08A6A"
UASP_DISKS = ("USB\\VID_0781&PID_558C\\MSFT30313735303835343230333437", "USB\\VID_152D&PID_0567\\MSFT30160087320341700000F9")
# The real hives as captures see them: the Windows version, and the USB devices made ours, so that
# the scan reads the mount table and those devices' keys.
REAL_HIVE_ROWS = {
    "SYSTEM": ("7", [HP_STICK]),
    "SYSTEM_2": ("8", ["USB\\VID_80EE&PID_0021\\5&2D7AE1FF&0&1"]),
    "SYSTEM_B": ("10", [LETTERED, UNLETTERED]),
    "SYSTEM_WIN_10_1709": ("10", [CRUZER, *UASP_DISKS]),
}
NO_REAL_HIVES = (f"{REAL_HIVES} is absent: the real SYSTEM hives are not part of the repository "
                 "(DEVDRIVES_HIVES names another folder)")
_unpacked = []


def real_hive_paths():
    """{name: path} of the real hives, unpacked once per run."""
    if not _unpacked:
        _unpacked.append(tempfile.TemporaryDirectory(prefix="hive-real-"))
    return {name: real_hive(name, _unpacked[0].name) for name in REAL_HIVE_ROWS}


def stick(serial):
    return ("USB\\VID_1234&PID_5678\\" + serial,
            [("HardwareID", REG_MULTI_SZ, multi(["USB\\VID_1234&PID_5678&REV_0100", "USB\\VID_1234&PID_5678"])),
             ("Service", REG_SZ, sz("USBSTOR")), CLASS_USB])


def xp_disk(serial, prefix):
    return ("USBSTOR\\Disk&Ven_Acme&Prod_Stick&Rev_1.00\\%s&0" % serial,
            [("Service", REG_SZ, sz("disk")), CLASS_DISK] + ([("ParentIdPrefix",) + prefix] if prefix else []))


def xp_keys(prefix=(REG_SZ, sz("7&1a2b3c4d&0")), record=text(RM_RECORD)):
    """Windows XP: a stick known by its disk's ParentIdPrefix; control set 2 is the current one and
    control set 1 holds a stale prefix that names no volume."""
    current = [stick("SN0001"), xp_disk("SN0001", prefix),
               ("STORAGE\\RemovableMedia\\7&1a2b3c4d&0&RM", [("Service", REG_SZ, sz("")), CLASS_VOLUME])]
    stale = [stick("SN0001"), xp_disk("SN0001", (REG_SZ, sz("7&99999999&0")))]
    mount = [FIXED_DISK, ("\\??\\Volume{a1000000-0000-0000-0000-000000000001}", REG_BINARY, record),
             ("\\DosDevices\\F:", REG_BINARY, record)]
    return system_keys(None, mount, current=2, control_sets={1: stale, 2: current})


def vista_keys():
    """Windows 7: the stick's disk has no ParentIdPrefix; its volume device carries the whole record.
    Beside them, the volume name of a stick that is gone, and a volume device whose ID is too long
    for the command to read (and for Wine to keep)."""
    long_id = "_??_USBSTOR#Disk&Ven_Acme&Prod_Long#SN0002&7#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"
    devices = [("STORAGE\\Volume\\" + DISK_RECORD, [("Service", REG_SZ, sz("volsnap")), CLASS_VOLUME]),
               ("STORAGE\\Volume" + "L" * 180 + "\\" + long_id, [("Service", REG_SZ, sz("volsnap")), CLASS_VOLUME]),
               stick("SN0002"), xp_disk("SN0002", None)]
    mount = [("\\??\\Volume{b2000000-0000-0000-0000-000000000002}", REG_BINARY, text(DISK_RECORD)),
             ("\\??\\Volume{b8000000-0000-0000-0000-000000000008}", REG_BINARY, text(long_id)),
             ("\\??\\Volume{b9000000-0000-0000-0000-000000000009}", REG_BINARY, text(DISK_RECORD.replace("SN0002", "SN0009"))),
             ("\\DosDevices\\G:", REG_BINARY, text(DISK_RECORD)), FIXED_DISK]
    return system_keys(devices, mount)


def card_reader_keys():
    """Two storage children, two letters; --as-device gives both volumes a descriptor."""
    def child(slot, number):
        return ("USBSTOR\\Disk&Ven_Acme&Prod_%s&Rev_1.00\\SN0003&%d" % (slot, number), [("Service", REG_SZ, sz("disk"))])
    records = [DISK_RECORD.replace("Stick", slot).replace("SN0002&0", "SN0003&%d" % n) for slot, n in (("CF", 0), ("SD", 1))]
    mount = [("\\??\\Volume{c3000000-0000-0000-0000-000000000001}", REG_BINARY, text(records[1])),
             ("\\??\\Volume{c3000000-0000-0000-0000-000000000002}", REG_BINARY, text(records[0])),
             ("\\DosDevices\\H:", REG_BINARY, text(records[0])), ("\\DosDevices\\I:", REG_BINARY, text(records[1]))]
    return system_keys([stick("SN0003"), child("CF", 0), child("SD", 1)], mount)


def software_keys(values):
    return {"Microsoft\\Windows NT\\CurrentVersion": values}


def value_bytes(form):
    """(type, bytes) of a machine-file value, as docs/machine-files.md defines its forms."""
    if isinstance(form, str):
        return REG_SZ, sz(form)
    value_type = TYPES.get(form["type"], form["type"])
    if "hex" in form:
        return value_type, bytes.fromhex(form["hex"])
    if "strings" in form:
        return value_type, multi(form["strings"])
    if "dword" in form:
        return value_type, dword(form["dword"])
    terminated = form.get("terminated", value_type in (REG_SZ, REG_EXPAND_SZ))
    return value_type, text(form["text"]) + (b"\0\0" if terminated else b"")


def property_bytes(form):
    return bytes.fromhex(form["hex"]) if isinstance(form, dict) else (multi(form) if isinstance(form, list) else sz(form))


class HiveCase(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="hive-test-")
        self.dir = self.scratch.name
        self.addCleanup(self.scratch.cleanup)

    def hive(self, keys, name="SYSTEM"):
        return write_hive(os.path.join(self.dir, name), keys)

    def convert(self, hive, *args, name="machine.json"):
        """The machine file made from hive, as a path; fails the test unless the script succeeds."""
        output = os.path.join(self.dir, name)
        done = subprocess.run([SCRIPT, hive, *args, "--output", output], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stderr, done.stdout), (0, "", ""))
        return output

    def machine(self, hive, *args):
        with open(self.convert(hive, *args), encoding="utf-8") as machine_file:
            return json.load(machine_file)

    def with_expect(self, path):
        """Writes the native report into the machine file as its "expect", and returns it."""
        report = self.report(path)
        with open(path, encoding="utf-8") as machine_file:
            machine = json.load(machine_file)
        machine["expect"] = {"stdout": report[0], "exit": report[1]}
        with open(path, "w", encoding="utf-8") as machine_file:
            json.dump(machine, machine_file)
        return report

    def report(self, machine_path):
        done = subprocess.run([NATIVE], env={**os.environ, "DEVDRIVES_MACHINE": machine_path}, capture_output=True)
        self.assertEqual(done.stderr, b"")
        return done.stdout.decode("ascii"), done.returncode

    def assert_reports(self, rows):
        for hive, args, expected in rows:
            with self.subTest(hive=os.path.basename(hive), args=args):
                self.assertEqual(self.report(self.convert(hive, *args)), expected)


class SyntheticReports(HiveCase):
    def test_reports_follow_the_rules(self):
        xp = self.hive(xp_keys(), "XP")
        unterminated = self.hive(xp_keys(prefix=(REG_SZ, text("7&1a2b3c4d&0")), record=text(RM_RECORD) + b"X"), "ODD")
        not_a_string = self.hive(xp_keys(prefix=(REG_BINARY, sz("7&1a2b3c4d&0"))), "BINARY")
        vista = self.hive(vista_keys(), "VISTA")
        cards = self.hive(card_reader_keys(), "CARDS")
        found_f = ('[{"iDrive":"F"}]', 0)
        self.assert_reports([
            (xp, ["--os", "xp"], ("", 1)),
            (xp, ["--os", "xp", "--as-device", STICK], found_f),
            (xp, ["--os", "2000", "--as-device", STICK.lower()], found_f),
            (xp, ["--os", "7", "--as-device", STICK], found_f),
            # the command cuts an unterminated prefix and drops a record's odd last byte
            (unterminated, ["--os", "xp", "--as-device", STICK], found_f),
            # a prefix that is not REG_SZ counts as missing; before Vista nothing stands in for it
            (not_a_string, ["--os", "xp", "--as-device", STICK], ("", 1)),
            (vista, ["--os", "7", "--as-device", VISTA_STICK], ('[{"iDrive":"G"}]', 0)),
            (vista, ["--os", "xp", "--as-device", VISTA_STICK], ("", 1)),
            (vista, ["--os", "10.0.19045", "--as-device", VISTA_STICK], ('[{"iDrive":"G"}]', 0)),
            (cards, ["--os", "10", "--as-device", "USB\\VID_1234&PID_5678\\SN0003"],
             ('[{"iDrive":"H","sdDriveA":"I"}]', 0)),
        ])

    def test_version_from_the_software_hive(self):
        vista = self.hive(vista_keys(), "VISTA")
        rows = [
            ([("CurrentVersion", REG_SZ, sz("6.3")), ("CurrentMajorVersionNumber", REG_DWORD, dword(10)),
              ("CurrentMinorVersionNumber", REG_DWORD, dword(0)), ("CurrentBuildNumber", REG_SZ, sz("19045"))],
             (10, 0, 19045), "Windows 10.0.19045 from the SOFTWARE hive.", ('[{"iDrive":"G"}]', 0)),
            ([("CurrentVersion", REG_SZ, sz("6.1")), ("CurrentBuildNumber", REG_SZ, sz("7601"))],
             (6, 1, 7601), "Windows 6.1.7601 from the SOFTWARE hive.", ('[{"iDrive":"G"}]', 0)),
            ([("CurrentBuildNumber", REG_SZ, text("2600")), ("CurrentVersion", REG_SZ, sz("5.1"))],
             (5, 1, 2600), "Windows 5.1.2600 from the SOFTWARE hive.", ("", 1)),
        ]
        for values, version, said, expected in rows:
            with self.subTest(version=version):
                software = self.hive(software_keys(values), "SOFTWARE")
                path = self.convert(vista, "--software", software, "--as-device", VISTA_STICK)
                with open(path, encoding="utf-8") as machine_file:
                    machine = json.load(machine_file)
                self.assertEqual(machine["os"], dict(zip(("major", "minor", "build"), version), platformId=2))
                self.assertIn(said, machine["description"])
                self.assertEqual(self.report(path), expected)

    def test_os_forms(self):
        xp = self.hive(xp_keys())
        for form, version in [("2000", (5, 0, 2195)), ("XP", (5, 1, 2600)), ("2003", (5, 2, 3790)),
                              ("vista", (6, 0, 6002)), ("7", (6, 1, 7601)), ("8", (6, 2, 9200)),
                              ("8.1", (6, 3, 9600)), ("10", (10, 0, 19045)), ("11", (10, 0, 22631)),
                              ("5.1", (5, 1, 0)), ("6.1.7600", (6, 1, 7600)), ("10.0.19045", (10, 0, 19045))]:
            with self.subTest(form=form):
                self.assertEqual(self.machine(xp, "--os", form)["os"],
                                 dict(zip(("major", "minor", "build"), version), platformId=2))


class ExactBytes(HiveCase):
    """What the hive holds reaches the machine file byte for byte, in the hive's order."""

    MOUNT_VALUES = [
        ("\\DosDevices\\E:", REG_BINARY, text("abc") + b"\x7f"),
        ("\\??\\Volume{e5000000-0000-0000-0000-000000000005}", REG_BINARY, text("\\??\\X") + b"\0\0" + text("tail")),
        ("#{46686113-4e39-11ea-bd05-784f439fa657}", REG_BINARY, bytes.fromhex("ae4645df008085e122000000")),
        ("\\dosdevices\\k:", REG_SZ, text("unterminated")),
        ("DMIO", REG_BINARY, b"DMIO:ID:" + bytes(range(16))),
        ("\\DosDevices\\B:", REG_EXPAND_SZ, sz("expand")),
        ("\\DosDevices\\D:", 0x2000, b""),
        ("Ünïcode€ name", REG_DWORD, dword(7)),
        ("\\??\\Volume{d4000000-0000-0000-0000-000000000004}", REG_BINARY, text("_??_USBSTOR#\u0101\ud800")),
    ]

    def test_mount_table_keeps_order_and_bytes(self):
        machine = self.machine(self.hive(system_keys([], self.MOUNT_VALUES)), "--os", "7")
        listed = machine["registry"]["SYSTEM\\MountedDevices"]
        self.assertEqual([v["name"] for v in listed], [name for name, _, _ in self.MOUNT_VALUES])
        self.assertEqual([value_bytes(v) for v in listed], [(t, data) for _, t, data in self.MOUNT_VALUES])
        self.assertEqual(machine["drives"], "BDEK")
        self.assertEqual([v["guid"] for v in machine["volumes"]],
                         ["{e5000000-0000-0000-0000-000000000005}", "{d4000000-0000-0000-0000-000000000004}"])

    def test_device_properties_keep_their_bytes(self):
        odd_ids = multi(["USB\\VID_1234&PID_5678"])[:-1]
        rows = [
            ("HardwareID", REG_MULTI_SZ, multi(["A", "B"]), "hardwareIds"),
            ("HardwareID", REG_MULTI_SZ, multi([]), "hardwareIds"),
            ("HardwareID", REG_MULTI_SZ, multi([""]), "hardwareIds"),
            ("HardwareID", REG_MULTI_SZ, odd_ids, "hardwareIds"),
            ("HardwareID", REG_SZ, sz("USB\\VID_1234&PID_5678"), "hardwareIds"),
            ("Service", REG_SZ, text("USBSTOR"), "service"),
            ("Service", REG_SZ, sz("USB\0STOR"), "service"),
            ("Service", REG_SZ, b"", "service"),
        ]
        for name, value_type, data, field in rows:
            with self.subTest(name=name, data=data):
                keys = system_keys([("USB\\VID_1234&PID_5678\\SN9", [(name, value_type, data), CLASS_USB])], [])
                device = self.machine(self.hive(keys), "--os", "7")["devices"][0]
                self.assertEqual(property_bytes(device[field]), data)

    def test_parent_id_prefix_keeps_type_and_bytes(self):
        for value_type, data in [(REG_SZ, sz("7&1&0")), (REG_SZ, text("7&1&0")), (REG_SZ, text("7&1&0") + b"\x01"),
                                 (REG_EXPAND_SZ, sz("7&1&0")), (REG_BINARY, b"\x00\x01"), (REG_DWORD, dword(3))]:
            with self.subTest(value_type=value_type, data=data):
                keys = system_keys([xp_disk("SN9", (value_type, data))], [])
                device = self.machine(self.hive(keys), "--os", "xp")["devices"][0]
                self.assertEqual(value_bytes(device["values"]["ParentIdPrefix"]), (value_type, data))


class Rules(HiveCase):
    def test_present_devices_and_their_order(self):
        keys = system_keys([
            ("USB\\VID_1234&PID_5678\\Only_HardwareID", [("HardwareID", REG_MULTI_SZ, multi(["USB\\X"]))]),
            ("USB\\VID_1234&PID_5678\\with_class", [CLASS_USB]),
            ("USB\\VID_1234&PID_5678\\with_class\\Device Parameters", [("Service", REG_SZ, sz("nested"))]),
            ("ROOT\\LEGACY_BEEP\\0000", [("Service", REG_SZ, sz("Beep"))]),
            ("ACPI\\PNP0303\\4&25ee97c0&0", [("service", REG_SZ, sz("i8042prt"))]),
        ], [])
        machine = self.machine(self.hive(keys), "--os", "7")
        self.assertEqual([d["instanceId"] for d in machine["devices"]],
                         ["ACPI\\PNP0303\\4&25EE97C0&0", "ROOT\\LEGACY_BEEP\\0000", "USB\\VID_1234&PID_5678\\WITH_CLASS"])
        self.assertNotIn("hardwareIds", machine["devices"][2])

    def test_standard_output_holds_the_same_bytes(self):
        hive = self.hive(system_keys([], ExactBytes.MOUNT_VALUES))
        with open(self.convert(hive, "--os", "7"), "rb") as written:
            self.assertEqual(subprocess.run([SCRIPT, hive, "--os", "7"], capture_output=True, check=True,
                                            env={**os.environ, "PYTHONIOENCODING": "ascii"}).stdout, written.read())

    def test_a_hive_not_closed_cleanly_is_noted(self):
        clean = self.hive(xp_keys(), "CLEAN")
        unclean = mark_unclean(self.hive(xp_keys(), "UNCLEAN"))
        self.assertNotIn("not closed cleanly", self.machine(clean, "--os", "xp")["description"])
        self.assertIn("not closed cleanly", self.machine(unclean, "--os", "xp")["description"])
        self.assertEqual(self.report(self.convert(unclean, "--os", "xp", "--as-device", STICK)), ('[{"iDrive":"F"}]', 0))

    def test_an_id_too_long_for_wine_is_marked(self):
        self.assertIn("199", self.machine(self.hive(vista_keys(), "LONG"), "--os", "7")["wine"]["skip"])
        self.assertNotIn("wine", self.machine(self.hive(xp_keys(), "SHORT"), "--os", "7"))

    def test_as_device_adds_the_matched_id_first(self):
        machine = self.machine(self.hive(xp_keys()), "--os", "xp", "--as-device", STICK, "--as-device", STICK.lower())
        self.assertEqual(machine["devices"][1]["hardwareIds"],
                         ["USB\\VID_045E&PID_FFFF", "USB\\VID_1234&PID_5678&REV_0100", "USB\\VID_1234&PID_5678"])
        odd = xp_keys()
        odd["ControlSet002\\Enum\\" + STICK][0] = ("HardwareID", REG_MULTI_SZ, b"U\0S\0B\0")
        device = self.machine(self.hive(odd, "ODD"), "--os", "xp", "--as-device", STICK)["devices"][1]
        self.assertEqual(bytes.fromhex(device["hardwareIds"]["hex"]), sz("USB\\VID_045E&PID_FFFF") + b"U\0S\0B\0")

    def test_descriptors_go_to_the_volumes_of_the_storage_children(self):
        no_service = xp_keys()
        no_service["ControlSet002\\Enum\\" + STICK] = [v for v in no_service["ControlSet002\\Enum\\" + STICK]
                                                      if v[0] != "Service"]
        cards = "USB\\VID_1234&PID_5678\\SN0003"
        rows = [
            (vista_keys(), ["--os", "7", "--as-device", VISTA_STICK], ["{b2000000-0000-0000-0000-000000000002}"]),
            # before Vista the disk's own ID does not stand in for a missing prefix
            (vista_keys(), ["--os", "xp", "--as-device", VISTA_STICK], []),
            (xp_keys(), ["--os", "xp", "--as-device", STICK], ["{a1000000-0000-0000-0000-000000000001}"]),
            (xp_keys(), ["--os", "xp"], []),
            # a device whose service cannot be read has no storage children
            (no_service, ["--os", "xp", "--as-device", STICK], []),
            (card_reader_keys(), ["--os", "10", "--as-device", cards],
             ["{c3000000-0000-0000-0000-000000000001}", "{c3000000-0000-0000-0000-000000000002}"]),
        ]
        for number, (keys, args, described) in enumerate(rows):
            with self.subTest(args=args):
                machine = self.machine(self.hive(keys, "H%d" % number), *args)
                volumes = machine["volumes"]
                self.assertEqual([v["guid"] for v in volumes if "files" in v], described)
                self.assertTrue(all(v.get("files", {"device.xml": DESCRIPTOR}) == {"device.xml": DESCRIPTOR}
                                    for v in volumes))


class Failures(HiveCase):
    def fails(self, args, says, interpreter=()):
        output = os.path.join(self.dir, "out-%d.json" % len(os.listdir(self.dir)))
        done = subprocess.run([*interpreter, SCRIPT, *args, "--output", output], capture_output=True, text=True)
        self.assertEqual(done.returncode, 2, done.stderr)
        self.assertEqual(done.stdout, "")
        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
        self.assertIn(says, done.stderr)
        self.assertFalse(os.path.exists(output))
        self.assertEqual([f for f in os.listdir(self.dir) if f.startswith(".")], [])

    def raw_file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as raw:
            raw.write(data)
        return path

    def test_bad_hives(self):
        big = xp_keys()
        big["Filler"] = [("v%d" % i, REG_BINARY, bytes(300)) for i in range(100)]
        whole = self.hive(big, "BIG")
        with open(whole, "rb") as hive_file:
            data = hive_file.read()
        self.assertGreater(len(data), 5 * 4096)
        no_select = xp_keys()
        del no_select["Select"]
        no_mount = xp_keys()
        del no_mount["MountedDevices"]
        other_set = xp_keys()
        other_set["Select"] = [("Current", REG_DWORD, dword(3))]
        bad_current = xp_keys()
        bad_current["Select"] = [("Current", REG_SZ, sz("2"))]
        rows = [
            ("text", self.raw_file("TEXT", b"not a hive\n" * 1000), "not a readable SYSTEM hive"),
            ("empty", self.raw_file("EMPTY", b""), "not a readable SYSTEM hive"),
            ("cut at a page", self.raw_file("CUT1", data[:-4096]), "truncated"),
            ("cut inside a page", self.raw_file("CUT2", data[:-1000]), "truncated"),
            ("header only", self.raw_file("CUT3", data[:4096]), "truncated"),
            ("header cut", self.raw_file("CUT4", data[:100]), "truncated"),
            ("a page short of its header's count", self.raw_file("CUT5", data[:4096] + data[8192:]), "truncated"),
            ("a damaged page", self.raw_file("BAD", data[:8192] + b"junk" + data[8196:]), "not a readable SYSTEM hive"),
            ("missing", os.path.join(self.dir, "nothing"), "cannot read"),
            ("no Select", self.hive(no_select, "NOSELECT"), "no key Select"),
            ("no MountedDevices", self.hive(no_mount, "NOMOUNT"), "no key MountedDevices"),
            ("no current Enum", self.hive(other_set, "NOSET"), "no key ControlSet003\\Enum"),
            ("Current not a DWORD", self.hive(bad_current, "BADSEL"), "REG_DWORD Current"),
        ]
        for case, path, says in rows:
            with self.subTest(case=case):
                self.fails([path, "--os", "xp"], says)

    def test_bad_options(self):
        system = self.hive(xp_keys())
        no_version = self.hive(software_keys([("ProductName", REG_SZ, sz("Windows"))]), "SOFTWARE")
        no_build = self.hive(software_keys([("CurrentVersion", REG_SZ, sz("6.1"))]), "NOBUILD")
        rows = [
            ([system], "the Windows version is needed"),
            ([system, "--os", "7", "--software", no_version], "not both"),
            ([system, "--os", "95"], "--os 95"),
            ([system, "--os", "4.0"], "--os 4.0"),
            ([system, "--os", "win7"], "--os win7"),
            ([system, "--software", no_version], "names no Windows version"),
            ([system, "--software", no_build], "names no Windows build"),
            ([system, "--software", system], "no key Microsoft"),
            ([system, "--software", self.raw_file("JUNK", b"x" * 9000)], "not a readable SOFTWARE hive"),
            ([system, "--os", "xp", "--as-device", "USB\\VID_1234&PID_5678\\NOPE"], "--as-device USB\\VID_1234"),
            ([system, "--os", "xp", "--as-device", "STORAGE\\RemovableMedia\\7&1a2b3c4d&0&RM\\x"], "no present device"),
            ([system, "--os", "xp", "--bogus"], "unrecognized arguments"),
            ([], "SYSTEM_HIVE"),
        ]
        for args, says in rows:
            with self.subTest(args=args):
                self.fails(args, says)

    def test_without_hivex_it_says_what_to_do(self):
        # -S hides dist-packages, as another python3 earlier on PATH would
        self.fails([self.hive(xp_keys()), "--os", "7"], "python3-hivex is missing", ("/usr/bin/python3", "-S"))

    def test_an_existing_output_stays_when_the_run_fails(self):
        output = self.raw_file("kept.json", b"old")
        done = subprocess.run([SCRIPT, self.raw_file("TEXT", b"junk" * 3000), "--os", "7", "--output", output],
                              capture_output=True)
        self.assertEqual(done.returncode, 2)
        with open(output, "rb") as kept:
            self.assertEqual(kept.read(), b"old")


@unittest.skipUnless(os.path.isdir(REAL_HIVES), NO_REAL_HIVES)
class RealHives(HiveCase):
    @classmethod
    def setUpClass(cls):
        cls.paths = real_hive_paths()

    def test_reports_derived_by_the_rules(self):
        win7, win8, win10, win1709 = (self.paths[n] for n in ("SYSTEM", "SYSTEM_2", "SYSTEM_B", "SYSTEM_WIN_10_1709"))
        nothing = ("", 1)
        self.assert_reports([
            (win7, ["--os", "7"], nothing),
            (win7, ["--os", "7", "--as-device", HP_STICK], ('[{"iDrive":"E"}]', 0)),
            (win7, ["--os", "xp", "--as-device", HP_STICK], nothing),
            (win8, ["--os", "8"], nothing),
            (win10, ["--os", "10", "--as-device", LETTERED], ('[{"iDrive":"D"}]', 0)),
            (win10, ["--os", "10", "--as-device", UNLETTERED], nothing),
            (win10, ["--os", "10", "--as-device", LETTERED, "--as-device", UNLETTERED], ('[{"iDrive":"D"}]', 0)),
            (win1709, ["--os", "10", "--as-device", CRUZER], nothing),
            (win1709, ["--os", "10", "--as-device", UASP_DISKS[0]], nothing),
            (win1709, ["--os", "10", "--as-device", UASP_DISKS[1]], nothing),
        ])

    def test_hives_saved_mid_write_are_noted(self):
        for name, unclean in [("SYSTEM", False), ("SYSTEM_2", True), ("SYSTEM_B", True), ("SYSTEM_WIN_10_1709", True)]:
            with self.subTest(hive=name):
                description = self.machine(self.paths[name], "--os", "10")["description"]
                self.assertEqual("not closed cleanly" in description, unclean)

    def test_mount_tables_are_copied_exactly(self):
        import hivex
        for name, path in self.paths.items():
            with self.subTest(hive=name):
                hive = hivex.Hivex(path)
                mount = hive.node_get_child(hive.root(), "MountedDevices")
                held = [(hive.value_key(v),) + hive.value_value(v) for v in hive.node_values(mount)]
                listed = self.machine(path, "--os", "10")["registry"]["SYSTEM\\MountedDevices"]
                self.assertEqual([(v["name"],) + value_bytes(v) for v in listed], held)


@unittest.skipUnless(WINE_EXE, "no --exe given: the Wine round trip needs devdrives.exe or devdrives64.exe")
class WineRoundTrip(HiveCase):
    """hive -> machine file -> the sim and Wine give the same report. It does not depend on the
    order of devices or values, which Wine sorts: the stick has one volume name."""

    def round_trip(self, hive, args, expected):
        path = self.convert(hive, *args)
        self.assertEqual(self.with_expect(path), expected)
        done = subprocess.run([os.path.join(ROOT, "tests", "wine", "run"), "--exe", WINE_EXE, path],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_xp_stick_by_parent_id_prefix(self):
        self.round_trip(self.hive(xp_keys()), ["--os", "xp", "--as-device", STICK], ('[{"iDrive":"F"}]', 0))


class AnonymizedCaptures(HiveCase):
    """devdrives-capture --anonymize on one table of machines, every file in tests/machines and the
    real hives' files: each capture replays to the machine's report and holds none of its
    identifiers (round_trip.identifying_texts). Natively here; under Wine, for the real hives, by
    tests/wine/round-trip, whose own run covers tests/machines (neither report depends on the order
    of devices or values, which Wine sorts: on SYSTEM_B only one of the two sticks has a letter)."""

    def assert_anonymized(self, path):
        expected = self.report(path)
        done = subprocess.run([NATIVE_CAPTURE, "--anonymize"], env={**os.environ, "DEVDRIVES_MACHINE": path},
                              capture_output=True)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        capture = os.path.join(self.dir, "capture.json")
        with open(capture, "wb") as written:
            written.write(done.stdout)
        self.assertEqual(self.report(capture), expected)
        with open(path, encoding="utf-8") as machine_file:
            self.assertEqual(round_trip.identifiers_left(json.load(machine_file), done.stdout), [])

    def real_machines(self):
        """[(name, path)] of the real hives' machine files, each with its report as "expect"."""
        made = []
        for name, (version, devices) in REAL_HIVE_ROWS.items():
            path = self.convert(real_hive_paths()[name], "--os", version,
                                *(arg for device in devices for arg in ("--as-device", device)), name=name + ".json")
            self.with_expect(path)
            made.append((name, path))
        return made

    def test_machine_files(self):
        for name in sorted(os.listdir(MACHINES)):
            with open(os.path.join(MACHINES, name), encoding="utf-8") as machine_file:
                machine = json.load(machine_file)
            if "faults" in machine or "setupApi" in machine:
                continue  # a capture records what the scan met, not the fault that met it
            with self.subTest(machine=name):
                self.assert_anonymized(os.path.join(MACHINES, name))

    @unittest.skipUnless(os.path.isdir(REAL_HIVES), NO_REAL_HIVES)
    def test_real_hives(self):
        for name, path in self.real_machines():
            with self.subTest(hive=name):
                self.assert_anonymized(path)

    @unittest.skipUnless(WINE_EXE and os.path.isdir(REAL_HIVES), "the Wine round trip needs --exe and the real hives")
    def test_real_hives_under_wine(self):
        # The capture exe beside the command, of its architecture, is the round trip's own choice.
        done = subprocess.run([os.path.join(ROOT, "tests", "wine", "round-trip"), "--jobs", "2", "--command", WINE_EXE,
                               "--native", NATIVE, *(p for _, p in self.real_machines())],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(f"{len(REAL_HIVE_ROWS)} passed", done.stdout)


# What devdrives-capture --explain names on a machine: the reasons of the devices of ours in the
# scan's order, reasons that some of their volumes must have, the scan's codes and the near misses.
EXPLAINED_MACHINES = {
    "card-reader-on-windows-xp": (["reported"], {"main", "card-dropped", "no-medium", "no-descriptor"}),
    "card-slots-follow-the-volume-devices": (["reported"], {"card", "no-letter"}),
    "descriptor-beyond-allocation-limit": (["reported", "no-main-volume"], {"descriptor-unreadable"}),
    "descriptor-probing": (["reported"] + ["no-main-volume"] * 4 + ["reported"] * 2,
                           {"empty-type", "hidden-root-without-descriptor"}),
    "device-without-parent-id-prefix-on-windows-xp": (["reported", "no-parent-id-prefix"], set()),
    "empty": ([], set()),
    "empty-device-properties": (["service-unreadable", "reported"], set()),
    "hardware-id-read-denied": (["scan-aborted"], set(), ["scan-aborted"]),
    "instance-id-read-fails": (["instance-id-unreadable", "reported"], set()),
    "mount-table-reading": (["reported", "no-volume-name", "reported"], {"no-volume-name"}),
    "no-device": ([], set(), [], ["interface-id"]),
    "real-tree-windows-10": (["uasp", "reported"], {"no-medium", "no-descriptor"}),
    "real-tree-windows-7": (["reported", "generated-instance-id"], set()),
    "setupapi-missing": ([], set(), ["setupapi-missing"]),
    "volume-at-two-letters-with-volume-devices": (["reported"], {"same-volume"}),
    "volume-name-trailing-backslash": (["reported", "no-main-volume"], {"volume-unreadable"}),
}
# Machines for the reasons that no file in tests/machines shows.
OURS = {"hardwareIds": ["USB\\VID_045E&PID_FFFF"], "service": "USBSTOR"}
EXPLAINED_INLINE = {
    "device-list-failed": ({"devices": [{"instanceId": "USB\\VID_045E&PID_FFFF\\SN1", **OURS}],
                            "faults": [{"call": "SetupDiGetClassDevsW", "nth": 1, "error": 5}]},
                           ([], set(), ["device-list-failed"])),
    "mount-table-unreadable": ({"os": {"major": 6, "minor": 1, "build": 7601},
                                "devices": [{"instanceId": "USB\\VID_045E&PID_FFFF\\SN1", **OURS},
                                            {"instanceId": "USBSTOR\\DISK&VEN_A\\SN1&0", "hardwareIds": ["GenDisk"],
                                             "service": "disk"}]},
                               (["mount-table-unreadable"], {"no-letter"}, ["mount-table-unreadable"])),
    "no-storage-child": ({"devices": [{"instanceId": "USB\\VID_045E&PID_FFFF\\SN1", **OURS},
                                      {"instanceId": "USB\\VID_7A5C&PID_FFFF&MI_00\\7&1&0&0000",
                                       "hardwareIds": ["USB\\VID_7A5C&PID_FFFF&REV_0100&MI_00",
                                                       "USB\\VID_7A5C&PID_FFFF&MI_00"], "service": "HidUsb"}],
                          "registry": {"SYSTEM\\MountedDevices": {}}},
                         (["no-storage-child"], set(), [], ["interface-id"])),
}
# The real hives, with USB devices of theirs made ours ("would it be found, and if not, why?").
EXPLAINED_HIVES = [
    ("SYSTEM", ["--os", "7", "--as-device", HP_STICK], ["reported"]),
    ("SYSTEM", ["--os", "xp", "--as-device", HP_STICK], ["no-parent-id-prefix"]),
    ("SYSTEM_2", ["--os", "8", "--as-device", "USB\\VID_80EE&PID_0021\\5&2D7AE1FF&0&1"], ["generated-instance-id"]),
    ("SYSTEM_B", ["--os", "10", "--as-device", LETTERED, "--as-device", UNLETTERED], ["no-letter", "reported"]),
    ("SYSTEM_WIN_10_1709", ["--os", "10", "--as-device", CRUZER, *(a for d in UASP_DISKS for a in ("--as-device", d))],
     ["no-letter", "uasp", "uasp"]),
]


def documented_codes():
    with open(os.path.join(ROOT, "docs", "support.md"), encoding="utf-8") as doc:
        return set(re.findall(r"^\| [a-z ]+ \| `([a-z-]+)` \|", doc.read(), re.MULTILINE))


class Explanations(HiveCase):
    """One table: every file in tests/machines, machines for the reasons none of them shows, and the
    real hives. The explanation states the command's report, and the reasons expected appear."""

    def capture(self, path, *args):
        done = subprocess.run([NATIVE_CAPTURE, *args], env={**os.environ, "DEVDRIVES_MACHINE": path},
                              capture_output=True)
        self.assertEqual((done.returncode, done.stderr), (0, b""))
        return json.loads(done.stdout)

    def assert_replay_explains_the_same(self, path):
        """A capture's explanation is its replay's, anonymized or not."""
        for args in ((), ("--keep-identifiers",)):
            captured = os.path.join(self.dir, "capture.json")
            with open(captured, "w", encoding="utf-8") as capture_file:
                json.dump(self.capture(path, *args), capture_file)
            with open(captured, encoding="utf-8") as capture_file:
                carried = json.load(capture_file)["explanation"]
            self.assertEqual(self.capture(captured, "--explain", "--json", *args), carried)

    def assert_explained(self, path, expected=None):
        """The codes the explanation names, after checking them against expected."""
        explanation = self.capture(path, "--explain", "--json", "--keep-identifiers")
        with open(path, encoding="utf-8") as machine_file:
            if "faults" not in json.load(machine_file):  # a capture records what the scan met, not the fault
                self.assert_replay_explains_the_same(path)
        stdout, code = self.report(path)
        self.assertEqual(explanation["report"], {"stdout": stdout, "exit": code})
        devices = [device["reason"] for device in explanation["devices"]]
        volumes = {volume["reason"] for device in explanation["devices"] for volume in device["volumes"]}
        misses = [miss["reason"] for miss in explanation["nearMisses"]]
        self.assertEqual(devices.count("reported"), stdout.count("iDrive"))
        if expected is not None:
            reasons, volume_reasons, scan, near = (tuple(expected) + ([], []))[:4]
            self.assertEqual((devices, explanation["scan"], misses), (reasons, scan, near))
            self.assertLessEqual(volume_reasons, volumes)
        named = set(devices) | volumes | set(explanation["scan"]) | set(misses)
        self.assertLessEqual(named, documented_codes())
        return named

    def test_every_machine_and_every_code(self):
        named = set()
        for name in sorted(os.listdir(MACHINES)):
            with self.subTest(machine=name):
                named |= self.assert_explained(os.path.join(MACHINES, name), EXPLAINED_MACHINES.get(name[:-5]))
        for name, (machine, expected) in EXPLAINED_INLINE.items():
            path = os.path.join(self.dir, name + ".json")
            with open(path, "w", encoding="utf-8") as machine_file:
                json.dump(machine, machine_file)
            with self.subTest(machine=name):
                named |= self.assert_explained(path, expected)
        # A volume name too long for the descriptor's path exists only where a value name is
        # over 200 characters: no machine Windows makes.
        self.assertEqual(documented_codes() - named, {"path-too-long"})

    @unittest.skipUnless(os.path.isdir(REAL_HIVES), NO_REAL_HIVES)
    def test_real_hives(self):
        for name, args, reasons in EXPLAINED_HIVES:
            with self.subTest(hive=name, args=args):
                self.assert_explained(self.convert(real_hive_paths()[name], *args), [reasons, set()])


if __name__ == "__main__":
    unittest.main()
