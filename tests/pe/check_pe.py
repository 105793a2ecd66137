#!/usr/bin/env python3
"""Checks the headers, imports and resources of the built Updater.exe.

    check_pe.py --arch i686|x86_64 Updater.exe

Prints one line per failed check (field, expected, found) and exits 1 when
any fails; exits 0 and prints a one-line summary when all hold.
"""
import argparse
import sys
import xml.etree.ElementTree as ET

import pe_reader as pe

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_FILE_DLL = 0x2000
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100

LANG_JAPANESE_DEFAULT = 0x0411

ARCHES = {
    "i686": {"machine": pe.IMAGE_FILE_MACHINE_I386, "magic": pe.PE32_MAGIC},
    "x86_64": {"machine": pe.IMAGE_FILE_MACHINE_AMD64, "magic": pe.PE32_PLUS_MAGIC},
}

# The program needs these, and may import from nothing but these and the
# few other system DLLs below; any runtime DLL of the compiler (libgcc_s_*,
# libstdc++-6, libwinpthread-1) would have to ship beside it.
REQUIRED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll"}
ALLOWED_DLLS = REQUIRED_DLLS | {"msvcrt.dll", "shell32.dll", "ole32.dll",
                                "gdi32.dll", "comctl32.dll"}
# The program speaks through byte-string (A) calls only.
REQUIRED_IMPORTS = {"user32.dll": {"MessageBoxA"},
                    "kernel32.dll": {"CreateMutexA"},
                    "advapi32.dll": {"RegOpenKeyExA", "RegQueryValueExA"}}
FORBIDDEN_IMPORTS = {"MessageBoxW", "CreateMutexW", "RegOpenKeyExW", "RegQueryValueExW"}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
# Windows reads the trust section in either namespace.
TRUST_NAMESPACES = ("{urn:schemas-microsoft-com:asm.v3}", "{urn:schemas-microsoft-com:asm.v2}")
MANIFEST_IDENTITY = {"name": "orvupd.exe", "version": "1.0.0.0",
                     "processorArchitecture": "*", "type": "win32"}
MANIFEST_COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                            "version": "6.0.0.0", "processorArchitecture": "*",
                            "publicKeyToken": "6595b64144ccf1df", "language": "*"}
MANIFEST_EXECUTION_LEVEL = {"level": "highestAvailable"}

VS_FFI_SIGNATURE = 0xFEEF04BD
VERSION_MS = (0 << 16) | 475
VERSION_LS = (0 << 16) | 0
VS_FFI_FILEFLAGSMASK = 0x3F
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1
VERSION_STRING_BLOCK = "041104b0"
VERSION_STRINGS = {
    "Comments": "",
    "CompanyName": "",
    "FileDescription": "ORVEX Updater",
    "FileVersion": "0, 475, 0, 0",
    "InternalName": "ORVUpdater",
    "LegalCopyright": "",
    "LegalTrademarks": "",
    "OriginalFilename": "Updater.exe",
    "PrivateBuild": "",
    "ProductName": "ORVEX Updater",
    "ProductVersion": "0, 475, 0, 0",
    "SpecialBuild": "",
}
VERSION_TRANSLATION = (0x0411, 1200)

ICON_GROUP_ID = 101
# (width and height, bits per pixel)
ICON_IMAGES = sorted([(256, 24), (48, 24), (32, 24), (16, 32)])


