"""Tests of the Wine runner: how a machine becomes Wine's, and that a broken
Wine run fails."""

import glob
import io
import os
import contextlib
import shutil
import tempfile
import unittest
import unittest.mock

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

    def test_a_key_given_as_a_list_names_each_value_itself(self):
        machine = {"registry": {"SYSTEM\\MountedDevices": [
            {"name": "\\DosDevices\\H:", "type": "REG_BINARY", "hex": "41"},
            {"nameHex": "4100 00d8", "type": "REG_SZ", "text": "x"},
        ]}}
        self.assertEqual(w.mounted_devices(machine),
                         [("\\DosDevices\\H:", 3, b"A"), ("A\ud800", 1, b"x\0\0\0")])

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


def records(script):
    """regset.c's records as tuples, hex names decoded."""
    def text(field):
        return bytes.fromhex(field).decode("utf-16-le")
    result = []
    for line in script.decode("ascii").split("\n")[:-1]:
        kind, *fields = line.split(" ")
        if kind in ("K", "D"):
            result.append((kind, fields[0], text(fields[1])))
        elif kind == "V":
            result.append((kind, text(fields[0]), int(fields[1], 16), bytes.fromhex(fields[2])))
        else:
            result.append((kind, *fields))
    return result


class RegsetScript(unittest.TestCase):
    def test_values_keep_their_bytes_names_and_order(self):
        # The shapes a .reg import would alter: strings without their
        # terminator, odd byte counts, a multi-string without its final
        # empty string, empty data and the default value.
        machine = {"registry": {"SOFTWARE\\K": {
            "Z": {"type": "REG_SZ", "text": "ab", "terminated": False},
            "\\??\\Vol\"x y": {"type": "REG_EXPAND_SZ", "hex": "41 00 42"},
            "": {"type": "REG_MULTI_SZ", "hex": "4100 0000 4200"},
            "A": {"type": "REG_BINARY", "hex": ""},
            "B": {"type": 0x12345678, "hex": "00"},
        }}}
        self.assertEqual(records(w.regset_script(machine, ["default"])), [
            ("K", "HKLM", "SOFTWARE\\K"),
            ("V", "Z", 1, b"a\0b\0"),
            ("V", "\\??\\Vol\"x y", 2, b"A\0B"),
            ("V", "", 7, b"A\0\0\0B\0"),
            ("V", "A", 3, b""),
            ("V", "B", 0x12345678, b"\0"),
            ("D", "HKLM", "SYSTEM\\MountedDevices"),
        ])

    def test_the_mount_table_replaces_wines_and_is_counted(self):
        machine = dict(machine_with_table({"\\DosDevices\\H:": binary("h"), "\\??\\Volume" + VOLUME_A: binary("h")}),
                       devices=[{"instanceId": "A\\B\\C"}])
        script = records(w.regset_script(machine, ["default", "winxp"]))
        self.assertEqual(script[:2], [("K", "HKLM", w.ENUM + "A\\B\\C"), ("V", "ClassGUID", 1, w.utf16(w.OTHER_CLASS_GUID, True))])
        self.assertEqual(script[2:7], [
            ("K", "HKLM", "SYSTEM\\MountedDevices"), ("C",),
            ("V", "\\DosDevices\\H:", 3, b"h\0"), ("V", "\\??\\Volume" + VOLUME_A, 3, b"h\0"), ("N", "2"),
        ])
        self.assertEqual(script[7:], [
            ("K", "HKCU", "Software\\Wine\\AppDefaults\\devdrives-winxp.exe"),
            ("V", "Version", 1, w.utf16("winxp", True)),
        ])

    def test_an_empty_mount_table_is_cleared_not_deleted(self):
        script = records(w.regset_script(machine_with_table({}), ["default"]))
        self.assertEqual(script, [("K", "HKLM", "SYSTEM\\MountedDevices"), ("C",), ("N", "0")])


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
            machine_with_table({"\\??\\Volume" + VOLUME_A + "\\": binary("c")}),
            {"wine": {"versions": ["win3.1"]}},
            {"systemDirectory": "C:\\WINNT\\system32"},
            {"codePage": 932},
            {"devices": [{"instanceId": {"hex": "00d8"}}]},
            {"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"error": 5}}]},
            {"devices": [{"instanceId": "A\\B\\C", "service": {"error": 1168}}]},
            {"devices": [{"instanceId": "A\\B\\C", "hardwareIds": {"hex": "4100", "size": 4294967040}}]},
        ]
        for machine in cases:
            self.assertNotEqual(w.cannot_express(machine), [], machine)

    def test_a_failing_instance_id_read_is_named_as_such(self):
        machine = {"devices": [{"instanceId": {"error": 3758096907}, "hardwareIds": ["USB\\VID_045E&PID_FFFF"]},
                               {"instanceId": "USB\\VID_045E&PID_FFFF\\1"}]}
        self.assertEqual(w.cannot_express(machine),
                         ["reading a device's instance ID fails, which Wine cannot be made to do"])
        self.assertEqual([path for path, _ in w.registry_keys(machine)], [w.ENUM + "USB\\VID_045E&PID_FFFF\\1"])

    def test_versions_follow_the_os_unless_the_file_names_them(self):
        self.assertEqual(w.versions({}), ["default"])
        self.assertEqual(w.versions({"os": {"major": 6, "minor": 0}}), ["default"])
        self.assertEqual(w.versions({"os": {"major": 5, "minor": 1}}), ["winxp"])
        self.assertEqual(w.versions({"os": {"major": 5, "minor": 0}}), ["win2k"])
        self.assertEqual(w.versions({"os": {"major": 5}, "wine": {"versions": ["winxp", "default"]}}),
                         ["winxp", "default"])

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


