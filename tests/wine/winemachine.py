#!/usr/bin/env python3
"""Runs the real devdrives.exe (or devdrives64.exe) under Wine on machine files.

Each machine gets a throwaway prefix of the exe's architecture (32-bit for
an i386 exe, 64-bit for an AMD64 one), copied from a cached template:
its devices become Enum keys (Wine's Setup API lists every Enum key with a
ClassGUID), its drive letters and volumes become dosdevices links to
directories holding the volume files, and inside a persistent wineserver
session, once Wine's drive manager has published its mount table, a helper
exe (regset.c) sets the machine's registry values byte for byte and replaces
the mount table with the machine's. The exe's stdout bytes and exit
code are then compared with the file's "expect". See docs/machine-files.md.
"""

import argparse
import concurrent.futures
import errno
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_JOBS = 4
REGSET_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "regset.c")
REGSET_OPTIONS = ["-std=c99", "-O2", "-Wall", "-Wextra", "-Werror", "-s"]

ENUM = "SYSTEM\\CurrentControlSet\\Enum\\"
MOUNTED_DEVICES = "SYSTEM\\MountedDevices"

# Wine's names for the versions GetVersionExW reports; "default" is Wine's
# own (6.1), which takes the command's Vista path like any later Windows.
WINE_VERSIONS = ("default", "nt40", "win2k", "winxp", "win2003", "vista", "win7", "win8", "win81", "win10")

REG_TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4, "REG_MULTI_SZ": 7}

# Setup API classes by bus; Wine lists a device only when its key has one.
CLASS_GUIDS = {
    "USB": "{36FC9E60-C465-11CF-8056-444553540000}",
    "USBSTOR": "{4D36E967-E325-11CE-BFC1-08002BE10318}",
}
OTHER_CLASS_GUID = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"

# Where Wine keeps the system libraries of the exe's own architecture
# (GetSystemDirectoryW), in a 32-bit prefix and in a 64-bit one alike.
WINE_SYSTEM_DIRECTORY = "C:\\windows\\system32"

# Windows (and Wine) keep device instance IDs below 200 characters.
MAX_INSTANCE_ID = 199

# The sim's default largest single allocation; Wine grants a little more.
DEFAULT_MAX_ALLOCATION = 0x20000000


class MachineError(Exception):
    """A machine file the runner cannot read."""


# ---------------------------------------------------------------------------
# The machine in Wine's terms (pure functions, no Wine needed)

def load(path):
    try:
        with open(path, "rb") as f:
            machine = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError) as error:
        raise MachineError(f"{path}: {error}") from None
    if not isinstance(machine, dict):
        raise MachineError(f"{path}: not a JSON object")
    return machine


def utf16(text, terminated):
    return text.encode("utf-16-le") + (b"\0\0" if terminated else b"")


def multi_string(strings):
    return b"".join(utf16(s, True) for s in strings) + b"\0\0"


def hex_bytes(text):
    try:
        return bytes.fromhex(text.replace(" ", ""))
    except ValueError:
        raise MachineError(f"bad hex bytes: {text!r}") from None


def registry_value(value):
    """(type number, data bytes) of a machine-file value, as the sim reads it."""
    if isinstance(value, str):
        return REG_TYPES["REG_SZ"], utf16(value, True)
    kind = value["type"]
    kind = REG_TYPES[kind] if isinstance(kind, str) else int(kind)
    if "text" in value:
        terminated = value.get("terminated", kind in (1, 2))
        return kind, utf16(value["text"], terminated)
    if "strings" in value:
        return kind, multi_string(value["strings"])
    if "dword" in value:
        return kind, int(value["dword"]).to_bytes(4, "little")
    return kind, hex_bytes(value["hex"])


def failing(value):
    """A property whose read fails ({"error": code}): it has no bytes."""
    return isinstance(value, dict) and "error" in value


def property_bytes(value, multi):
    if isinstance(value, dict):
        return hex_bytes(value["hex"])
    if multi:
        return multi_string(value)
    return utf16(value, True)


def file_bytes(entry):
    if isinstance(entry, str):
        return entry.encode("latin-1")
    if "hex" in entry:
        return hex_bytes(entry["hex"])
    return entry.get("text", "").encode("latin-1")


def named_values(values):
    """[(name, value)] of a key's values, given as an object or as a list
    whose items carry "name" (or "nameHex", UTF-16LE bytes)."""
    if isinstance(values, dict):
        return list(values.items())
    named = []
    for item in values:
        item = dict(item)
        name = item.pop("name", None)
        if name is None:
            name = hex_bytes(item.pop("nameHex")).decode("utf-16-le", "surrogatepass")
        named.append((name, item))
    return named


