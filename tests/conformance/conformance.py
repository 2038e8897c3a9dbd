#!/usr/bin/env python3
"""Runs the conformance probe on the sim and under Wine and compares the two
transcripts, line by line, against the list of known differences.

The probe prints one line per platform call, "LABEL: key=value ...". A
difference passes only when known-differences lists the label and every
field that differs (or "line"); an entry that no longer differs fails too,
so that the list stays true. Needs the native build and a Windows one.
"""

import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "wine"))
import winemachine  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

FIELD = re.compile(r'(\w+)=("(?:[^"\\]|\\.)*"|\S+)')


class TranscriptError(Exception):
    """A transcript or a list entry that cannot be read."""


def parse_transcript(text, side):
    """{label: (fields, line)} and the labels in order."""
    lines, order = {}, []
    for line in text.splitlines():
        label, sep, rest = line.partition(": ")
        if not sep:
            raise TranscriptError(f"{side}: a line without \"LABEL: \": {line!r}")
        if label in lines:
            raise TranscriptError(f"{side}: the label {label!r} is printed twice")
        fields = dict(FIELD.findall(rest))
        if " ".join(f"{k}={v}" for k, v in fields.items()) != rest:
            raise TranscriptError(f"{side}: fields that are not key=value: {line!r}")
        lines[label] = (fields, line)
        order.append(label)
    if not order:
        raise TranscriptError(f"{side}: an empty transcript")
    return lines, order


def parse_known(text, path, arch):
    """{label: (set of fields, or None for "line"; why)} of the entries that
    hold for the probe of arch ("x86" or "x64"): those without an ARCH and
    those of that one."""
    known = {}
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        parts = [part.strip() for part in line.split(" | ")]
        if len(parts) not in (3, 4) or not all(parts) or parts[3:] not in ([], ["x86"], ["x64"]):
            raise TranscriptError(f"{path}:{number}: not LABEL | FIELDS | WHY [| x86 or x64]")
        label, fields, why = parts[:3]
        if parts[3:] not in ([], [arch]):
            continue
        if label in known:
            raise TranscriptError(f"{path}:{number}: {label!r} is listed twice")
        known[label] = (None if fields == "line" else set(fields.split()), why)
    return known


def differing_fields(sim, wine):
    return {key for key in set(sim) | set(wine) if sim.get(key) != wine.get(key)}


def compare(sim, sim_order, wine, wine_order, known):
    """(unexpected differences, stale entries, known differences seen) as text lines."""
    unexpected, stale, seen = [], [], 0
    for label in sim_order + [label for label in wine_order if label not in sim]:
        entry = known.get(label)
        on_sim, on_wine = sim.get(label), wine.get(label)
        if on_sim is None or on_wine is None:
            if entry is not None and entry[0] is None:
                seen += 1
                continue
            unexpected.append(f"  sim:  {on_sim[1] if on_sim else '(no line)'}")
            unexpected.append(f"  wine: {on_wine[1] if on_wine else '(no line)'}")
            continue
        differing = differing_fields(on_sim[0], on_wine[0])
        if entry is None:
            if differing:
                unexpected.append(f"  sim:  {on_sim[1]}")
                unexpected.append(f"  wine: {on_wine[1]}")
            continue
        listed, why = entry
        if not differing or (listed is not None and not listed <= differing):
            agree = sorted(listed - differing) if listed else ["the whole line"]
            stale.append(f"  {label} | {' '.join(sorted(listed)) if listed else 'line'} ({why})"
                         f": {', '.join(agree)} now agree")
        elif listed is not None and not differing <= listed:
            unexpected.append(f"  sim:  {on_sim[1]}")
            unexpected.append(f"  wine: {on_wine[1]}   (listed for {' '.join(sorted(listed))} only)")
        else:
            seen += 1
    for label, (listed, why) in known.items():
        if label not in sim and label not in wine:
            stale.append(f"  {label} ({why}): no such call in either transcript")
    common_sim = [label for label in sim_order if label in wine]
    common_wine = [label for label in wine_order if label in sim]
    if common_sim != common_wine:
        unexpected.append("  the calls come in a different order")
    return unexpected, stale, seen