class Parallel(unittest.TestCase):
    def test_results_come_in_the_items_order_and_the_costliest_start_first(self):
        started = []

        def work(item):
            started.append(item)
            return item * 10

        items = [1, 3, 2, 3]
        results = list(w.in_parallel(work, items, 1, cost=lambda item: item))
        self.assertEqual(results, [(1, 10), (3, 30), (2, 20), (3, 30)])
        self.assertEqual(started, [3, 3, 2, 1])
        self.assertEqual(list(w.in_parallel(work, items, 4)), results)

    def test_a_skipped_or_unreadable_file_costs_nothing(self):
        with tempfile.TemporaryDirectory() as directory:
            cases = [('{"os": {"major": 5}, "wine": {"versions": ["winxp", "default"]}}', 2),
                     ('{}', 1), ('{"wine": {"skip": "why"}}', 0), ('{"wine": 1}', 0), ('not json', 0),
                     ('{"wine": {"skipOn": {"x64": "why"}}}', 0)]
            for number, (text, cost) in enumerate(cases):
                path = os.path.join(directory, f"{number}.json")
                with open(path, "w") as f:
                    f.write(text)
                self.assertEqual(w.run_count(path, w.ARCHES["x64"]), cost, text)


class Architectures(unittest.TestCase):
    def test_the_probe_tells_what_the_host_cannot_execute(self):
        with tempfile.TemporaryDirectory() as directory:
            # An ELF header for a machine type no kernel runs: refused with ENOEXEC.
            refused = os.path.join(directory, "refused")
            with open(refused, "wb") as f:
                f.write(b"\x7fELF\x01\x01\x01" + bytes(9) + b"\x02\x00\xef\xbe" + bytes(48))
            os.chmod(refused, 0o755)
            self.assertRegex(w.why_not_runnable(refused, "32-bit code"),
                             "^this host runs no 32-bit code: the kernel refuses to execute .*refused")
            self.assertIn("not installed", w.why_not_runnable(os.path.join(directory, "absent")))
            self.assertIsNone(w.why_not_runnable(shutil.which("true")))

    def test_the_variable_overrides_the_probe(self):
        cases = [("x64", ["x64"]), ("x64,x86", ["x86", "x64"]), (" x86  x64 ", ["x86", "x64"])]
        for given, arches in cases:
            with unittest.mock.patch.dict(os.environ, {w.ARCHES_VARIABLE: given}):
                self.assertEqual([a.name for a in w.host_arches()], arches, given)
        with unittest.mock.patch.dict(os.environ, {w.ARCHES_VARIABLE: "x64,arm64"}):
            self.assertRaisesRegex(RuntimeError, "arm64", w.host_arches)

    def test_an_exe_is_of_the_architecture_its_header_names(self):
        def pe(machine):
            return b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" + machine.to_bytes(2, "little")
        cases = [(pe(0x014C), "x86"), (pe(0x8664), "x64"), (pe(0xAA64), "machine type 0xaa64"),
                 (b"ZM" + pe(0x014C)[2:], "not a PE exe"), (b"MZ", "not a PE exe")]
        with tempfile.TemporaryDirectory() as directory:
            path = os.path.join(directory, "x.exe")
            for header, wanted in cases:
                with open(path, "wb") as f:
                    f.write(header)
                try:
                    self.assertEqual(w.arch_of_exe(path).name, wanted)
                except RuntimeError as error:
                    self.assertIn(wanted, str(error))

    def test_a_case_of_one_architecture_is_skipped_on_the_other_with_its_reason(self):
        x86, x64 = w.ARCHES["x86"], w.ARCHES["x64"]
        one = {"wine": {"skipOn": {"x64": "a 32-bit address space"}}}
        self.assertIsNone(w.why_not_run(one, "one", x86))
        self.assertEqual(w.why_not_run(one, "one", x64), ("SKIP", ["(not on x64: a 32-bit address space)"]))
        self.assertEqual(w.why_not_run({"wine": {"skip": "never"}}, "all", x86), ("SKIP", ["(never)"]))
        for wine in ({"skipOn": {"arm": "why"}}, {"skipOn": {"x64": ""}}, {"skipOn": ["x64"]}, {"only": "x86"}):
            self.assertRaises(w.MachineError, w.why_not_run, {"wine": wine}, "bad", x86)