def registry_keys(machine):
    """Every key under HKLM the machine holds: [(path, [(name, type, data)])],
    devices first, keys that differ only in case merged as Wine merges them."""
    keys = {}
    order = []

    def add(path, values):
        folded = path.lower()
        if folded not in keys:
            keys[folded] = (path, {})
            order.append(folded)
        held = keys[folded][1]
        for name, value in named_values(values):
            held[name.lower()] = (name,) + registry_value(value)

    for device in machine.get("devices", []):
        if not device.get("enumKey", True) or not isinstance(device["instanceId"], str):
            continue  # an ID that is not text (cannot_express) has no key here
        instance = device["instanceId"]
        bus = instance.split("\\", 1)[0].upper()
        values = {"ClassGUID": CLASS_GUIDS.get(bus, OTHER_CLASS_GUID)}
        add(ENUM + instance, values)
        properties = keys[(ENUM + instance).lower()][1]
        if "hardwareIds" in device and not failing(device["hardwareIds"]):
            properties["hardwareid"] = ("HardwareID", 7, property_bytes(device["hardwareIds"], True))
        if "service" in device and not failing(device["service"]):
            properties["service"] = ("Service", 1, property_bytes(device["service"], False))
        add(ENUM + instance, device.get("values", {}))
    for path, values in machine.get("registry", {}).items():
        add(path, values)
    return [(keys[k][0], list(keys[k][1].values())) for k in order]


def mounted_devices(machine):
    """The mount table's values [(name, type, data)], or None without the key."""
    for path, values in registry_keys(machine):
        if path.lower() == MOUNTED_DEVICES.lower():
            return values
    return None


def drive_letters(machine):
    return sorted(set(machine.get("drives", "")))


def volume_of_letter(machine):
    """Which volume's files each drive letter shows: the volume whose
    "\\??\\Volume{GUID}" value holds the same mount record as the letter's
    "\\DosDevices\\X:" value (the first such value in the file). A letter
    without one shows an empty directory. {letter: volume index or None}"""
    table = mounted_devices(machine) or []
    guids = {v["guid"].lower(): i for i, v in enumerate(machine.get("volumes", []))}
    result = {}
    for letter in drive_letters(machine):
        record = None
        for name, _, data in table:
            if name.lower() == f"\\dosdevices\\{letter.lower()}:":
                record = data
                break
        result[letter] = None
        if record is None:
            continue
        for name, _, data in table:
            lowered = name.lower()
            if lowered.startswith("\\??\\volume{") and data == record and lowered[len("\\??\\volume"):] in guids:
                result[letter] = guids[lowered[len("\\??\\volume"):]]
                break
    return result


def versions(machine):
    """The Wine versions to run: the file's "wine.versions", else the one its
    "os" names."""
    wine = machine.get("wine", {})
    if "versions" in wine:
        return list(wine["versions"])
    os_version = machine.get("os", {}) or {}
    major, minor = os_version.get("major", 10), os_version.get("minor", 0)
    if major == 4:
        return ["nt40"]
    if major == 5:
        return ["win2k" if minor == 0 else "winxp"]
    return ["default"]