def check_headers(h, arch, fail):
    want = ARCHES[arch]
    if h["machine"] != want["machine"]:
        fail("Machine", "0x%04x" % want["machine"], "0x%04x" % h["machine"])
    if h["magic"] != want["magic"]:
        fail("optional header magic", "0x%x" % want["magic"], "0x%x" % h["magic"])
    if h["subsystem"] != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        fail("Subsystem", "2 (Windows GUI)", h["subsystem"])
    c = h["characteristics"]
    if not c & IMAGE_FILE_EXECUTABLE_IMAGE or c & IMAGE_FILE_DLL:
        fail("Characteristics", "an executable, not a DLL", "0x%04x" % c)
    if not c & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        fail("Characteristics", "LARGE_ADDRESS_AWARE (0x20) set", "0x%04x" % c)
    d = h["dll_characteristics"]
    for bit, label in ((IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE"),
                       (IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT")):
        if not d & bit:
            fail("DllCharacteristics", "%s (0x%x) set" % (label, bit), "0x%04x" % d)
    # Without relocations the loader cannot move the image, and the
    # DYNAMIC_BASE mark promises an address layout randomisation that
    # does not happen (older linkers left the .reloc section out).
    if c & IMAGE_FILE_RELOCS_STRIPPED or h["directories"][5][1] == 0:
        fail("base relocations", "present (DYNAMIC_BASE needs them)",
             "none" if h["directories"][5][1] == 0 else "stripped")


def check_imports(imports, fail):
    by_dll = {}
    for dll, names in imports.items():
        by_dll.setdefault(dll.lower(), set()).update(names)
    for dll in sorted(by_dll):
        if dll not in ALLOWED_DLLS:
            fail("imported DLL", "only " + ", ".join(sorted(ALLOWED_DLLS)), dll)
    for dll in sorted(REQUIRED_DLLS - set(by_dll)):
        fail("imported DLL", dll, "not imported")
    for dll, names in sorted(REQUIRED_IMPORTS.items()):
        for name in sorted(names - by_dll.get(dll, set())):
            fail("import from " + dll, name, "missing")
    for dll, names in sorted(by_dll.items()):
        for name in sorted(names & FORBIDDEN_IMPORTS):
            fail("import from " + dll, "byte-string calls only", name)


def single(resources, rtype, resource_id, fail, label):
    """The one resource of rtype, or None after reporting why not. A wrong
    id is reported but the resource is still returned for its content."""
    matches = [r for r in resources if r["type"] == rtype]
    if len(matches) != 1:
        fail(label, "exactly one resource", "%d: %s" % (
            len(matches), [(r["name"], hex(r["lang"]) if isinstance(r["lang"], int)
                            else r["lang"]) for r in matches]))
        return None
    if matches[0]["name"] != resource_id:
        fail(label + " resource id", resource_id, matches[0]["name"])
    return matches[0]


def check_attributes(element, expected, label, fail):
    if element is None:
        fail(label, "present", "missing")
        return
    if element.attrib != expected:
        fail(label + " attributes", expected, dict(element.attrib))


def check_manifest(resources, fail):
    r = single(resources, pe.RT_MANIFEST, 1, fail, "manifest")
    if r is None:
        return
    try:
        root = ET.fromstring(r["bytes"])
    except ET.ParseError as e:
        fail("manifest", "well-formed XML", e)
        return
    if root.tag != ASM_V1 + "assembly":
        fail("manifest root", ASM_V1 + "assembly", root.tag)
        return
    if root.attrib != {"manifestVersion": "1.0"}:
        fail("manifest root attributes", {"manifestVersion": "1.0"}, dict(root.attrib))

    identities = root.findall(ASM_V1 + "assemblyIdentity")
    if len(identities) != 1:
        fail("manifest assemblyIdentity", "exactly one", len(identities))
    else:
        check_attributes(identities[0], MANIFEST_IDENTITY, "manifest assemblyIdentity", fail)

    dependencies = root.findall(ASM_V1 + "dependency")
    dependent = root.findall("%sdependency/%sdependentAssembly/%sassemblyIdentity"
                             % (ASM_V1, ASM_V1, ASM_V1))
    if len(dependencies) != 1 or len(dependent) != 1:
        fail("manifest dependencies", "exactly one (common controls 6)",
             "%d dependency elements, %d identities" % (len(dependencies), len(dependent)))
    else:
        check_attributes(dependent[0], MANIFEST_COMMON_CONTROLS,
                         "manifest common-controls dependency", fail)

    levels = []
    trusts = 0
    for ns in TRUST_NAMESPACES:
        trusts += len(root.findall(ns + "trustInfo"))
        levels += root.findall("%strustInfo/%ssecurity/%srequestedPrivileges/"
                               "%srequestedExecutionLevel" % (ns, ns, ns, ns))
    if trusts != 1 or len(levels) != 1:
        fail("manifest requestedExecutionLevel", "exactly one, in one trustInfo",
             "%d in %d trustInfo" % (len(levels), trusts))
    else:
        check_attributes(levels[0], MANIFEST_EXECUTION_LEVEL,
                         "manifest requestedExecutionLevel", fail)


def check_version(resources, fail):
    r = single(resources, pe.RT_VERSION, 1, fail, "version record")
    if r is None:
        return
    if r["lang"] != LANG_JAPANESE_DEFAULT:
        fail("version resource language", "0x411", r["lang"])
    try:
        key, fixed, children, _ = pe.parse_version_node(r["bytes"])
    except pe.PeError as e:
        fail("version record", "well-formed", e)
        return
    if key != "VS_VERSION_INFO":
        fail("version record key", "VS_VERSION_INFO", key)
    if len(fixed) != 52:
        fail("VS_FIXEDFILEINFO", "52 bytes", len(fixed))
    else:
        fields = pe.struct.unpack("<13I", fixed)
        expected = [
            ("dwSignature", 0, VS_FFI_SIGNATURE),
            ("dwFileVersionMS", 2, VERSION_MS), ("dwFileVersionLS", 3, VERSION_LS),
            ("dwProductVersionMS", 4, VERSION_MS), ("dwProductVersionLS", 5, VERSION_LS),
            ("dwFileFlagsMask", 6, VS_FFI_FILEFLAGSMASK), ("dwFileFlags", 7, 0),
            ("dwFileOS", 8, VOS_NT_WINDOWS32), ("dwFileType", 9, VFT_APP),
            ("dwFileSubtype", 10, 0),
        ]
        for label, index, value in expected:
            if fields[index] != value:
                fail("VS_FIXEDFILEINFO." + label, "0x%08x" % value, "0x%08x" % fields[index])

    blocks = {}
    for child_key, _, grand, _ in children:
        if child_key in blocks:
            fail("version record", "one %s block" % child_key, "two")
        blocks[child_key] = grand
    if set(blocks) != {"StringFileInfo", "VarFileInfo"}:
        fail("version record blocks", ["StringFileInfo", "VarFileInfo"], sorted(blocks))

    tables = blocks.get("StringFileInfo", [])
    if [t[0] for t in tables] != [VERSION_STRING_BLOCK]:
        fail("StringFileInfo tables", [VERSION_STRING_BLOCK], [t[0] for t in tables])
    for table_key, _, strings, _ in tables:
        found = {}
        for name, value, _, _ in strings:
            found[name] = pe.version_text(value)
        for name in sorted(set(VERSION_STRINGS) | set(found)):
            if name not in found:
                fail("version string " + name, repr(VERSION_STRINGS[name]), "missing")
            elif name not in VERSION_STRINGS:
                fail("version string " + name, "absent", repr(found[name]))
            elif found[name] != VERSION_STRINGS[name]:
                fail("version string " + name, repr(VERSION_STRINGS[name]), repr(found[name]))

    variables = blocks.get("VarFileInfo", [])
    translations = [value for name, value, _, _ in variables if name == "Translation"]
    if len(variables) != 1 or len(translations) != 1:
        fail("VarFileInfo", "one Translation", [v[0] for v in variables])
    elif translations[0] != pe.struct.pack("<HH", *VERSION_TRANSLATION):
        fail("VarFileInfo Translation", "0x411, 1200", translations[0].hex())


def icon_image_shape(image, fail, label):
    """(size, bits) of one icon image, PNG or DIB, or None after a failure."""
    try:
        png = pe.parse_png_header(image)
        if png is not None:
            width, height, bits = png
            if width != height:
                fail(label, "a square PNG", "%dx%d" % (width, height))
                return None
            return width, bits
        width, height, bits, planes, expected_size = pe.parse_dib_header(image)
    except pe.PeError as e:
        fail(label, "a readable image", e)
        return None
    if width != height or planes != 1:
        fail(label, "a square DIB with one plane", "%dx%d, %d planes" % (width, height, planes))
        return None
    if len(image) != expected_size:
        fail(label, "%d bytes (header, colours, AND mask)" % expected_size, len(image))
    return width, bits


def check_icon(resources, fail):
    groups = [r for r in resources if r["type"] == pe.RT_GROUP_ICON]
    wanted = [r for r in groups if r["name"] == ICON_GROUP_ID]
    if len(groups) != 1 or len(wanted) != 1:
        fail("icon groups", "exactly one, id 101",
             [(r["name"], r["lang"]) for r in groups])
        return
    group = wanted[0]
    if group["lang"] != LANG_JAPANESE_DEFAULT:
        fail("icon group 101 language", "0x411", group["lang"])
    blob = group["bytes"]
    try:
        reserved, kind, count = pe.struct.unpack_from("<HHH", blob, 0)
    except pe.struct.error:
        fail("icon group 101", "a GRPICONDIR", "%d bytes" % len(blob))
        return
    if reserved != 0 or kind != 1 or len(blob) != 6 + 14 * count:
        fail("icon group 101 header", "reserved 0, type 1, 14-byte entries",
             "reserved %d, type %d, %d entries in %d bytes" % (reserved, kind, count, len(blob)))
        return
    icons = {(r["name"], r["lang"]): r for r in resources if r["type"] == pe.RT_ICON}
    shapes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, image_id = pe.struct.unpack_from(
            "<BBBBHHIH", blob, 6 + 14 * i)
        width = width or 256
        height = height or 256
        label = "icon group 101 entry %d (image %d)" % (i, image_id)
        if width != height or colours != 0 or planes != 1:
            fail(label, "square, no palette, one plane",
                 "%dx%d, %d colours, %d planes" % (width, height, colours, planes))
        shapes.append((width, bits))
        image = icons.get((image_id, group["lang"]))
        if image is None:
            fail(label, "an RT_ICON %d of the group's language" % image_id, "missing")
            continue
        if len(image["bytes"]) != size:
            fail(label + " size", size, len(image["bytes"]))
        actual = icon_image_shape(image["bytes"], fail, label + " image")
        if actual is not None and actual != (width, bits):
            fail(label + " image", "%dx%d at %d bits (as the group says)" % (width, width, bits),
                 "%dx%d at %d bits" % (actual[0], actual[0], actual[1]))
    if sorted(shapes) != ICON_IMAGES:
        fail("icon group 101 images", ["%dx%d@%d" % (s, s, b) for s, b in ICON_IMAGES],
             ["%dx%d@%d" % (s, s, b) for s, b in sorted(shapes)])


def check(data, arch):
    """All failures found in the file, as text lines (empty when it passes)."""
    failures = []

    def fail(field, expected, found):
        failures.append("FAIL %s: expected %s, found %s" % (field, expected, found))

    try:
        headers = pe.parse_headers(data)
        check_headers(headers, arch, fail)
        check_imports(pe.parse_imports(data, headers), fail)
        resources = pe.parse_resources(data, headers)
    except pe.PeError as e:
        fail("PE structure", "readable", e)
        return failures
    check_manifest(resources, fail)
    check_version(resources, fail)
    check_icon(resources, fail)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    with open(args.program, "rb") as f:
        data = f.read()
    failures = check(data, args.arch)
    for line in failures:
        print(line)
    if failures:
        print("%s: %d check(s) failed" % (args.program, len(failures)))
        return 1
    print("%s: headers, imports, manifest, version record and icon as expected" % args.program)
    return 0


if __name__ == "__main__":
    sys.exit(main())