def host_arches():
    """Every architecture Wine runs here: the Wine tests run on each."""
    arches = w.host_arches()
    if not arches:
        raise AssertionError("Wine runs no exe here (scripts/setup installs wine64 and wine32)")
    return arches


def processes_of(prefix, loader):
    """{pid: personality} of the processes that run loader with WINEPREFIX prefix."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                environment = f.read().split(b"\0")
            with open(f"/proc/{pid}/personality") as f:
                personality = int(f.read(), 16)
            if os.readlink(f"/proc/{pid}/exe") == loader and b"WINEPREFIX=" + prefix.encode() in environment:
                found[int(pid)] = personality
        except OSError:
            continue  # ended meanwhile
    return found


class InASession(unittest.TestCase):
    """In a session of each architecture: the helper must stop at a record
    it cannot carry out, or the machine would run on a registry other than
    its file's; and Wine's processes run as the runner starts them."""

    @classmethod
    def setUpClass(cls):
        cls.sessions = [w.Session(arch, {}, [], None) for arch in host_arches()]

    @classmethod
    def tearDownClass(cls):
        for session in cls.sessions:
            session.close()

    def assert_regset(self, script, code, said=b""):
        """The helper, given script, exits with code and says said on stderr
        (nothing when said is empty) in every session; a failure shows
        Wine's own words about the run."""
        for session in self.sessions:
            with self.subTest(arch=session.arch.name, script=script):
                result = session.wine(session.regset, stdin=script)
                if result.returncode != code or (said not in result.stderr if said else result.stderr):
                    self.fail(f"exit {result.returncode}, stdout {result.stdout!r}, stderr {result.stderr!r}; "
                              f"expected exit {code} and {said!r} on stderr\n{session.wine_words()}")

    def test_records_it_cannot_carry_out_fail_with_their_line(self):
        cases = [
            (b"V 4100 1 4100\n", 1),                   # no key yet
            (b"K HKLM 4100\nV 4100 1 410\n", 2),       # odd number of hex digits
            (b"K HKLM 4100\nV 4100 1 4x00\n", 2),      # not hex
            (b"K HKLM 4100\nV 4100 x 4100\n", 2),      # type not hex
            (b"K HKLM 4100\nV 41 1 4100\n", 2),        # name not UTF-16
            (b"K HKXX 4100\n", 1),
            (b"\nK HKLM 4100 00\n", 2),                 # extra field
            (b"K HKLM 4100\nS\n", 2),
            (b"K HKLM 4200\nV 4100 1 4100\nN 2\n", 3),  # fewer values than expected
            (b"K HKLM 4300\nN 0\nV 4100 1 4100\nN\n", 4),
        ]
        for script, line in cases:
            self.assert_regset(script, 1, f"regset: line {line}:".encode())

    def test_values_are_stored_as_given(self):
        # The helper reads every value back; string data without its
        # terminator, or of an odd length, must not gain one.
        script = (b"K HKLM 4400\r\n"
                  b"V 4100 1 41004200\nV 4200 1 410042\nV 4300 7 4100000042\nV 4400 2 \nV  3 00\n"
                  b"V 4500 1 4100000042000000\nN 6\nD HKLM 4400\nD HKLM 4400\n\n")
        self.assert_regset(script, 0)


    def test_the_sessions_processes_run_without_address_randomization(self):
        # A loader placed at random can find the shared user data's address
        # taken and end at once with exit code 1, saying nothing. The session's
        # services, started by Wine itself, show that its children inherit.
        no_randomization = 0x0040000  # ADDR_NO_RANDOMIZE
        for session in self.sessions:
            with self.subTest(arch=session.arch.name):
                processes = processes_of(session.prefix, session.arch.probe)
                self.assertGreater(len(processes), 1, "the session's services are running")
                for pid, personality in processes.items():
                    self.assertTrue(personality & no_randomization, f"process {pid}: personality {personality:#x}")


class BrokenRuns(unittest.TestCase):
    """Wine exits 0 when it cannot start an exe at all: the run must fail."""

    def test_an_exe_wine_cannot_start_fails_the_machine(self):
        for arch in host_arches():
            with self.subTest(arch=arch.name), tempfile.TemporaryDirectory() as directory:
                # A header of the architecture, and nothing a loader could run.
                exe = os.path.join(directory, "devdrives.exe")
                with open(exe, "wb") as f:
                    f.write(b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" +
                            arch.machine.to_bytes(2, "little") + bytes(512))
                machine = os.path.join(directory, "m.json")
                with open(machine, "w") as f:
                    f.write('{"expect": {"stdout": "", "exit": 0}}')
                with contextlib.redirect_stdout(io.StringIO()) as out:
                    self.assertEqual(w.main(["--exe", exe, machine]), 1)
                self.assertIn("FAIL m.json", out.getvalue())
                # With Wine's own words: the same run again with its errors on.
                self.assertIn(f"rerun with WINEDEBUG={w.DIAGNOSTIC_WINEDEBUG}: exit", out.getvalue())


if __name__ == "__main__":
    unittest.main()