def cannot_express(machine):
    """Why Wine cannot show this machine as the sim does (empty: it can)."""
    reasons = []
    setup = machine.get("setupApi", {})
    if not setup.get("present", True) or setup.get("missing"):
        reasons.append("the Setup API or an entry point of it is missing")
    if machine.get("faults"):
        reasons.append("injected faults")
    if machine.get("maxAllocation", DEFAULT_MAX_ALLOCATION) != DEFAULT_MAX_ALLOCATION:
        reasons.append("an allocation limit of its own, where Wine has its address space")
    directory = machine.get("systemDirectory", WINE_SYSTEM_DIRECTORY)
    if directory.lower() != WINE_SYSTEM_DIRECTORY.lower():
        reasons.append(f"the system directory {directory!r}, where Wine's is {WINE_SYSTEM_DIRECTORY!r}")
    if "os" in machine and machine["os"] is None:
        reasons.append("GetVersionExW fails")
    elif (machine.get("os") or {}).get("platformId", 2) != 2:
        reasons.append("a platform other than Windows NT")
    elif not 4 <= (machine.get("os") or {}).get("major", 10):
        reasons.append("a Windows version Wine has no setting for")
    for version in machine.get("wine", {}).get("versions", []):
        if version not in WINE_VERSIONS:
            reasons.append(f"unknown Wine version {version!r}")
    if machine.get("codePage", 1252) != 1252:
        reasons.append(f"code page {machine['codePage']}, where the runner's prefix uses 1252")
    seen = set()
    for device in machine.get("devices", []):
        if failing(device["instanceId"]):
            reasons.append("reading a device's instance ID fails, which Wine cannot be made to do")
            continue
        if not isinstance(device["instanceId"], str):
            reasons.append("an instance ID that is not text")
            continue
        instance = device["instanceId"]
        for prop in ("hardwareIds", "service"):
            if failing(device.get(prop)):
                reasons.append(f"device {instance}: reading its {prop} fails, which Wine cannot be made to do")
        if isinstance(device.get("hardwareIds"), dict) and "size" in device["hardwareIds"]:
            reasons.append(f"device {instance}: its hardwareIds declare a size the runner does not write")
        if not device.get("enumKey", True):
            reasons.append(f"device {instance} has no registry key")
        if len(instance.split("\\")) != 3 or "" in instance.split("\\"):
            reasons.append(f"device {instance}: Wine lists only IDs of three parts, bus\\device\\instance")
        if len(instance) > MAX_INSTANCE_ID:
            reasons.append(f"device {instance[:40]}... has an instance ID beyond {MAX_INSTANCE_ID} characters")
        if instance.lower() in seen:
            reasons.append(f"two devices share the key {instance}")
        seen.add(instance.lower())
        for name in device.get("values", {}):
            if name.lower() in ("hardwareid", "service", "classguid"):
                reasons.append(f"device {instance} sets {name} in its key, where Wine keeps its properties")
    by_letter = volume_of_letter(machine)
    for index, volume in enumerate(machine.get("volumes", [])):
        if volume.get("medium", "ready") != "ready" and by_letter.get("C") == index:
            reasons.append("drive C has no medium, but Wine runs from it")
        for path, entry in volume.get("files", {}).items():
            if isinstance(entry, dict) and entry.get("size", len(file_bytes(entry))) < len(file_bytes(entry)):
                reasons.append(f"file {path} reports fewer bytes than it holds")
            if any(part in ("", ".", "..") or "/" in part for part in path.split("\\")):
                reasons.append(f"file path {path!r} has no place in a directory tree")
    table = mounted_devices(machine) or []
    if "C" not in drive_letters(machine) and any(n.lower() == "\\dosdevices\\c:" for n, _, _ in table):
        reasons.append("drive C is not in use, but Wine always has it")
    for name, _, _ in table:
        if name.endswith("\\") and not name.lower().startswith("\\dosdevices\\"):
            reasons.append(f"volume name {name} ends in a backslash: Wine opens the paths with an empty "
                           "component that Windows refuses")
    return reasons


def exe_name(version):
    return "devdrives.exe" if version == "default" else f"devdrives-{version}.exe"


def utf16_hex(text):
    return utf16(text, False).hex()


def key_records(root, path, values, replace=False):
    """regset.c's records that set values [(name, type, data)] in order; with
    replace, the key's other values go first and none may come back."""
    records = [f"K {root} {utf16_hex(path)}"] + (["C"] if replace else [])
    records += [f"V {utf16_hex(name)} {kind:x} {data.hex()}" for name, kind, data in values]
    return records + ([f"N {len(values):x}"] if replace else [])


def regset_script(machine, run_versions):
    """All of the machine's registry for regset.c: its keys, the mount table
    in place of Wine's (no key when the machine has none), and the Wine
    version of each exe name."""
    records, table = [], None
    for path, values in registry_keys(machine):
        if path.lower() == MOUNTED_DEVICES.lower():
            table = (path, values)
        else:
            records += key_records("HKLM", path, values)
    if table is None:
        records.append(f"D HKLM {utf16_hex(MOUNTED_DEVICES)}")
    else:
        records += key_records("HKLM", *table, replace=True)
    for version in run_versions:
        if version != "default":
            records += key_records("HKCU", f"Software\\Wine\\AppDefaults\\{exe_name(version)}",
                                   [("Version", 1, utf16(version, True))])
    return "".join(record + "\n" for record in records).encode("ascii")


def wine_order_hints(machine):
    """Where the file's orders differ from the ones Wine enumerates in."""
    hints = []
    ids = [d["instanceId"] for d in machine.get("devices", []) if isinstance(d["instanceId"], str)]
    if ids != sorted(ids, key=lambda i: [part.lower() for part in i.split("\\")]):
        hints.append("Wine lists the devices sorted by key, not in the file's order")
    names = [name for name, _, _ in mounted_devices(machine) or []]
    if names != sorted(names, key=str.lower):
        hints.append("Wine enumerates the mount table's values sorted by name, not in creation order")
    return hints


