"""Tests of the transcript comparison (no Wine needed)."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import conformance  # noqa: E402

SIM = """\
LoadLibraryW(x.dll): ret=null err=126
GetVersionExW(size 275): ret=FALSE err=87
GetVersionExW(size 284): ret=FALSE err=87
GlobalAlloc(0x30000000): ret=nonnull err=untouched
"""

WINE = """\
LoadLibraryW(x.dll): ret=null err=126
GetVersionExW(size 275): ret=FALSE err=untouched
GetVersionExW(size 284): ret=TRUE version=6.2.9200 csd="Service Pack 1" err=untouched
GlobalAlloc(0x30000000): ret=null err=8
"""

KNOWN = """\
# comment
GetVersionExW(size 275) | err | Wine leaves the error alone
GetVersionExW(size 284) | line | the sim refuses the extended structure
GlobalAlloc(0x30000000) | ret err | Wine's limit
"""


def compare(sim, wine, known):
    sim_lines, sim_order = conformance.parse_transcript(sim, "sim")
    wine_lines, wine_order = conformance.parse_transcript(wine, "wine")
    return conformance.compare(sim_lines, sim_order, wine_lines, wine_order, conformance.parse_known(known, "k", "x86"))


class CompareTest(unittest.TestCase):
    def test_listed_differences_pass(self):
        self.assertEqual(compare(SIM, WINE, KNOWN), ([], [], 3))

    def test_identical_transcripts_without_entries_pass(self):
        self.assertEqual(compare(SIM, SIM, ""), ([], [], 0))

    def test_an_unlisted_difference_fails_showing_both_lines(self):
        unexpected, stale, _ = compare(SIM, WINE.replace("err=126", "err=2"), KNOWN)
        self.assertEqual(unexpected, ["  sim:  LoadLibraryW(x.dll): ret=null err=126",
                                      "  wine: LoadLibraryW(x.dll): ret=null err=2"])
        self.assertEqual(stale, [])

    def test_a_field_beyond_the_listed_ones_fails(self):
        unexpected, _, _ = compare(SIM, WINE, KNOWN.replace("| ret err |", "| ret |"))
        self.assertEqual(len(unexpected), 2)
        self.assertIn("listed for ret only", unexpected[1])

    def test_an_entry_that_no_longer_differs_is_stale(self):
        fixed = WINE.replace("ret=FALSE err=untouched", "ret=FALSE err=87")
        unexpected, stale, _ = compare(SIM, fixed, KNOWN)
        self.assertEqual(unexpected, [])
        self.assertEqual(len(stale), 1)
        self.assertIn("GetVersionExW(size 275)", stale[0])

    def test_a_listed_field_that_agrees_makes_the_entry_stale(self):
        half = WINE.replace("ret=null err=8", "ret=null err=untouched")
        _, stale, _ = compare(SIM, half, KNOWN)
        self.assertEqual(len(stale), 1)
        self.assertIn("err now agree", stale[0])

    def test_an_entry_for_no_call_is_stale(self):
        _, stale, _ = compare(SIM, WINE, KNOWN + "NoSuchCall() | err | gone\n")
        self.assertEqual(len(stale), 1)
        self.assertIn("no such call", stale[0])

    def test_a_line_on_one_side_only_needs_a_line_entry(self):
        sim = SIM + "HeapFree(big): ret=TRUE err=untouched\n"
        unexpected, _, _ = compare(sim, WINE, KNOWN)
        self.assertEqual(unexpected, ["  sim:  HeapFree(big): ret=TRUE err=untouched", "  wine: (no line)"])
        unexpected, stale, seen = compare(sim, WINE, KNOWN + "HeapFree(big) | line | only where it was had\n")
        self.assertEqual((unexpected, stale, seen), ([], [], 4))

    def test_a_field_missing_on_one_side_differs(self):
        wine = WINE.replace("ret=null err=126", "ret=null")
        unexpected, _, _ = compare(SIM, wine, KNOWN)
        self.assertEqual(len(unexpected), 2)

    def test_calls_in_another_order_fail(self):
        lines = SIM.splitlines(keepends=True)
        unexpected, _, _ = compare(SIM, "".join([lines[1], lines[0]] + lines[2:]), "")
        self.assertIn("  the calls come in a different order", unexpected)


class ParseTest(unittest.TestCase):
    def test_quoted_values_may_hold_spaces_and_escapes(self):
        lines, _ = conformance.parse_transcript('X(1): ret=TRUE csd="Service Pack \\"1\\"" err=0\n', "sim")
        self.assertEqual(lines["X(1)"][0], {"ret": "TRUE", "csd": '"Service Pack \\"1\\""', "err": "0"})

    def test_bad_transcripts_are_refused(self):
        for text in ("", "no label here\n", "A: ret=1\nA: ret=2\n", "A: ret=1 stray\n"):
            with self.subTest(text=text), self.assertRaises(conformance.TranscriptError):
                conformance.parse_transcript(text, "sim")

    def test_the_list_names_only_fields_the_probe_prints(self):
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "probe.cpp"), encoding="utf-8") as f:
            printed = set(re.findall(r'"\s?(\w+)="', f.read()))
        path = os.path.join(here, "known-differences")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("err", printed)
        for arch in ("x86", "x64"):
            for label, (fields, _) in conformance.parse_known(text, path, arch).items():
                with self.subTest(arch=arch, label=label):
                    self.assertNotIn(": ", label)
                    self.assertLessEqual(fields or set(), printed)

    def test_an_entry_of_one_architecture_holds_there_alone(self):
        text = "A | err | everywhere\nB | ret | 64-bit only | x64\nC | ret | 32-bit only | x86\n"
        self.assertEqual(sorted(conformance.parse_known(text, "k", "x86")), ["A", "C"])
        self.assertEqual(sorted(conformance.parse_known(text, "k", "x64")), ["A", "B"])

    def test_bad_entries_are_refused(self):
        for text in ("A | err\n", "A | err | \n", "A | err | why\nA | ret | why\n", "A | err | why | arm\n",
                     "A | err | why | x86 | x64\n", "A | err | why\nA | ret | why | x86\n"):
            with self.subTest(text=text), self.assertRaises(conformance.TranscriptError):
                conformance.parse_known(text, "k", "x86")


if __name__ == "__main__":
    unittest.main()
