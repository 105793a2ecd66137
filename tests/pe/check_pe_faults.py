#!/usr/bin/env python3
"""Shows that check_pe.py catches each kind of fault it exists for: a good
program passes, and a copy of it with one field altered fails, naming that
field.

    check_pe_faults.py --arch i686|x86_64 [--signed] Updater.exe

With --signed the program must be signed, and the faults of its
certificate table are tried too.
"""
import argparse
import struct
import sys
import unittest

import check_pe
from check_pe import RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION

PROGRAM = None
ARCH = None
SIGNED = False


def replace_in(data, start, end, old, new):
    """data with the single occurrence of old inside [start, end) replaced by
    new, of the same length."""
    assert len(old) == len(new), (old, new)
    window = bytes(data[start:end])
    at = window.find(old)
    assert at >= 0, "%r not found" % old
    assert window.find(old, at + 1) < 0, "%r found twice" % old
    out = bytearray(data)
    out[start + at:start + at + len(old)] = new
    return bytes(out)


def resource(data, rtype, name=None):
    for r in check_pe.read_resources(check_pe.load(data)):
        if r["type"] == rtype and (name is None or r["name"] == name):
            return r
    raise AssertionError("no resource %r/%r" % (rtype, name))


def in_resource(rtype, old, new, name=None):
    def mutate(data):
        r = resource(data, rtype, name)
        return replace_in(data, r["offset"], r["offset"] + len(r["bytes"]), old, new)
    return mutate


def in_manifest(old, new):
    """Rewrites the manifest text, its indentation dropped to make room and
    trailing blanks (allowed after the root element) added so that the
    resource keeps its length."""
    def mutate(data):
        r = resource(data, RT_MANIFEST)
        text = r["bytes"]
        assert text.count(old) == 1, old
        lines = text.replace(old, new).split(b"\n")
        changed = b"\n".join(line.strip() for line in lines).rstrip()
        assert len(changed) <= len(text), "no room for the change"
        changed += b" " * (len(text) - len(changed))
        out = bytearray(data)
        out[r["offset"]:r["offset"] + len(text)] = changed
        return bytes(out)
    return mutate


def header_word(header, field, change):
    """Applies change to a 16-bit field of the file or optional header."""
    def mutate(data):
        at = getattr(check_pe.load(data), header).get_field_absolute_offset(field)
        (value,) = struct.unpack_from("<H", data, at)
        out = bytearray(data)
        struct.pack_into("<H", out, at, change(value))
        return bytes(out)
    return mutate


def directory_entry(index, change):
    """Sets the data directory entry index to change(address, size)."""
    def mutate(data):
        entry = check_pe.directory(check_pe.load(data), index)
        out = bytearray(data)
        struct.pack_into("<II", out, entry.get_file_offset(),
                         *change(entry.VirtualAddress, entry.Size))
        return bytes(out)
    return mutate


def certificate_word(offset, value):
    """Sets the 16-bit field at offset in the WIN_CERTIFICATE header."""
    def mutate(data):
        at = check_pe.directory(check_pe.load(data), check_pe.DIRECTORY_SECURITY).VirtualAddress
        out = bytearray(data)
        struct.pack_into("<H", out, at + offset, value)
        return bytes(out)
    return mutate


def appended(data):
    """Bytes added after the signature, where its digest does not reach."""
    return data + b"\0" * 8


def fixed_info_field(index, value):
    """Sets DWORD index of VS_FIXEDFILEINFO (0 is the signature)."""
    def mutate(data):
        r = resource(data, RT_VERSION)
        at = r["bytes"].find(struct.pack("<I", check_pe.VS_FFI_SIGNATURE))
        assert at >= 0
        out = bytearray(data)
        struct.pack_into("<I", out, r["offset"] + at + 4 * index, value)
        return bytes(out)
    return mutate


def resource_id(rtype, which, value, name=None):
    """Sets the name ('name') or language ('lang') id of a resource entry."""
    def mutate(data):
        r = resource(data, rtype, name)
        out = bytearray(data)
        struct.pack_into("<I", out, r[which + "_offset"], value)
        return bytes(out)
    return mutate


