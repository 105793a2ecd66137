#!/usr/bin/env python3
"""Checks the headers, imports and resources of the built Updater.exe.

    check_pe.py --arch i686|x86_64 [--signed] Updater.exe

The file is read with pefile (Debian python3-pefile), which shares nothing
with the tools that produced it. --signed requires an Authenticode
certificate table; without it the table must be absent.

Prints one line per failed check (field, expected, found) and exits 1 when
any fails; exits 0 and prints a one-line summary when all hold.
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_SECURITY = 4
DIRECTORY_BASERELOC = 5
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_FILE_DLL = 0x2000
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100

LANG_JAPANESE_DEFAULT = 0x0411

ARCHES = {
    "i686": {"machine": IMAGE_FILE_MACHINE_I386, "magic": PE32_MAGIC},
    "x86_64": {"machine": IMAGE_FILE_MACHINE_AMD64, "magic": PE32_PLUS_MAGIC},
}

# The program needs these, and may import from nothing but these and the
# few other system DLLs below; any runtime DLL of the compiler (libgcc_s_*,
# libstdc++-6, libwinpthread-1) would have to ship beside it.
REQUIRED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll"}
ALLOWED_DLLS = REQUIRED_DLLS | {"msvcrt.dll", "shell32.dll", "ole32.dll",
                                "gdi32.dll", "comctl32.dll"}
# Names, files and the registry go through byte-string (A) calls only. The
# boxes are shown through UTF-16 (MessageBoxW, the CP932 texts converted by
# MultiByteToWideChar), so that they read the same under every system code
# page; MessageBoxA is the fallback for a text that does not convert.
REQUIRED_IMPORTS = {"user32.dll": {"MessageBoxW", "MessageBoxA"},
                    "kernel32.dll": {"CreateMutexA", "MultiByteToWideChar"},
                    "advapi32.dll": {"RegOpenKeyExA", "RegQueryValueExA"}}
FORBIDDEN_IMPORTS = {"CreateMutexW", "RegOpenKeyExW", "RegQueryValueExW"}

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


def check_headers(pe, arch, fail):
    want = ARCHES[arch]
    machine = pe.FILE_HEADER.Machine
    if machine != want["machine"]:
        fail("Machine", "0x%04x" % want["machine"], "0x%04x" % machine)
    magic = pe.OPTIONAL_HEADER.Magic
    if magic != want["magic"]:
        fail("optional header magic", "0x%x" % want["magic"], "0x%x" % magic)
    if pe.OPTIONAL_HEADER.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        fail("Subsystem", "2 (Windows GUI)", pe.OPTIONAL_HEADER.Subsystem)
    c = pe.FILE_HEADER.Characteristics
    if not c & IMAGE_FILE_EXECUTABLE_IMAGE or c & IMAGE_FILE_DLL:
        fail("Characteristics", "an executable, not a DLL", "0x%04x" % c)
    if not c & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        fail("Characteristics", "LARGE_ADDRESS_AWARE (0x20) set", "0x%04x" % c)
    d = pe.OPTIONAL_HEADER.DllCharacteristics
    for bit, label in ((IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE"),
                       (IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT")):
        if not d & bit:
            fail("DllCharacteristics", "%s (0x%x) set" % (label, bit), "0x%04x" % d)
    # Without relocations the loader cannot move the image, and the
    # DYNAMIC_BASE mark promises an address layout randomisation that
    # does not happen (older linkers left the .reloc section out).
    relocations = directory(pe, DIRECTORY_BASERELOC).Size
    if c & IMAGE_FILE_RELOCS_STRIPPED or relocations == 0:
        fail("base relocations", "present (DYNAMIC_BASE needs them)",
             "none" if relocations == 0 else "stripped")


def check_certificate_table(pe, signed, fail):
    """The Authenticode signature: absent from an unsigned program; in a
    signed one, one WIN_CERTIFICATE of PKCS#7 signed data that ends the
    file. Its address is a file offset, not an RVA, and the signature's
    digest skips the table, so anything after it would go unsigned."""
    table = directory(pe, DIRECTORY_SECURITY)
    if not signed:
        if table.VirtualAddress or table.Size:
            fail("certificate table", "absent (unsigned program)",
                 "%d bytes at 0x%x" % (table.Size, table.VirtualAddress))
        return
    if table.VirtualAddress == 0 or table.Size == 0:
        fail("certificate table", "present (signed program)", "absent")
        return
    data = pe.__data__
    at, size = table.VirtualAddress, table.Size
    if at % 8 != 0 or at + size != len(data):
        fail("certificate table", "8-aligned, ending the file (%d bytes)" % len(data),
             "%d bytes at 0x%x" % (size, at))
        return
    length, revision, kind = struct.unpack_from("<IHH", data, at)
    # The table's size rounds the certificate's own length up to 8 bytes.
    if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA \
            or not length <= size < length + 8:
        fail("WIN_CERTIFICATE", "one, revision 2.0, PKCS#7 signed data, %d bytes" % size,
             "length %d, revision 0x%04x, type %d" % (length, revision, kind))


def check_imports(pe, fail):
    by_dll = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = by_dll.setdefault(entry.dll.decode("ascii", "replace").lower(), set())
        for symbol in entry.imports:
            names.add(symbol.name.decode("ascii", "replace") if symbol.name
                      else "#%d" % symbol.ordinal)
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
    r = single(resources, RT_MANIFEST, 1, fail, "manifest")
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


def check_version(pe, resources, fail):
    r = single(resources, RT_VERSION, 1, fail, "version record")
    if r is None:
        return
    if r["lang"] != LANG_JAPANESE_DEFAULT:
        fail("version resource language", "0x411", r["lang"])
    infos = getattr(pe, "VS_VERSIONINFO", [])
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [])
    if len(infos) != 1 or len(fixed) != 1:
        fail("version record", "well-formed, with a VS_FIXEDFILEINFO",
             "%d records, %d fixed parts read" % (len(infos), len(fixed)))
        return
    if infos[0].Key != b"VS_VERSION_INFO":
        fail("version record key", "VS_VERSION_INFO", infos[0].Key)
    if infos[0].ValueLength != 52:
        fail("VS_FIXEDFILEINFO", "52 bytes", infos[0].ValueLength)
    expected = [
        ("Signature", VS_FFI_SIGNATURE),
        ("FileVersionMS", VERSION_MS), ("FileVersionLS", VERSION_LS),
        ("ProductVersionMS", VERSION_MS), ("ProductVersionLS", VERSION_LS),
        ("FileFlagsMask", VS_FFI_FILEFLAGSMASK), ("FileFlags", 0),
        ("FileOS", VOS_NT_WINDOWS32), ("FileType", VFT_APP), ("FileSubtype", 0),
    ]
    for field, value in expected:
        found = getattr(fixed[0], field)
        if found != value:
            fail("VS_FIXEDFILEINFO.dw" + field, "0x%08x" % value, "0x%08x" % found)

    blocks = {}
    for block in (b for group in getattr(pe, "FileInfo", []) for b in group):
        key = block.Key.decode("ascii", "replace")
        if key in blocks:
            fail("version record", "one %s block" % key, "two")
        blocks[key] = block
    if set(blocks) != {"StringFileInfo", "VarFileInfo"}:
        fail("version record blocks", ["StringFileInfo", "VarFileInfo"], sorted(blocks))

    tables = getattr(blocks.get("StringFileInfo"), "StringTable", [])
    table_keys = [t.LangID.decode("ascii", "replace") for t in tables]
    if table_keys != [VERSION_STRING_BLOCK]:
        fail("StringFileInfo tables", [VERSION_STRING_BLOCK], table_keys)
    for table in tables:
        found = {k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()}
        for name in sorted(set(VERSION_STRINGS) | set(found)):
            if name not in found:
                fail("version string " + name, repr(VERSION_STRINGS[name]), "missing")
            elif name not in VERSION_STRINGS:
                fail("version string " + name, "absent", repr(found[name]))
            elif found[name] != VERSION_STRINGS[name]:
                fail("version string " + name, repr(VERSION_STRINGS[name]), repr(found[name]))

    variables = [v.entry for v in getattr(blocks.get("VarFileInfo"), "Var", [])]
    translations = [e[b"Translation"] for e in variables if b"Translation" in e]
    # pefile gives each language and code page pair as "0xLLLL 0xCCCC".
    want = "0x%04x 0x%04x" % VERSION_TRANSLATION
    if len(variables) != 1 or len(translations) != 1:
        fail("VarFileInfo", "one Translation", [sorted(e) for e in variables])
    elif translations[0] != want:
        fail("VarFileInfo Translation", want, translations[0])


def parse_png_header(image):
    """(width, height, bits per pixel) from a PNG's IHDR, or None when the
    image is not a PNG. Raises ValueError on a PNG it cannot read."""
    if image[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    if len(image) < 26 or image[12:16] != b"IHDR":
        raise ValueError("PNG image without IHDR first")
    width, height, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour_type)
    if channels is None:
        raise ValueError("PNG colour type %d" % colour_type)
    return width, height, depth * channels


def parse_dib_header(image):
    """(width, height of one image, bits per pixel, planes, the byte size that
    a DIB icon image of that shape has: header, colour rows, AND mask).
    Raises ValueError on a header it cannot read."""
    if len(image) < 20:
        raise ValueError("DIB header cut short (%d bytes)" % len(image))
    size, width, double_height, planes, bits, compression = struct.unpack_from(
        "<IiiHHI", image, 0)
    if size < 40:
        raise ValueError("DIB header of %d bytes" % size)
    if compression != 0:
        raise ValueError("compressed DIB (%d) in an icon" % compression)
    height = double_height // 2
    palette = 4 * (1 << bits) if bits <= 8 else 0
    stride = ((width * bits + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    expected = size + palette + stride * height + mask_stride * height
    return width, height, bits, planes, expected


def icon_image_shape(image, fail, label):
    """(size, bits) of one icon image, PNG or DIB, or None after a failure."""
    try:
        png = parse_png_header(image)
        if png is not None:
            width, height, bits = png
            if width != height:
                fail(label, "a square PNG", "%dx%d" % (width, height))
                return None
            return width, bits
        width, height, bits, planes, expected_size = parse_dib_header(image)
    except ValueError as e:
        fail(label, "a readable image", e)
        return None
    if width != height or planes != 1:
        fail(label, "a square DIB with one plane", "%dx%d, %d planes" % (width, height, planes))
        return None
    if len(image) != expected_size:
        fail(label, "%d bytes (header, colours, AND mask)" % expected_size, len(image))
    return width, bits


def check_icon(resources, fail):
    groups = [r for r in resources if r["type"] == RT_GROUP_ICON]
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
        reserved, kind, count = struct.unpack_from("<HHH", blob, 0)
    except struct.error:
        fail("icon group 101", "a GRPICONDIR", "%d bytes" % len(blob))
        return
    if reserved != 0 or kind != 1 or len(blob) != 6 + 14 * count:
        fail("icon group 101 header", "reserved 0, type 1, 14-byte entries",
             "reserved %d, type %d, %d entries in %d bytes" % (reserved, kind, count, len(blob)))
        return
    icons = {(r["name"], r["lang"]): r for r in resources if r["type"] == RT_ICON}
    shapes = []
    for i in range(count):
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
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


def directory(pe, index):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[index]


def entry_id(entry):
    """A resource directory entry's id, or its name for a named entry."""
    return entry.id if entry.name is None else str(entry.name)


