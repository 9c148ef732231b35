#!/usr/bin/env python3
"""Checks the shipped RemoteUpdater.exe by reading its PE file.

Usage: check_pe.py <RemoteUpdater.exe> <expected version a.b.c>

Asserts: PE32+ for x86-64, GUI subsystem with the Unicode start-up, Windows 8
(6.2) as the oldest Windows in the header, no window or message loop
imported, only kernel32, advapi32 and the C run-time imported at load time
(other system DLLs are delay-loaded, and the delay-import directory lists
them), the calls that restrict the library search imported, dynamic base,
high-entropy VA and NX, no link timestamp, and the embedded manifest
(asInvoker, uiAccess false) and version resources.
"""
import struct
import sys

# Known DLLs, which Windows never looks for beside the executable.
LOAD_TIME_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
DELAY_LOADED_DLLS = {"shell32.dll", "user32.dll"}
LIBRARY_SEARCH_FUNCTIONS = {"SetDefaultDllDirectories", "SetDllDirectoryW",
                            "SetProcessMitigationPolicy"}
WINDOW_FUNCTIONS = {"CreateWindowExW", "CreateWindowExA", "MessageBoxW", "MessageBoxA",
                    "GetMessageW", "GetMessageA", "DispatchMessageW", "AllocConsole"}
# The oldest Windows it starts on: the library-search restriction is imported
# at load time, and SetDefaultDllDirectories and SetProcessMitigationPolicy
# come with Windows 8.
OLDEST_WINDOWS = (6, 2)
RT_VERSION, RT_MANIFEST = 16, 24

failures = []


def check(condition, message):
    print(("ok    " if condition else "FAIL  ") + message)
    if not condition:
        failures.append(message)


