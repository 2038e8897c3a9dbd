#!/usr/bin/env python3
"""The capture's round trip under Wine.

For every machine file Wine can show (a file it cannot show fails unless it
says so, as in tests/wine/suite): set the machine up under Wine, run
devdrives.exe on it as the suite does, and devdrives-capture.exe (plain and
--anonymize), or the x64 pair in a 64-bit prefix, and replay both
captures on the native build and under Wine (the command): each must give
the file's "expect". A capture taken of the replayed capture must equal the
first (the "captured" block aside), the anonymized capture must hold
none of the source's serials and volume GUIDs, and a capture on standard
output must be byte for byte the one --output writes.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import winemachine

REPO = winemachine.REPO
CAPTURE_PREFIX = "capture-"
OUTPUT_FILE = "capture-output.json"


def identifying_texts(machine):
    """The source's USB serials and volume GUIDs, upper-cased."""
    texts = set()
    for device in machine.get("devices", []):
        instance = device["instanceId"]
        if isinstance(instance, str) and instance.upper().startswith("USB\\"):
            texts.add(instance.rsplit("\\", 1)[1].upper())
    for volume in machine.get("volumes", []):
        texts.add(volume["guid"].upper())
    # The serial in each stick's mount record, present or gone.
    for _, _, data in winemachine.mounted_devices(machine) or []:
        record = data[:len(data) // 2 * 2].decode("utf-16-le", "replace").upper()
        found = re.search(r"USBSTOR#[^#]*#([^#]*)&[^&#]*#", record)
        if found:
            texts.add(found.group(1))
    # A serial of two or three characters occurs by chance anywhere.
    return {t for t in texts if len(t) >= 4}


def without_date(text):
    """A capture's bytes, but for the date, which two runs may see change."""
    return re.sub(rb'"date": "[0-9-]*"', b'"date": ""', text, count=1)


def without_stamp(capture):
    return {k: v for k, v in capture.items() if k != "captured"}


def differences(first, second):
    """Where a capture of the replay differs from the first capture."""
    first, second = without_stamp(first), without_stamp(second)
    found = []
    for key in sorted(set(first) | set(second)):
        if key == "devices":
            old = {d["instanceId"] if isinstance(d["instanceId"], str) else str(d["instanceId"]): d
                   for d in first.get(key, [])}
            new = {d["instanceId"] if isinstance(d["instanceId"], str) else str(d["instanceId"]): d
                   for d in second.get(key, [])}
            if list(old) != list(new):
                found.append("the devices or their order")
            found.extend(f"device {i}" for i in old if i in new and old[i] != new[i])
        elif first.get(key) != second.get(key):
            found.append(key)
    return found


def replay_native(native, text):
    with tempfile.NamedTemporaryFile("wb", suffix=".json", delete=False) as f:
        f.write(text)
    try:
        result = subprocess.run([native], env=dict(os.environ, DEVDRIVES_MACHINE=f.name), capture_output=True,
                                timeout=60)
        return result.stdout, result.returncode, result.stderr
    finally:
        os.unlink(f.name)


def check_result(label, result, expect, problems):
    """result: (stdout, exit code) or (stdout, exit code, stderr)."""
    stdout, code, stderr = (tuple(result) + (b"",))[:3]
    if stderr:
        problems.append(f"{label}: Wine or the command wrote to stderr: {stderr[:400]!r}")
    if stdout != expect["stdout"].encode("utf-8") or code != expect["exit"]:
        problems.append(f"{label}: got {stdout!r} exit {code}, expected {expect['stdout']!r} exit {expect['exit']}")


def add_exe(session, exe, version):
    """Puts exe in the session beside the command, under a name that runs as
    the same Windows version."""
    name = CAPTURE_PREFIX + winemachine.exe_name(version)
    shutil.copyfile(exe, os.path.join(session.prefix, "drive_c", "windows", "temp", name))
    if version != "default":
        session.wine("reg", "add", f"HKCU\\Software\\Wine\\AppDefaults\\{name}", "/v", "Version", "/d", version, "/f")


def capture_under_wine(arch, machine, version, command, capture):
    """{"plain": bytes, "anonymized": bytes} of the capture exe under Wine,
    and the command's own (stdout, exit) in the same session."""
    session = winemachine.Session(arch, machine, [version], command)
    try:
        add_exe(session, capture, version)
        runs = {}
        for label, args in (("plain", ()), ("anonymized", ("--anonymize",))):
            stdout, code, stderr = session.run_exe(version, args=args, prefix=CAPTURE_PREFIX)
            if code != 0 or stderr:
                raise RuntimeError(f"capture {label} exit {code}, stderr {stderr[:300]!r}")
            runs[label] = stdout
        # Redirected or written with --output, a capture is the same bytes.
        path = os.path.join(session.exe_folder(), OUTPUT_FILE)
        _, code, stderr = session.run_exe(version, args=("--output", "C:\\windows\\temp\\" + OUTPUT_FILE),
                                          prefix=CAPTURE_PREFIX)
        if code != 0 or stderr or not os.path.isfile(path):
            raise RuntimeError(f"capture --output exit {code}, stderr {stderr[:300]!r}")
        with open(path, "rb") as f:
            if without_date(f.read()) != without_date(runs["plain"]):
                raise RuntimeError("the capture on standard output differs from the file --output wrote")
        stdout, code, stderr = session.run_exe(version)
        return runs, (stdout, code, stderr)
    finally:
        session.close()


def round_trip(path, arch, command, capture, native):
    """(status, detail lines) for one machine file, with exes of arch."""
    machine = winemachine.load(path)
    not_run = winemachine.why_not_run(machine, os.path.basename(path), arch)
    if not_run:
        return not_run
    expect = machine["expect"]
    problems = []
    for version in winemachine.versions(machine):
        runs, command_result = capture_under_wine(arch, machine, version, command, capture)
        check_result(f"[{version}] devdrives.exe on the source", command_result, expect, problems)
        captures = {label: json.loads(text.decode("utf-8")) for label, text in runs.items()}
        for label, captured in captures.items():
            if captured["expect"] != expect:
                problems.append(f"[{version}] {label} capture expects {captured['expect']}")
            check_result(f"[{version}] {label} capture replayed natively",
                         replay_native(native, runs[label])[:2], expect, problems)
            reasons = winemachine.cannot_express(captured)
            if reasons:
                problems.append(f"[{version}] {label} capture cannot be shown under Wine: {'; '.join(reasons)}")
                continue
            replay_versions = winemachine.versions(captured)
            again, replayed = capture_under_wine(arch, captured, replay_versions[0], command, capture)
            check_result(f"[{version}] {label} capture replayed under Wine", replayed, expect, problems)
            if label == "plain":
                problems.extend(f"[{version}] the capture of the replay differs: {d}"
                                for d in differences(captured, json.loads(again["plain"])))
        hidden = runs["anonymized"].decode("utf-8").upper()
        left = sorted(t for t in identifying_texts(machine) if t in hidden)
        if left:
            problems.append(f"[{version}] the anonymized capture still holds {', '.join(left)}")
    return ("FAIL" if problems else "PASS"), problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--command", help="devdrives.exe or devdrives64.exe (default: the build's, of the first"
                        " architecture Wine runs here)")
    parser.add_argument("--capture", help="the capture exe of the same architecture (default: the build's)")
    parser.add_argument("--native", default=os.path.join(REPO, "build", "native", "devdrives"))
    winemachine.add_jobs_argument(parser)
    parser.add_argument("machines", nargs="*", metavar="MACHINE.json")
    args = parser.parse_args(argv)
    machines = args.machines or sorted(
        os.path.join(REPO, "tests", "machines", name) for name in os.listdir(os.path.join(REPO, "tests", "machines")))
    try:
        command = args.command or winemachine.default_exe("devdrives")
        capture = args.capture or winemachine.arch_of_exe(command).exe("devdrives-capture")
        for exe in (command, capture, args.native):
            if not os.path.isfile(exe):
                raise RuntimeError(f"no {exe}")
        arch = winemachine.runnable_arch(command)
        if winemachine.arch_of_exe(capture) is not arch:
            raise RuntimeError(f"{capture} is not an {arch} exe, as {command} is")
        arch.regset()
    except (RuntimeError, subprocess.SubprocessError) as error:
        print(f"round trip: {error}", file=sys.stderr)
        return 2

    def one(path):
        began = time.monotonic()
        try:
            status, details = round_trip(path, arch, command, capture, args.native)
        except (winemachine.MachineError, KeyError, ValueError, RuntimeError, subprocess.SubprocessError) as error:
            status, details = "FAIL", [f"{type(error).__name__}: {error}"]
        return status, details, time.monotonic() - began

    counts = {"PASS": 0, "FAIL": 0, "SKIP": 0}
    for path, (status, details, seconds) in winemachine.in_parallel(one, machines, args.jobs,
                                                                    lambda path: winemachine.run_count(path, arch)):
        counts[status] += 1
        print(f"{status} {os.path.basename(path)} {seconds:.1f}s {' '.join(details)}", flush=True)
    print(f"round trip ({arch}): {counts['PASS']} passed, {counts['FAIL']} failed, {counts['SKIP']} skipped")
    return 1 if counts["FAIL"] or not counts["PASS"] else 0


if __name__ == "__main__":
    sys.exit(main())
