#!/usr/bin/env python3
"""The capture's round trip under Wine.

For every machine file Wine can show (a file it cannot show fails unless it
says so, as in tests/wine/suite): set the machine up under Wine, run
devdrives.exe on it as the suite does, and devdrives-capture.exe (with
--keep-identifiers, and anonymizing as it does by default), or the x64 pair
in a 64-bit prefix, and replay both captures on the native build and under
Wine (the command): each must give the file's "expect". A capture taken of
the replayed capture must equal the first (the "captured" block aside), the
anonymized capture must hold none of the source's identifiers
(identifying_texts), --anonymize must give the default's bytes, and a
capture on standard output must be byte for byte the one --output writes.

The explanation: the one each capture carries must be the one the native
devdrives-capture --explain --json gives on its replay, and
devdrives-capture.exe --explain, text and JSON, must print under Wine what
the native build prints on the same machine file.
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


GUID = r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}"


def guid_bytes(guid):
    """A GUID's 16 bytes as Windows stores them: the first three fields little-endian."""
    fields = guid.strip("{}").split("-")
    return b"".join(bytes.fromhex(f)[::-1] for f in fields[:3]) + bytes.fromhex(fields[3] + fields[4])


def guid_text(data):
    digits = (data[3::-1] + data[5:3:-1] + data[7:5:-1] + data[8:16]).hex().upper()
    return "{%s-%s-%s-%s-%s}" % (digits[:8], digits[8:12], digits[12:16], digits[16:20], digits[20:])


