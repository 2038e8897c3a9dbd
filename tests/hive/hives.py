"""Hives for the tests: synthetic ones written through hivex, real ones unpacked from ../shared/hives."""

import lzma
import os
import struct

import hivex

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 1, 2, 3, 4, 7
# ../shared/hives beside the repository; DEVDRIVES_HIVES names another folder (a worktree's, say).
REAL_HIVES = os.environ.get("DEVDRIVES_HIVES") or os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "hives")


def sz(text):
    return (text + "\0").encode("utf-16-le")


def text(characters):
    """UTF-16LE without a terminator; a lone surrogate is kept as its code unit."""
    return characters.encode("utf-16-le", "surrogatepass")


def multi(strings):
    return "".join(s + "\0" for s in strings).encode("utf-16-le") + b"\0\0"


def dword(number):
    return struct.pack("<I", number)


def _cell(record):
    size = (len(record) + 4 + 7) & ~7
    return (struct.pack("<i", -size) + record).ljust(size, b"\0")


def header_checksum(header):
    checksum = 0
    for (word,) in struct.iter_unpack("<I", header[:508]):
        checksum ^= word
    return struct.pack("<I", checksum)


def mark_unclean(path):
    """Makes the hive look saved mid-write: its secondary sequence number behind the primary."""
    with open(path, "r+b") as hive:
        header = bytearray(hive.read(4096))
        header[8:12] = struct.pack("<I", struct.unpack("<I", header[4:8])[0] - 1)
        header[508:512] = header_checksum(header)
        hive.seek(0)
        hive.write(header)
    return path


def empty_hive():
    """A hive that holds only its root key: hivex edits hives but does not start one."""
    root_at = 0x20
    nk = struct.pack("<2sHQIIIIIIIIIIHHIIIIHH", b"nk", 0x2C, 0, 0, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF,
                     0, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0, 4, 0) + b"ROOT"
    sk_at = root_at + len(_cell(nk))
    nk = nk[:44] + struct.pack("<I", sk_at) + nk[48:]  # the key's security cell, which new keys share
    descriptor = struct.pack("<BBHIIII", 1, 0, 0x8000, 0, 0, 0, 0)
    sk = struct.pack("<2sHIIII", b"sk", 0, sk_at, sk_at, 1, len(descriptor)) + descriptor
    cells = _cell(nk) + _cell(sk)
    free_at = root_at + len(cells)
    page = struct.pack("<4sIIQI", b"hbin", 0, 4096, 0, 0).ljust(root_at, b"\0") + cells
    page += struct.pack("<i", 4096 - free_at).ljust(4096 - free_at, b"\0")
    header = bytearray(struct.pack("<4sIIQIIIIIII", b"regf", 1, 1, 0, 1, 3, 0, 1, root_at, 4096, 1).ljust(4096, b"\0"))
    header[508:512] = header_checksum(header)
    return bytes(header) + page


def write_hive(path, keys):
    """keys: {"A\\B\\C": [(name, type, bytes), ...]}, made in this order, values in list order."""
    with open(path + ".empty", "wb") as empty:
        empty.write(empty_hive())
    hive = hivex.Hivex(path + ".empty", write=True)
    for key_path, values in keys.items():
        node = hive.root()
        for part in key_path.split("\\"):
            node = hive.node_get_child(node, part) or hive.node_add_child(node, part)
        if values:
            hive.node_set_values(node, [{"key": n, "t": t, "value": v} for n, t, v in values])
    hive.commit(path)
    os.unlink(path + ".empty")
    return path


def system_keys(devices, mount_table, current=1, control_sets=None):
    """The keys of a SYSTEM hive: devices [(instance ID, values)] under ControlSet<current>\\Enum,
    or under each control set of control_sets {number: devices}."""
    keys = {"Select": [("Current", REG_DWORD, dword(current))]}
    for number, listed in (control_sets or {current: devices}).items():
        keys["ControlSet%03d\\Enum" % number] = []
        for instance_id, values in listed:
            keys["ControlSet%03d\\Enum\\%s" % (number, instance_id)] = values
    keys["MountedDevices"] = mount_table
    return keys


def real_hive(name, directory):
    """Unpacks ../shared/hives/NAME.xz into directory; None when the folder is absent."""
    packed = os.path.join(REAL_HIVES, name + ".xz")
    if not os.path.exists(packed):
        return None
    path = os.path.join(directory, name)
    if not os.path.exists(path):
        with lzma.open(packed) as source, open(path, "wb") as target:
            target.write(source.read())
    return path