def run_native(probe, machine):
    env = dict(os.environ, DEVDRIVES_MACHINE=machine)
    env.pop("DEVDRIVES_SIM_TRACE", None)
    env.pop("DEVDRIVES_TRACE", None)
    result = subprocess.run([probe], env=env, capture_output=True, timeout=120)
    if result.returncode != 0 or result.stderr:
        raise TranscriptError(f"the native probe exited {result.returncode}: {result.stderr.decode(errors='replace')}")
    return result.stdout.decode("utf-8")


def run_wine(exe, machine):
    runner = os.path.join(REPO, "tests", "wine", "run")
    result = subprocess.run([runner, "--show", "--exe", exe, machine], capture_output=True, timeout=600)
    text = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
    # --show prints the exe's stdout, then "\nexit code: N\n".
    output, sep, code = text.rpartition("\nexit code: ")
    if result.returncode != 0 or not sep or code.strip() != "0" or result.stderr:
        raise TranscriptError(f"the probe under Wine: runner exit {result.returncode}, "
                              f"{text[-400:]!r} {result.stderr.decode(errors='replace')[:400]}")
    return output


def main(argv=None):
    parser = argparse.ArgumentParser(description="Compare the conformance probe on the sim and under Wine.")
    parser.add_argument("--native", default=os.path.join(REPO, "build", "native", "tests", "conformance_probe"),
                        help="the probe built against the sim (default: %(default)s)")
    parser.add_argument("--exe", help="the probe built for Windows, of either architecture (default: the"
                        " mingw-i686 build's, or mingw-x86_64's where Wine runs no 32-bit exe)")
    parser.add_argument("--machine", default=os.path.join(HERE, "probe-machine.json"),
                        help="the machine file (default: %(default)s)")
    parser.add_argument("--known", default=os.path.join(HERE, "known-differences"),
                        help="the list of known differences (default: %(default)s)")
    parser.add_argument("--keep", metavar="DIR", help="write the two transcripts into DIR")
    args = parser.parse_args(argv)
    started = time.monotonic()
    try:
        exe = args.exe or os.path.join(os.path.dirname(winemachine.default_exe()), "conformance-probe.exe")
        arch = winemachine.arch_of_exe(exe)
        with open(args.known, encoding="utf-8") as f:
            known = parse_known(f.read(), args.known, arch.name)
        sim_text = run_native(args.native, args.machine)
        wine_text = run_wine(exe, args.machine)
        if args.keep:
            os.makedirs(args.keep, exist_ok=True)
            for name, text in (("sim.txt", sim_text), ("wine.txt", wine_text)):
                with open(os.path.join(args.keep, name), "w", encoding="utf-8") as f:
                    f.write(text)
        sim, sim_order = parse_transcript(sim_text, "sim")
        wine, wine_order = parse_transcript(wine_text, "wine")
    except (OSError, TranscriptError, RuntimeError, subprocess.SubprocessError) as error:
        print(f"conformance: {error}", file=sys.stderr)
        return 2
    unexpected, stale, seen = compare(sim, sim_order, wine, wine_order, known)
    if unexpected:
        print("conformance: the sim and Wine differ where known-differences does not say so:")
        print("\n".join(unexpected))
    if stale:
        print("conformance: listed differences that no longer occur (remove them from known-differences):")
        print("\n".join(stale))
    verdict = "FAIL" if unexpected or stale else "PASS"
    print(f"conformance ({arch}): {verdict}: {len(sim_order)} calls on the sim, {len(wine_order)} under Wine, "
          f"{seen} known differences, in {time.monotonic() - started:.1f}s")
    return 1 if unexpected or stale else 0


if __name__ == "__main__":
    sys.exit(main())