def utf16_text(data):
    return data[:len(data) // 2 * 2].decode("utf-16-le", "surrogatepass")


def disk_identifiers(machine):
    """The source's disk, partition and volume GUIDs and #{GUID} names, as text and as stored
    bytes, and its disk signatures, as bytes and as the hex a GUID's first field shows them in."""
    guids, found = set(), set()
    for device in machine.get("devices", []):
        instance = device["instanceId"]
        if isinstance(instance, str):  # a disk's volume: STORAGE\VOLUME\{disk}#offset
            guids.update(re.findall("(" + GUID + ")#", instance.rsplit("\\", 1)[-1].upper()))
    found.update(volume["guid"].upper() for volume in machine.get("volumes", []))
    for name, _, data in winemachine.mounted_devices(machine) or []:
        guids.update(re.findall("(?:VOLUME|^#)(" + GUID + ")", name.upper()))
        guids.update(re.findall("VOLUME(" + GUID + ")", utf16_text(data).upper()))
        if data.startswith(b"DMIO:ID:") and len(data) >= 24:
            guids.add(guid_text(data[8:24]))
        if len(data) == 12 and any(data[:4]):
            found.update((data[:4], data[3::-1].hex().upper()))
    guids.update(g for g in found if isinstance(g, str) and re.fullmatch(GUID, g))
    return found | guids | {guid_bytes(g) for g in guids}


# A MAC address (a Bluetooth radio's SWD\RADIO\BLUETOOTH_..., a paired device's
# BTHENUM\DEV_... and the last part of its services' IDs): 12 hex digits standing alone.
MAC = re.compile(r"(?<![0-9A-Z])[0-9A-F]{12}(?![0-9A-Z])")


def mac_addresses(instance):
    """The MAC addresses in any part of an instance ID, upper-cased; a GUID's last field is none."""
    return set(MAC.findall(re.sub(GUID, "-", instance.upper())))


def identifying_texts(machine):
    """What identifies the source machine or its disks: texts (upper-cased), which must not be left
    as text in any case or as UTF-16, and bytes, which must not be left in a binary record."""
    texts = set()
    for device in machine.get("devices", []):
        instance = device["instanceId"]
        if not isinstance(instance, str):
            continue
        texts.update(mac_addresses(instance))
        if instance.upper().startswith("USB\\"):
            texts.add(instance.rsplit("\\", 1)[1].upper())
        prefix = device.get("values", {}).get("ParentIdPrefix")
        if prefix is not None and instance.upper().startswith(("USB\\", "USBSTOR\\")):
            texts.add(utf16_text(winemachine.registry_value(prefix)[1]).split("\0", 1)[0].upper())
    # The serial in each stick's mount record, present or gone.
    for _, _, data in winemachine.mounted_devices(machine) or []:
        found = re.search(r"USBSTOR#[^#]*#([^#]*)&[^&#]*#", utf16_text(data).upper())
        if found:
            texts.add(found.group(1))
    # A text of two or three characters occurs by chance anywhere.
    return {t for t in texts if len(t) >= 4} | disk_identifiers(machine)


def held_bytes(node):
    """The bytes of every string in a machine file: a "hex" or "nameHex" one's, any other's in
    UTF-16LE, as the capture writes a record that is well-formed UTF-16 as text (a "DMIO:ID:"
    record, say). Yields (bytes, was hex)."""
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("hex", "nameHex") and isinstance(value, str):
                yield bytes.fromhex(value.replace(" ", "")), True
            else:
                yield from held_bytes(value)
    elif isinstance(node, list):
        for item in node:
            yield from held_bytes(item)
    elif isinstance(node, str):
        yield node.encode("utf-16-le", "surrogatepass"), False


def identifiers_left(machine, anonymized):
    """The source's identifiers that the anonymized capture (bytes) still holds."""
    held = list(held_bytes(json.loads(anonymized.decode("utf-8"))))
    hexes = [data for data, was_hex in held if was_hex]
    shown = [anonymized.decode("utf-8")] + [utf16_text(b[start:]) for b in hexes for start in (0, 1)]
    shown = "\n".join(shown + [b.decode("latin-1") for b in hexes]).upper()
    left = []
    for identifier in identifying_texts(machine):
        if isinstance(identifier, bytes) and any(identifier in data for data, _ in held):
            left.append("bytes " + identifier.hex())
        elif isinstance(identifier, str) and identifier in shown:
            left.append(identifier)
    return sorted(left)


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


def replay_native(native, text, args=()):
    with tempfile.NamedTemporaryFile("wb", suffix=".json", delete=False) as f:
        f.write(text)
    try:
        result = subprocess.run([native, *args], env=dict(os.environ, DEVDRIVES_MACHINE=f.name),
                                capture_output=True, timeout=60)
        return result.stdout, result.returncode, result.stderr
    finally:
        os.unlink(f.name)


def native_capture(native):
    return os.path.join(os.path.dirname(native), "devdrives-capture")


def without_windows(form, output):
    """An explanation without the Windows version it names: Wine reports its
    own for the version it is told (winemachine.versions), not the file's."""
    if form == "explain":
        return re.sub(rb"(?m)^Windows [^,]*,", b"Windows,", output)
    explanation = json.loads(output.decode("utf-8"))
    explanation.pop("windows", None)
    return explanation


def explanation_problems(machine, source, runs, native):
    """Where the explanations of one Wine session disagree with the native build's."""
    problems = []
    for label in ("plain", "anonymized"):
        captured = json.loads(runs[label].decode("utf-8")).get("explanation")
        args = ("--explain", "--json") + (("--keep-identifiers",) if label == "plain" else ())
        replayed, code, _ = replay_native(native_capture(native), runs[label], args)
        if code != 0 or json.loads(replayed.decode("utf-8")) != captured:
            problems.append(f"{label} capture: its explanation differs from its replay's")
    # The explanation printed is the one the capture carries, in both forms.
    replayed, code, _ = replay_native(native_capture(native), runs["anonymized"], ("--explain",))
    if code != 0 or runs["explain"].replace(b"\r\n", b"\n") != replayed:
        problems.append("devdrives-capture --explain: Wine's text differs from the replay's of its capture")
    if json.loads(runs["explain-json"].decode("utf-8")) != json.loads(runs["anonymized"].decode("utf-8"))["explanation"]:
        problems.append("devdrives-capture --explain --json differs from the explanation its capture carries")
    # The explanation follows the order the system lists things in, and a
    # volume without a medium shows under Wine as one without files
    # (docs/machine-files.md, "Under Wine"): where the file shows either,
    # Wine's explanation may rightly differ from the native one.
    if winemachine.wine_order_hints(machine) or any(
            volume.get("medium", "ready") != "ready" for volume in machine.get("volumes", [])):
        return problems
    for form, args in (("explain", ("--explain",)), ("explain-json", ("--explain", "--json"))):
        expected, code, _ = replay_native(native_capture(native), source, args)
        printed = without_windows(form, runs[form].replace(b"\r\n", b"\n"))
        if code != 0 or printed != without_windows(form, expected):
            problems.append(f"devdrives-capture {' '.join(args)}: Wine's output differs from the native build's")
    return problems


def check_result(label, result, expect, problems, session=None):
    """result: (stdout, exit code) or (stdout, exit code, stderr); session:
    the Wine session that gave it, whose words join any problem."""
    stdout, code, stderr = (tuple(result) + (b"",))[:3]
    found = []
    if stderr:
        found.append(f"{label}: Wine or the command wrote to stderr: {stderr[:400]!r}")
    if stdout != expect["stdout"].encode("utf-8") or code != expect["exit"]:
        found.append(f"{label}: got {stdout!r} exit {code}, expected {expect['stdout']!r} exit {expect['exit']}")
    if found and session:
        found.append(f"{label}: {session.wine_words()}")
    problems.extend(found)


def add_exe(session, exe, version):
    """Puts exe in the session beside the command, under a name that runs as
    the same Windows version."""
    name = CAPTURE_PREFIX + winemachine.exe_name(version)
    shutil.copyfile(exe, os.path.join(session.prefix, "drive_c", "windows", "temp", name))
    if version != "default":
        session.wine("reg", "add", f"HKCU\\Software\\Wine\\AppDefaults\\{name}", "/v", "Version", "/d", version, "/f")


# What each run of the capture exe is asked: the two captures, and the two
# forms of the explanation.
CAPTURE_RUNS = (("plain", ("--keep-identifiers",)), ("anonymized", ()), ("explain", ("--explain",)),
                ("explain-json", ("--explain", "--json")))


def capture_under_wine(arch, machine, version, command, capture, command_label, expect, problems):
    """{label: bytes} of the capture exe under Wine, one per CAPTURE_RUNS;
    the command's own run in the same session is checked against expect,
    its problems added under command_label."""
    session = winemachine.Session(arch, machine, [version], command)
    try:
        add_exe(session, capture, version)
        runs = {}
        for label, args in CAPTURE_RUNS:
            stdout, code, stderr = session.run_exe(version, args=args, prefix=CAPTURE_PREFIX)
            if code != 0 or stderr:
                raise RuntimeError(f"capture {label} exit {code}, stderr {stderr[:300]!r}; {session.wine_words()}")
            runs[label] = stdout
        stdout, _, _ = session.run_exe(version, args=("--anonymize",), prefix=CAPTURE_PREFIX)
        if without_date(stdout) != without_date(runs["anonymized"]):
            raise RuntimeError("the capture with --anonymize differs from the default one")
        # Redirected or written with --output, a capture is the same bytes.
        path = os.path.join(session.exe_folder(), OUTPUT_FILE)
        _, code, stderr = session.run_exe(version, args=("--output", "C:\\windows\\temp\\" + OUTPUT_FILE),
                                          prefix=CAPTURE_PREFIX)
        if code != 0 or stderr or not os.path.isfile(path):
            raise RuntimeError(f"capture --output exit {code}, stderr {stderr[:300]!r}; {session.wine_words()}")
        with open(path, "rb") as f:
            if without_date(f.read()) != without_date(runs["anonymized"]):
                raise RuntimeError("the capture on standard output differs from the file --output wrote")
        check_result(command_label, session.run_exe(version), expect, problems, session)
        return runs
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
        runs = capture_under_wine(arch, machine, version, command, capture,
                                  f"[{version}] devdrives.exe on the source", expect, problems)
        captures = {label: json.loads(runs[label].decode("utf-8")) for label in ("plain", "anonymized")}
        with open(path, "rb") as f:
            source = f.read()
        problems.extend(f"[{version}] {p}" for p in explanation_problems(machine, source, runs, native))
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
            again = capture_under_wine(arch, captured, replay_versions[0], command, capture,
                                       f"[{version}] {label} capture replayed under Wine", expect, problems)
            if label == "plain":
                problems.extend(f"[{version}] the capture of the replay differs: {d}"
                                for d in differences(captured, json.loads(again["plain"])))
        left = identifiers_left(machine, runs["anonymized"])
        if left:
            problems.append(f"[{version}] the anonymized capture still holds {', '.join(left)}")
    return ("FAIL" if problems else "PASS"), problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--command", help="devdrives.exe or devdrives64.exe (default: the build's, of the first"
                        " architecture Wine runs here)")
    parser.add_argument("--capture", help="the capture exe of the same architecture (default: the one beside the"
                        " command)")
    parser.add_argument("--native", default=os.path.join(REPO, "build", "native", "devdrives"))
    winemachine.add_jobs_argument(parser)
    parser.add_argument("machines", nargs="*", metavar="MACHINE.json")
    args = parser.parse_args(argv)
    machines = args.machines or sorted(
        os.path.join(REPO, "tests", "machines", name) for name in os.listdir(os.path.join(REPO, "tests", "machines")))
    try:
        command = args.command or winemachine.default_exe("devdrives")
        capture = args.capture or os.path.join(os.path.dirname(command),
                                               f"devdrives-capture{winemachine.arch_of_exe(command).suffix}.exe")
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