def group_entry_bits(size, bits):
    """Sets wBitCount of the icon group's entry for the size x size image."""
    def mutate(data):
        r = resource(data, RT_GROUP_ICON)
        blob = r["bytes"]
        (count,) = struct.unpack_from("<H", blob, 4)
        for i in range(count):
            at = 6 + 14 * i
            if (blob[at] or 256) == size:
                out = bytearray(data)
                struct.pack_into("<H", out, r["offset"] + at + 6, bits)
                return bytes(out)
        raise AssertionError("no %d entry" % size)
    return mutate


def icon_image(size, change):
    """Applies change(bytearray image) to the RT_ICON image of that size."""
    def mutate(data):
        group = resource(data, RT_GROUP_ICON)["bytes"]
        (count,) = struct.unpack_from("<H", group, 4)
        for i in range(count):
            at = 6 + 14 * i
            if (group[at] or 256) == size:
                (image_id,) = struct.unpack_from("<H", group, at + 12)
                r = resource(data, RT_ICON, image_id)
                image = bytearray(r["bytes"])
                change(image)
                out = bytearray(data)
                out[r["offset"]:r["offset"] + len(image)] = image
                return bytes(out)
        raise AssertionError("no %d image" % size)
    return mutate


def set_dib_bits(bits):
    def change(image):
        struct.pack_into("<H", image, 14, bits)
    return change


def set_png_colour_type(colour_type):
    def change(image):
        image[25] = colour_type
    return change


def in_imports(old, new):
    def mutate(data):
        pe = check_pe.load(data)
        rva = check_pe.directory(pe, check_pe.DIRECTORY_IMPORT).VirtualAddress
        # Names live after the descriptors, within the same section.
        section = pe.get_section_by_rva(rva)
        assert section is not None, "import section not found"
        start = section.PointerToRawData
        return replace_in(data, start, start + section.SizeOfRawData, old, new)
    return mutate


def u16(text):
    return text.encode("utf-16-le")


JAPANESE = check_pe.LANG_JAPANESE_DEFAULT
US_ENGLISH = 0x0409

# (what is wrong, how to make it so, text that the failure line must hold)
FAULTS = [
    ("not large-address-aware",
     header_word("FILE_HEADER", "Characteristics", lambda v: v & ~check_pe.IMAGE_FILE_LARGE_ADDRESS_AWARE),
     "LARGE_ADDRESS_AWARE"),
    ("a console program", header_word("OPTIONAL_HEADER", "Subsystem", lambda v: 3), "Subsystem"),
    ("no ASLR", header_word("OPTIONAL_HEADER", "DllCharacteristics",
                            lambda v: v & ~check_pe.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE),
     "DYNAMIC_BASE"),
    ("no DEP", header_word("OPTIONAL_HEADER", "DllCharacteristics",
                           lambda v: v & ~check_pe.IMAGE_DLLCHARACTERISTICS_NX_COMPAT),
     "NX_COMPAT"),
    ("wrong machine", header_word("FILE_HEADER", "Machine", lambda v: 0x01C4), "Machine"),
    # As a linker that leaves .reloc out of an executable does.
    ("no base relocations",
     directory_entry(check_pe.DIRECTORY_BASERELOC, lambda rva, size: (0, 0)),
     "base relocations"),
    ("a compiler runtime DLL imported", in_imports(b"USER32.dll", b"libgcc.dll"),
     "found libgcc.dll"),
    ("boxes in the system's code page only", in_imports(b"MessageBoxW\0", b"MessageBoxX\0"),
     "expected MessageBoxW, found missing"),
    ("a wide registry call", in_imports(b"RegOpenKeyExA\0", b"RegOpenKeyExW\0"),
     "found RegOpenKeyExW"),
    ("uiAccess requested", in_manifest(b'level="highestAvailable"',
                                       b'level="highestAvailable" uiAccess="false"'),
     "requestedExecutionLevel attributes"),
    ("administrator required", in_manifest(b'"highestAvailable"', b'"requireAdministrator"'),
     "requestedExecutionLevel attributes"),
    ("wrong public key token", in_manifest(b"6595b64144ccf1df", b"6595b64144ccf1de"),
     "common-controls dependency"),
    ("wrong assembly name", in_manifest(b'"orvupd.exe"', b'"orvupd2.exe"'),
     "manifest assemblyIdentity attributes"),
    ("manifest not XML", in_manifest(b"</assembly>", b"</assembly"), "well-formed XML"),
    ("file version 0.475.0.1", fixed_info_field(3, 1), "dwFileVersionLS"),
    ("product version 0.476", fixed_info_field(4, 476), "dwProductVersionMS"),
    ("debug build flag", fixed_info_field(7, 1), "dwFileFlags:"),
    ("16-bit Windows OS", fixed_info_field(8, 0x4), "dwFileOS"),
    ("a DLL file type", fixed_info_field(9, 2), "dwFileType"),
    ("internal name", in_resource(RT_VERSION, u16("ORVUpdater"), u16("ORVUpdatex")),
     "version string InternalName: expected 'ORVUpdater'"),
    ("version string renamed", in_resource(RT_VERSION, u16("Comments"), u16("Commentz")),
     "version string Comments: expected '', found missing"),
    ("US English string table", in_resource(RT_VERSION, u16("041104b0"), u16("040904b0")),
     "StringFileInfo tables"),
    ("US English translation",
     in_resource(RT_VERSION, struct.pack("<HH", JAPANESE, 1200),
                 struct.pack("<HH", US_ENGLISH, 1200)),
     "VarFileInfo Translation"),
    ("version record in US English",
     resource_id(RT_VERSION, "lang", US_ENGLISH), "version resource language"),
    ("icon group in US English",
     resource_id(RT_GROUP_ICON, "lang", US_ENGLISH), "icon group 101 language"),
    ("icon group id 102", resource_id(RT_GROUP_ICON, "name", 102), "icon groups"),
    ("manifest id 2", resource_id(RT_MANIFEST, "name", 2), "manifest resource id"),
    ("16x16 listed at 24 bits", group_entry_bits(16, 24), "icon group 101 images"),
    ("48x48 image at 32 bits", icon_image(48, set_dib_bits(32)), "as the group says"),
    ("256x256 image with alpha", icon_image(256, set_png_colour_type(6)),
     "256x256 at 24 bits (as the group says), found 256x256 at 32 bits"),
    ("32x32 image not square", icon_image(32, lambda image: image.__setitem__(
        slice(4, 8), struct.pack("<i", 33))), "icon group 101 entry"),
]

