#!/usr/bin/env python3
"""Times devdrives.exe under Wine against the Setup API work it cannot avoid.

On a machine of 300 ordinary devices and 2 matching ones (each with one
storage child whose volume carries a descriptor), in one wineserver
session of the Wine runner's prefix (tests/wine), runs alternately:
devdrives.exe, an exe that only lists the same devices reading each one's
hardware IDs and instance ID, and an exe that does nothing, all of one
architecture that Wine runs here. Prints the medians and, last, the ratio
of the first two; with --capture, also devdrives-capture.exe and its ratio
to devdrives.exe.
"""

import argparse
import json
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "wine"))
import winemachine  # noqa: E402

EXPECTED_REPORT = b'[{"iDrive":"H"},{"iDrive":"E"}]'


def ordinary_device(n):
    kind = n % 4
    if kind == 0:
        pci = f"PCI\\VEN_8086&DEV_{n:04X}&SUBSYS_82191043&REV_21"
        return {"instanceId": f"{pci}\\3&11583659&0&{n % 256:02X}", "service": "pci",
                "hardwareIds": [pci, f"PCI\\VEN_8086&DEV_{n:04X}&SUBSYS_82191043", f"PCI\\VEN_8086&DEV_{n:04X}&CC_0C0330"]}
    if kind == 1:
        return {"instanceId": f"ACPI\\PNP{n:04X}\\4&1D401FB5&0", "service": "acpi",
                "hardwareIds": [f"ACPI\\PNP{n:04X}", f"*PNP{n:04X}"]}
    if kind == 2:
        return {"instanceId": f"HID\\VID_046D&PID_{n:04X}&MI_00\\7&1F2E3D4C&0&0000", "service": "HidUsb",
                "hardwareIds": [f"HID\\VID_046D&PID_{n:04X}&REV_1211&MI_00", f"HID\\VID_046D&PID_{n:04X}&MI_00"]}
    return {"instanceId": f"USB\\VID_046D&PID_{n:04X}\\5&3A1B2C3D&0&{n % 16}", "service": "usbccgp",
            "hardwareIds": [f"USB\\VID_046D&PID_{n:04X}&REV_1211", f"USB\\VID_046D&PID_{n:04X}"]}


def machine():
    devices = [ordinary_device(n) for n in range(298)]
    mount = {}
    volumes = []
    for serial, vid, letter, guid in (("WINE0001", "045E", "E", "{e0000000-0000-0000-0000-000000000001}"),
                                      ("WINE0002", "7A5C", "H", "{e0000000-0000-0000-0000-000000000002}")):
        devices.append({"instanceId": f"USB\\VID_{vid}&PID_FFFF\\{serial}", "service": "USBSTOR",
                        "hardwareIds": [f"USB\\VID_{vid}&PID_FFFF&REV_0100", f"USB\\VID_{vid}&PID_FFFF"]})
        devices.append({"instanceId": f"USBSTOR\\DISK&VEN_MSFT&PROD_MAIN&REV_1.00\\{serial}&0", "service": "disk",
                        "hardwareIds": ["USBSTOR\\DiskMSFT____MAIN____________1.00", "GenDisk"]})
        record = {"type": "REG_BINARY", "text": f"_??_USBSTOR#Disk&Ven_MSFT&Prod_MAIN&Rev_1.00#{serial}&0#"
                                                "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"}
        mount[f"\\DosDevices\\{letter}:"] = record
        mount[f"\\??\\Volume{guid}"] = record
        volumes.append({"guid": guid, "files": {"device.xml": "<hardware><type>main</type></hardware>"}})
    return {"devices": devices, "drives": "CEH", "registry": {"SYSTEM\\MountedDevices": mount}, "volumes": volumes}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--devdrives", required=True, help="devdrives.exe")
    parser.add_argument("--enumerate", required=True, help="the exe that only lists the devices")
    parser.add_argument("--nothing", required=True, help="the exe that does nothing")
    parser.add_argument("--capture", help="devdrives-capture.exe, timed as well when given")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()

    arch = winemachine.runnable_arch(args.devdrives)
    session = winemachine.Session(arch, machine(), ["default"], args.devdrives)
    try:
        temp = os.path.join(session.prefix, "drive_c", "windows", "temp")
        shutil.copyfile(args.enumerate, os.path.join(temp, "enumerate_devices.exe"))
        shutil.copyfile(args.nothing, os.path.join(temp, "do_nothing.exe"))
        # The prefix's own devices (a few) come on top of the machine's 302.
        expected = {"devdrives.exe": lambda out: out == EXPECTED_REPORT,
                    "enumerate_devices.exe": lambda out: out.isdigit() and int(out) >= 302,
                    "do_nothing.exe": lambda out: out == b""}
        if args.capture:
            # The capture records the same scan and expects the same report.
            shutil.copyfile(args.capture, os.path.join(temp, "devdrives-capture.exe"))
            expected["devdrives-capture.exe"] = (
                lambda out: json.loads(out)["expect"]["stdout"].encode() == EXPECTED_REPORT)
        times = {name: [] for name in expected}
        listed = b""
        for _ in range(args.runs):
            for name, expect in expected.items():
                start = time.perf_counter()
                result = session.wine(f"C:\\windows\\temp\\{name}")
                times[name].append(time.perf_counter() - start)
                if not expect(result.stdout) or result.returncode != 0:
                    sys.exit(f"{name}: exit {result.returncode}, unexpected output {result.stdout!r}; "
                             f"{session.wine_words()}")
                if name == "enumerate_devices.exe":
                    listed = result.stdout
    finally:
        session.close()

    print(f"{arch} exes, devices listed: {listed.decode()}, {args.runs} runs each")
    medians = {name: statistics.median(values) * 1000 for name, values in times.items()}
    print(f"devdrives.exe median:         {medians['devdrives.exe']:8.1f} ms")
    print(f"enumerate_devices.exe median: {medians['enumerate_devices.exe']:8.1f} ms")
    print(f"do_nothing.exe median:        {medians['do_nothing.exe']:8.1f} ms")
    if args.capture:
        print(f"devdrives-capture.exe median: {medians['devdrives-capture.exe']:8.1f} ms")
        print(f"ratio capture / devdrives:    {medians['devdrives-capture.exe'] / medians['devdrives.exe']:8.2f}")
    print(f"ratio devdrives / enumerate:  {medians['devdrives.exe'] / medians['enumerate_devices.exe']:8.2f}")


if __name__ == "__main__":
    main()