def read_resources(pe):
    """Every resource as a dict: type, name, lang (ids, or strings for named
    entries), the bytes, and the file offsets of the data and of the name
    and language directory entries (which the fault tests alter)."""
    def children(entry):
        return entry.directory.entries if hasattr(entry, "directory") else []

    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in root.entries if root else []:
        for name in children(rtype):
            for lang in children(name):
                leaf = lang.data.struct
                offset = pe.get_offset_from_rva(leaf.OffsetToData)
                blob = pe.__data__[offset:offset + leaf.Size]
                if len(blob) != leaf.Size:
                    raise pefile.PEFormatError("resource %r/%r runs past the end of the file"
                                               % (entry_id(rtype), entry_id(name)))
                found.append({"type": entry_id(rtype), "name": entry_id(name),
                              "lang": entry_id(lang), "bytes": bytes(blob), "offset": offset,
                              "name_offset": name.struct.get_file_offset(),
                              "lang_offset": lang.struct.get_file_offset()})
    return found


def load(data):
    """The program parsed by pefile. Raises pefile.PEFormatError when it is
    not a PE file, or when pefile had to skip or guess at any part of it."""
    pe = pefile.PE(data=data)
    warnings = pe.get_warnings()
    if warnings:
        raise pefile.PEFormatError("; ".join(warnings[:3]))
    if directory(pe, DIRECTORY_RESOURCE).Size and not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        raise pefile.PEFormatError("resource directory unreadable")
    return pe


def check(data, arch, signed=False):
    """All failures found in the file, as text lines (empty when it passes)."""
    failures = []

    def fail(field, expected, found):
        failures.append("FAIL %s: expected %s, found %s" % (field, expected, found))

    try:
        pe = load(data)
        check_headers(pe, arch, fail)
        check_certificate_table(pe, signed, fail)
        check_imports(pe, fail)
        resources = read_resources(pe)
    except (pefile.PEFormatError, struct.error) as e:
        fail("PE structure", "readable", e)
        return failures
    check_manifest(resources, fail)
    check_version(pe, resources, fail)
    check_icon(resources, fail)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", choices=sorted(ARCHES), required=True)
    parser.add_argument("--signed", action="store_true",
                        help="require an Authenticode certificate table")
    parser.add_argument("program")
    args = parser.parse_args()
    with open(args.program, "rb") as f:
        data = f.read()
    failures = check(data, args.arch, args.signed)
    for line in failures:
        print(line)
    if failures:
        print("%s: %d check(s) failed" % (args.program, len(failures)))
        return 1
    print("%s: headers, %s, imports, manifest, version record and icon as expected"
          % (args.program, "certificate table" if args.signed else "no certificate table"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