# The same for the certificate table of a signed program.
SIGNED_FAULTS = [
    ("signature dropped from the directory",
     directory_entry(check_pe.DIRECTORY_SECURITY, lambda at, size: (0, 0)),
     "certificate table: expected present"),
    ("bytes after the signature", appended, "ending the file"),
    ("table not 8-aligned",
     directory_entry(check_pe.DIRECTORY_SECURITY, lambda at, size: (at + 4, size - 4)),
     "8-aligned"),
    ("X.509 certificate type", certificate_word(6, 0x0001), "WIN_CERTIFICATE"),
    ("revision 1.0", certificate_word(4, 0x0100), "WIN_CERTIFICATE"),
]


class CheckerCatchesFaults(unittest.TestCase):
    def setUp(self):
        with open(PROGRAM, "rb") as f:
            self.data = f.read()

    def test_good_program_passes(self):
        self.assertEqual(check_pe.check(self.data, ARCH, SIGNED), [])

    def test_signedness_is_checked_both_ways(self):
        failures = check_pe.check(self.data, ARCH, not SIGNED)
        self.assertTrue(any("certificate table" in line for line in failures), failures)

    def test_each_fault_fails_naming_the_field(self):
        for what, mutate, expected in FAULTS + (SIGNED_FAULTS if SIGNED else []):
            with self.subTest(fault=what):
                altered = mutate(self.data)
                self.assertNotEqual(altered, self.data, "the alteration changed nothing")
                failures = check_pe.check(altered, ARCH, SIGNED)
                self.assertTrue(any(expected in line for line in failures),
                                "no failure mentions %r; got %r" % (expected, failures))

    def test_truncated_file_is_reported_not_crashed(self):
        pe = check_pe.load(self.data)
        rsrc_rva = check_pe.directory(pe, check_pe.DIRECTORY_RESOURCE).VirtualAddress
        cut = self.data[:pe.get_offset_from_rva(rsrc_rva) + 8]
        failures = check_pe.check(cut, ARCH, SIGNED)
        self.assertTrue(any("PE structure" in line for line in failures), failures)


def main():
    global PROGRAM, ARCH, SIGNED
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=sorted(check_pe.ARCHES), required=True)
    parser.add_argument("--signed", action="store_true")
    parser.add_argument("program")
    args = parser.parse_args()
    PROGRAM, ARCH, SIGNED = args.program, args.arch, args.signed
    unittest.main(argv=[sys.argv[0], "-v"])


if __name__ == "__main__":
    main()