# ---------------------------------------------------------------------------
# Wine

# Debian's Wine keeps both loaders and the servers here.
WINE_LIBRARY = "/usr/lib/wine"
ARCHES_VARIABLE = "DEVDRIVES_WINE_ARCHES"

# Wine's loaders are not position-independent: the x64 one sits at 0x7d000000,
# and Linux puts its heap at random in the 1 GiB above it (measured on 6.18).
# Now and then that heap covers 0x7ffe0000, where Wine must place the shared
# user data; the process then ends at once with exit code 1 and a message
# that WINEDEBUG=-all keeps back. Started without address randomization, a
# loader has its heap right behind it; the processes Wine starts in turn
# inherit that.
FIXED_LAYOUT = ("setarch", "--addr-no-randomize")

# A run whose result is not the expected one runs again with Wine's error
# messages on, which the sessions keep off (WINEDEBUG=-all), so that a failure
# can be read from the log alone; so many of the rerun's last lines are shown.
DIAGNOSTIC_WINEDEBUG = "err+all"
DIAGNOSTIC_LINES = 40


class Arch:
    """One architecture whose exes Wine runs: its prefix kind, loader and
    compiler, the exes the build makes for it, and, made once and cached,
    its booted template prefix and regset.exe."""

    def __init__(self, name, wine_arch, triplet, machine, preset, suffix, loader, extra_env):
        self.name = name
        self.wine_arch = wine_arch
        self.triplet = triplet
        self.machine = machine  # the PE header's machine type of its exes
        self.preset = preset
        self.suffix = suffix
        self.loader = loader  # the program that starts a Wine process
        self.probe = os.path.join(WINE_LIBRARY, "wine64" if name == "x64" else "wine")
        self.extra_env = extra_env
        self._template = None
        self._regset = None

    def __repr__(self):
        return self.name

    def tool(self, name):
        """A MinGW-w64 tool of this architecture, e.g. tool("gcc-win32")."""
        return f"{self.triplet}-{name}"

    def exe(self, name):
        """The build's exe of that name: exe("devdrives") is devdrives64.exe on x64."""
        return os.path.join(REPO, "build", self.preset, f"{name}{self.suffix}.exe")

    def environment(self, prefix):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "WINELOADER")}
        env.update(WINEPREFIX=prefix, WINEARCH=self.wine_arch, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", **self.extra_env)
        return env

    def command(self, *args):
        """The command line of a Wine process of this architecture running args."""
        return [*FIXED_LAYOUT, self.loader, *args]

    def version(self):
        return subprocess.run(self.command("--version"), capture_output=True, text=True, check=True).stdout.strip()

    def template(self):
        if self._template is None:
            self._template = ensure_template(template_path(self), self)
        return self._template

    def regset(self):
        if self._regset is None:
            self._regset = ensure_regset(self)
        return self._regset


# Debian's /usr/bin/wine always picks the 32-bit loader when it is installed,
# runnable or not; the 64-bit one is started directly, with its own server.
ARCHES = {
    "x86": Arch("x86", "win32", "i686-w64-mingw32", 0x014C, "mingw-i686", "", "wine", {}),
    "x64": Arch("x64", "win64", "x86_64-w64-mingw32", 0x8664, "mingw-x86_64", "64",
                os.path.join(WINE_LIBRARY, "wine64"),
                {"WINELOADER": os.path.join(WINE_LIBRARY, "wine64"),
                 "WINESERVER": os.path.join(WINE_LIBRARY, "wineserver64")}),
}


def why_not_runnable(path, kind="program"):
    """Why this host cannot execute the program at path, an ELF of that
    kind (None: it can)."""
    try:
        subprocess.run([path, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    except FileNotFoundError:
        return f"{path} is not installed"
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return f"this host runs no {kind}: the kernel refuses to execute {path} ({error.strerror})"
        return f"executing {path} fails with \"{error.strerror}\""
    except subprocess.TimeoutExpired:
        return f"{path} --version did not end within 60 s"
    return None


def why_not_on_host(arch):
    """Why this host runs no exe of arch under Wine (None: it does): the
    answer of its Wine loader, which is an ELF of the host's own kind."""
    return why_not_runnable(arch.probe, "32-bit code" if arch.name == "x86" else "x86-64 code")


def host_arches():
    """The architectures Wine runs here, x86 first: DEVDRIVES_WINE_ARCHES
    (x86, x64 or both, by commas or spaces) when set, else what the host
    executes."""
    given = os.environ.get(ARCHES_VARIABLE, "").replace(",", " ").split()
    unknown = [name for name in given if name not in ARCHES]
    if unknown:
        raise RuntimeError(f"{ARCHES_VARIABLE} names {', '.join(unknown)}; it takes {' and '.join(ARCHES)}")
    if given:
        return [ARCHES[name] for name in ARCHES if name in given]
    return [arch for arch in ARCHES.values() if why_not_on_host(arch) is None]


def arch_of_exe(path):
    """The architecture of a PE exe, by its header's machine type."""
    try:
        with open(path, "rb") as f:
            header = f.read(4096)
    except OSError as error:
        raise RuntimeError(f"{path}: {error.strerror}") from None
    pe = int.from_bytes(header[60:64], "little") if header[:2] == b"MZ" else -1
    if pe < 0 or header[pe:pe + 4] != b"PE\0\0":
        raise RuntimeError(f"{path}: not a PE exe")
    machine = int.from_bytes(header[pe + 4:pe + 6], "little")
    for arch in ARCHES.values():
        if arch.machine == machine:
            return arch
    raise RuntimeError(f"{path}: machine type 0x{machine:04x}, which the runner has no Wine for")


def runnable_arch(exe):
    """The architecture of exe, when Wine runs it here; else RuntimeError."""
    arch = arch_of_exe(exe)
    if arch not in host_arches():
        reason = why_not_on_host(arch) or f"{ARCHES_VARIABLE} leaves {arch} out"
        raise RuntimeError(f"{exe} is an {arch} exe, which Wine cannot run here: {reason}")
    return arch


def default_exe(name="devdrives"):
    """The build's exe for the first architecture Wine runs here."""
    arches = host_arches()
    return (arches[0] if arches else ARCHES["x86"]).exe(name)


def template_path(arch):
    if os.environ.get("DEVDRIVES_WINE_TEMPLATE"):
        return os.environ["DEVDRIVES_WINE_TEMPLATE"] + "-" + arch.name
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(cache, "devdrives", f"wine-template-{arch.name}-" + re.sub(r"[^\w.-]", "_", arch.version()))


def ensure_template(path, arch):
    """A booted prefix of arch at path, made once (about 15 s)."""
    if os.path.exists(os.path.join(path, "system.reg")):
        return path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    building = tempfile.mkdtemp(prefix=os.path.basename(path) + ".", dir=os.path.dirname(path))
    prefix = os.path.join(building, "prefix")
    env = arch.environment(prefix)
    try:
        subprocess.run(arch.command("wineboot", "-i"), env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300)
        with open(os.path.join(prefix, "system.reg"), encoding="utf-8", errors="replace") as f:
            if f"#arch={arch.wine_arch}" not in f.read(4096):
                raise RuntimeError(f"wineboot made no {arch.wine_arch} prefix")
        try:
            os.rename(prefix, path)
        except OSError:
            if not os.path.exists(os.path.join(path, "system.reg")):  # another run made it meanwhile
                raise
    except (OSError, subprocess.SubprocessError) as error:
        raise RuntimeError(f"cannot make the {arch} Wine template prefix: {error}") from None
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(building, ignore_errors=True)
    return path


def ensure_regset(arch):
    """regset.exe of arch, built next to its template once per version of its source."""
    build = [arch.tool("gcc-win32"), *REGSET_OPTIONS]
    with open(REGSET_SOURCE, "rb") as f:
        digest = hashlib.sha256(f.read() + " ".join(build).encode()).hexdigest()[:16]
    folder = os.path.dirname(arch.template())
    path = os.path.join(folder, f"regset-{digest}.exe")
    if os.path.exists(path):
        return path
    handle, building = tempfile.mkstemp(suffix=".exe", dir=folder)
    os.close(handle)
    try:
        result = subprocess.run(build + ["-o", building, REGSET_SOURCE], capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"cannot build {REGSET_SOURCE}: {result.stderr}")
        os.replace(building, path)  # whole, even with another run building it too
    except OSError as error:
        raise RuntimeError(f"cannot build {REGSET_SOURCE}: {error}") from None
    finally:
        if os.path.exists(building):
            os.unlink(building)
    return path


def copy_template(template, prefix):
    # Wine's DLLs in the prefix are never written, so hard links spare
    # copying half a gigabyte; the files Wine rewrites are real copies.
    if os.stat(template).st_dev == os.stat(os.path.dirname(prefix)).st_dev:
        subprocess.run(["cp", "-al", template, prefix], check=True)
        for name in ("system.reg", "user.reg", "userdef.reg", "drive_c/windows/win.ini",
                     "drive_c/windows/system.ini"):
            target = os.path.join(prefix, name)
            if os.path.exists(target):
                os.unlink(target)
                shutil.copy2(os.path.join(template, name), target)
    else:
        subprocess.run(["cp", "-a", template, prefix], check=True)


class Session:
    """A prefix of arch for one machine and the wineserver running in it;
    beside names further files to put in the exe's folder."""

    def __init__(self, arch, machine, run_versions, exe, beside=()):
        self.workdir = tempfile.mkdtemp(prefix="devdrives-wine-")
        self.prefix = os.path.join(self.workdir, "prefix")
        self.arch = arch
        self.env = arch.environment(self.prefix)
        self.server = False
        self.last_run = None
        self.machine = machine
        self.run_versions = run_versions
        try:
            self.regset = arch.regset()
            copy_template(arch.template(), self.prefix)
            self._lay_out_drives()
            temp = self.exe_folder()
            for version in run_versions:
                shutil.copyfile(exe, os.path.join(temp, exe_name(version)))
            for path in beside:
                shutil.copyfile(path, os.path.join(temp, os.path.basename(path)))
            self._start()
        except BaseException:
            self.close()
            raise

    def _lay_out_drives(self):
        dosdevices = os.path.join(self.prefix, "dosdevices")
        for name in os.listdir(dosdevices):
            if re.fullmatch(r"[a-z]:", name) and name != "c:":
                os.unlink(os.path.join(dosdevices, name))
        volumes = self.machine.get("volumes", [])
        by_letter = volume_of_letter(self.machine)
        directories = {}
        if by_letter.get("C") is not None:
            directories[by_letter["C"]] = os.path.join(self.prefix, "drive_c")
        for index, volume in enumerate(volumes):
            directory = directories.setdefault(index, os.path.join(self.workdir, f"volume{index}"))
            if volume.get("medium", "ready") != "ready":
                # A drive whose directory does not exist: Wine lists its
                # letter, and every access to it fails.
                os.symlink(directory, os.path.join(dosdevices, "volume" + volume["guid"].lower()))
                continue
            os.makedirs(directory, exist_ok=True)
            for path, entry in volume.get("files", {}).items():
                target = os.path.join(directory, *path.split("\\"))
                if isinstance(entry, dict) and entry.get("directory"):
                    os.makedirs(target, exist_ok=True)
                    continue
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(file_bytes(entry))
                    if isinstance(entry, dict) and "size" in entry:
                        f.truncate(entry["size"])  # sparse: the zeros take no room
            os.symlink(directory, os.path.join(dosdevices, "volume" + volume["guid"].lower()))
        for letter, index in by_letter.items():
            if letter == "C":
                continue
            if index is None:
                directory = os.path.join(self.workdir, f"drive{letter}")
                os.makedirs(directory, exist_ok=True)
            else:
                directory = directories[index]
            os.symlink(directory, os.path.join(dosdevices, letter.lower() + ":"))

    def wine(self, *args, timeout=120, stdin=b"", dll_overrides=None, winedebug=None):
        """One Wine process; dll_overrides adds to WINEDLLOVERRIDES for it,
        winedebug replaces the session's WINEDEBUG."""
        env = self.env
        if dll_overrides:
            env = dict(env, WINEDLLOVERRIDES=env["WINEDLLOVERRIDES"] + ";" + dll_overrides)
        if winedebug:
            env = dict(env, WINEDEBUG=winedebug)
        self.last_run = (args, timeout, stdin, dll_overrides)
        return subprocess.run(self.arch.command(*args), env=env, cwd=os.path.join(self.prefix, "drive_c"),
                              input=stdin, capture_output=True, timeout=timeout)

    def wine_words(self):
        """What Wine itself says about the last process run in this session,
        for a result the caller did not expect: the session runs with Wine's
        messages off, so the same process runs once more with its errors on."""
        args, timeout, stdin, dll_overrides = self.last_run
        try:
            result = self.wine(*args, timeout=timeout, stdin=stdin, dll_overrides=dll_overrides,
                               winedebug=DIAGNOSTIC_WINEDEBUG)
        except subprocess.TimeoutExpired:
            return f"rerun with WINEDEBUG={DIAGNOSTIC_WINEDEBUG}: did not end within {timeout} s"
        lines = result.stderr.decode("utf-8", "replace").splitlines()[-DIAGNOSTIC_LINES:]
        said = "".join("\n  " + line for line in lines) or " nothing"
        return (f"rerun with WINEDEBUG={DIAGNOSTIC_WINEDEBUG}: exit {result.returncode}, stdout "
                f"{result.stdout[:200]!r}, stderr (its last {DIAGNOSTIC_LINES} lines at most):{said}")

    def _mount_table_names(self):
        out = self.wine("reg", "query", "HKLM\\SYSTEM\\MountedDevices").stdout.decode("utf-8", "replace")
        names = {line[4:].split("    ")[0].lower() for line in out.splitlines() if line.startswith("    ")}
        return {"" if name == "(default)" else name for name in names}

    def _start(self):
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, **quiet)
        self.server = True
        # The first process starts Wine's services, which keep its standard
        # handles open for the whole session: they must not be our pipes.
        first = subprocess.run(self.arch.command("cmd", "/c", "exit"), env=self.env, timeout=120, **quiet)
        if first.returncode != 0:
            raise RuntimeError(f"the session's first Wine process (cmd /c exit) ended with exit {first.returncode}")
        # The drive manager publishes one value per drive letter at start-up;
        # the machine's go in only after all of its own are there, and
        # replace them.
        wanted = {f"\\dosdevices\\{l.lower()}:" for l in ["C"] + drive_letters(self.machine)}
        deadline = time.monotonic() + 60
        while not wanted <= self._mount_table_names():
            if time.monotonic() > deadline:
                raise RuntimeError(f"Wine's drive manager did not publish the drives; {self.wine_words()}")
            time.sleep(0.1)
        result = self.wine(self.regset, stdin=regset_script(self.machine, self.run_versions))
        if result.returncode != 0 or result.stderr:
            raise RuntimeError(f"regset.exe failed (exit {result.returncode}): "
                               f"{result.stderr.decode(errors='replace').strip()}; {self.wine_words()}")

    def exe_folder(self):
        return os.path.join(self.prefix, "drive_c", "windows", "temp")

    def run_exe(self, version, dll_overrides=None, args=(), prefix=""):
        """(stdout bytes, exit code, stderr bytes) of one run."""
        result = self.wine(f"C:\\windows\\temp\\{prefix}{exe_name(version)}", *args, dll_overrides=dll_overrides)
        return result.stdout, result.returncode, result.stderr

    def close(self):
        if self.server:
            subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
            self.server = False
        shutil.rmtree(self.workdir, ignore_errors=True)


# ---------------------------------------------------------------------------
# Command line

def add_jobs_argument(parser):
    # Much of a session is spent waiting for Wine's processes to start, so
    # more sessions than cores still shortens a run.
    parser.add_argument("--jobs", type=int, default=DEFAULT_JOBS,
                        help="machines set up and run at a time, each in its own prefix (default: %(default)s)")


def in_parallel(work, items, jobs, cost=lambda item: 0):
    """Yields (item, work(item)) in the items' order, running up to jobs
    of them at a time, the costliest first so that none is left to run alone
    at the end; work must not raise."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        futures = {}
        for index in sorted(range(len(items)), key=lambda i: -cost(items[i])):
            futures[index] = pool.submit(work, items[index])
        for index, item in enumerate(items):
            yield item, futures[index].result()


def run_count(path, arch):
    """How many runs of the exe of arch a machine file asks for (0 when it
    is skipped or cannot be read): the cost of running it."""
    try:
        machine = load(path)
        return 0 if why_skipped(machine, os.path.basename(path), arch) else len(versions(machine))
    except (MachineError, AttributeError, TypeError):
        return 0  # the run itself reports what is wrong with the file


def why_skipped(machine, name, arch):
    """The reason the file gives for not running on arch under Wine: its
    "skip", or its "skipOn" for that architecture (a case that holds for
    the other one alone); None when it gives none."""
    wine = machine.get("wine", {})
    if not isinstance(wine, dict) or set(wine) - {"skip", "skipOn", "versions"}:
        raise MachineError(f"{name}: \"wine\" takes only \"skip\", \"skipOn\" and \"versions\"")
    skip_on = wine.get("skipOn", {})
    if not isinstance(skip_on, dict) or not all(a in ARCHES and isinstance(r, str) and r for a, r in skip_on.items()):
        raise MachineError(f"{name}: \"skipOn\" maps {' or '.join(ARCHES)} to the reason it is not run there")
    if wine.get("skip"):
        return wine["skip"]
    if arch.name in skip_on:
        return f"not on {arch}: {skip_on[arch.name]}"
    return None


def why_not_run(machine, name, arch):
    """("SKIP", details) for a machine that says Wine cannot show it on
    arch, ("FAIL", details) for one that cannot be shown and does not say
    so, None for one to run."""
    skip = why_skipped(machine, name, arch)
    if skip:
        return "SKIP", [f"({skip})"]
    reasons = cannot_express(machine)
    if reasons:
        return "FAIL", ["Wine cannot express this machine; say so in \"wine\": {\"skip\": ...}: " +
                        "; ".join(reasons)]
    return None


def run_file(path, exe, arch, show, args=(), save_stdout=None):
    """Runs one machine file with exe, of arch; returns (status, detail lines)."""
    name = os.path.basename(path)
    machine = load(path)
    not_run = why_not_run(machine, name, arch)
    if not_run:
        return not_run
    run_versions = versions(machine)
    expect = machine.get("expect")
    if expect is None and not show:
        raise MachineError(f"{name}: no \"expect\"")
    details, status = [], "PASS"
    session = Session(arch, machine, run_versions, exe)
    try:
        for version in run_versions:
            stdout, code, stderr = session.run_exe(version, args=args)
            if save_stdout:
                with open(save_stdout, "wb") as f:
                    f.write(stdout)
            if show:
                sys.stdout.buffer.write(stdout)
                sys.stdout.write(f"\nexit code: {code}\n")
                sys.stderr.buffer.write(stderr)
                status = "SHOW"
                continue
            problems = []
            if stderr:
                problems.append(f"Wine or the command wrote to stderr: {stderr[:400]!r}")
            if stdout != expect["stdout"].encode("utf-8") or code != expect["exit"]:
                problems.append(f"got {stdout!r} exit {code}, expected {expect['stdout'].encode()!r} "
                                f"exit {expect['exit']}")
                problems.extend("hint: " + h for h in wine_order_hints(machine))
            if problems:
                status = "FAIL"
                problems.append(session.wine_words())
            details.append(f"[{version}] " + ("; ".join(problems) if problems else "ok"))
    finally:
        session.close()
    return status, details


def main(argv=None):
    parser = argparse.ArgumentParser(description="Run devdrives.exe under Wine on machine files.")
    parser.add_argument("--exe", help="the exe, of either architecture (default: the build's devdrives.exe, or"
                        " devdrives64.exe where Wine runs no 32-bit exe)")
    parser.add_argument("--show", action="store_true",
                        help="print the exe's output and exit code instead of comparing them")
    parser.add_argument("--arg", action="append", default=[], dest="exe_args",
                        help="an argument for the exe (repeatable)")
    parser.add_argument("--save-stdout", metavar="FILE",
                        help="write the exe's raw stdout of the (last) run to FILE")
    add_jobs_argument(parser)
    parser.add_argument("machines", nargs="+", metavar="MACHINE.json")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # so that the servers are stopped
    try:
        exe = args.exe or default_exe()
        if not os.path.isfile(exe):
            raise RuntimeError(f"no exe at {exe}")
        arch = runnable_arch(exe)
        arch.regset()
    except (RuntimeError, subprocess.SubprocessError) as error:
        print(f"wine runner: {error}", file=sys.stderr)
        return 2

    def one(path):
        began = time.monotonic()
        try:
            status, details = run_file(path, exe, arch, args.show, args.exe_args, args.save_stdout)
        except (MachineError, KeyError, TypeError, ValueError, RuntimeError, subprocess.SubprocessError) as error:
            status, details = "FAIL", [f"{type(error).__name__}: {error}"]
        return status, details, time.monotonic() - began

    counts = {"PASS": 0, "FAIL": 0, "SKIP": 0, "SHOW": 0}
    started = time.monotonic()
    # What --show prints comes from the runs themselves, so they run one by one.
    for path, (status, details, seconds) in in_parallel(one, args.machines, 1 if args.show else args.jobs,
                                                        lambda path: run_count(path, arch)):
        counts[status] += 1
        if status != "SHOW":
            print(f"{status} {os.path.basename(path)} {seconds:.1f}s " + " ".join(details), flush=True)
    if not args.show:
        print(f"wine ({arch}): {counts['PASS']} passed, {counts['FAIL']} failed, {counts['SKIP']} skipped "
              f"in {time.monotonic() - started:.0f}s")
    if counts["FAIL"] or (not args.show and counts["PASS"] == 0):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