def verdict():
    """The exit status after the checks: 1, with the count, when any failed."""
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.optional = pe + 24
        # PE32+ optional header: magic at 0, image base at 24, versions at 40, subsystem at 68.
        (self.magic, self.image_base, self.os_major, self.os_minor, _, _, self.subsystem_major,
         self.subsystem_minor, self.subsystem, self.dll_characteristics) = struct.unpack_from(
            "<H22xQ8x6H16xHH", data, self.optional)
        directories = self.optional + 112
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = self.optional + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside every section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def rows(self, layout, at):
        """The rows of `layout` from file offset `at`, up to the first that is all zero."""
        while any(row := struct.unpack_from(layout, self.data, at)):
            yield row
            at += struct.calcsize(layout)

    def functions(self, names_rva):
        """The names a lookup table lists, leaving out the imports by ordinal."""
        return [self.cstring((value & 0x7FFFFFFF) + 2)
                for (value,) in self.rows("<Q", self.offset(names_rva)) if not value & (1 << 63)]

    def imports(self):
        """Returns {dll: [function]} for the libraries imported at load time."""
        descriptors = self.rows("<IIIII", self.offset(self.directories[1][0]))
        return {self.cstring(name).lower(): self.functions(lookup or thunks)
                for lookup, _, _, name, thunks in descriptors}

    def delay_import_descriptors(self):
        """Yields the file offsets of the descriptors the delay-import directory
        lists; a table that runs past the directory's size yields nothing more."""
        rva, size = self.directories[13]
        at, end = (self.offset(rva), self.offset(rva) + size) if size else (0, 0)
        while at + 32 <= end and any(self.data[at:at + 32]):
            yield at
            at += 32

    def delay_descriptors_by_shape(self):
        """Yields the file offsets of everything shaped like a descriptor dlltool
        makes: RVA attribute, a library name, both address tables, and nothing
        bound or stamped."""
        for at in range(0, len(self.data) - 32, 4):
            attributes, name, handle, table, names, bound, unload, stamp = struct.unpack_from(
                "<8I", self.data, at)
            if attributes != 1 or bound or unload or stamp or 0 in (name, handle, table, names):
                continue
            try:
                if self.cstring(name).lower().endswith(".dll"):
                    yield at
            except (ValueError, UnicodeDecodeError):
                continue

    def delay_imports(self):
        """Returns {dll: [function]} for the delay-loaded libraries."""
        result = {}
        for at in self.delay_import_descriptors():
            attributes, name, _, _, names = struct.unpack_from("<IIIII", self.data, at)
            # Without the RVA attribute the descriptor holds virtual addresses.
            base = 0 if attributes & 1 else self.image_base
            result[self.cstring(name - base).lower()] = self.functions(names - base)
        return result

    def resources(self):
        """Returns {(type, id): bytes} for the resources in the image."""
        base = self.offset(self.directories[2][0])
        found = {}

        def entries(directory):
            """(id or name, target) for each entry of a resource directory."""
            count = sum(struct.unpack_from("<HH", self.data, directory + 12))
            return struct.iter_unpack("<II", self.data[directory + 16:directory + 16 + 8 * count])

        for type_id, type_target in entries(base):
            for name_id, name_target in entries(base + (type_target & 0x7FFFFFFF)):
                for _, leaf in entries(base + (name_target & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found[(type_id, name_id)] = self.data[start:start + size]
        return found


def main():
    if len(sys.argv) != 3 or sys.argv[1].startswith("-"):
        print("usage: check_pe.py <RemoteUpdater.exe> <version>", file=sys.stderr)
        return 2
    path, version = sys.argv[1], sys.argv[2]
    image = Image(open(path, "rb").read())

    check(image.machine == 0x8664 and image.magic == 0x20B, "PE32+ image for x86-64")
    check(image.subsystem == 2, "GUI subsystem (no console)")
    versions = {"subsystem": (image.subsystem_major, image.subsystem_minor),
                "operating system": (image.os_major, image.os_minor)}
    check(all(version == OLDEST_WINDOWS for version in versions.values()),
          "oldest Windows %d.%d in the header: " % OLDEST_WINDOWS
          + ", ".join(f"{name} {major}.{minor}" for name, (major, minor) in versions.items()))
    check(image.timestamp == 0, "no link timestamp")
    check(image.dll_characteristics & 0x0040, "dynamic base")
    check(image.dll_characteristics & 0x0020, "high-entropy VA")
    check(image.dll_characteristics & 0x0100, "NX compatible")
    check(not image.characteristics & 0x0001, "relocations kept, so the base can move")

    imports = image.imports()
    check(set(imports) <= LOAD_TIME_DLLS,
          "imports at load time only known system DLLs: " + ", ".join(sorted(imports)))
    delayed = image.delay_imports()
    check(delayed and set(delayed) <= DELAY_LOADED_DLLS,
          "delay-loads system DLLs, listed in the delay-import directory: "
          + ", ".join(sorted(delayed)))
    check(set(image.delay_descriptors_by_shape()) == set(image.delay_import_descriptors()),
          "the delay-import directory lists every delay-load descriptor in the image")
    check(LIBRARY_SEARCH_FUNCTIONS <= set(imports.get("kernel32.dll", [])),
          "restricts the library search: " + ", ".join(sorted(LIBRARY_SEARCH_FUNCTIONS)))
    everything = {f for functions in [*imports.values(), *delayed.values()] for f in functions}
    check("__wgetmainargs" in everything and "__getmainargs" not in everything,
          "wide-character start-up (wWinMain)")
    check(not everything & WINDOW_FUNCTIONS, "creates no window, console or message loop")
    check({"CommandLineToArgvW", "RegSetValueExW", "CreateProcessW"} <= everything,
          "calls the platform by its wide names")

    resources = image.resources()
    manifest = resources.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    check('level="asInvoker"' in manifest, "manifest asks for execution level asInvoker")
    check('uiAccess="false"' in manifest, "manifest sets uiAccess false")
    info = resources.get((RT_VERSION, 1), b"").decode("utf-16-le", "replace")
    check("Corvanta Remote" in info, "version resource names the product")
    check(f"{version}.0" in info, f"version resource carries version {version}")
    check("RemoteUpdater.exe" in info, "version resource names the file")

    return verdict()


if __name__ == "__main__":
    sys.exit(main())
