"""A small reader for the parts of a PE file that the shipped program's
checks look at: the file and optional headers, the import directory and the
resource tree. Standard library only, written from the published PE layout,
so it shares nothing with the tools that produced the file.

Every reader raises PeError on a malformed file rather than guessing.
"""
import struct

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


class PeError(Exception):
    pass


def _unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PeError("read of %d bytes at 0x%x runs past the end (%d bytes)"
                      % (size, offset, len(data)))
    return struct.unpack_from(fmt, data, offset)


def parse_headers(data):
    """The fields of the DOS, file and optional headers the checks need,
    plus the section table and the data directories.

    Returns a dict; offsets of the fields that the fault tests alter are
    included under keys ending in _offset.
    """
    if data[:2] != b"MZ":
        raise PeError("no MZ signature")
    (pe_offset,) = _unpack("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("no PE signature at 0x%x" % pe_offset)
    coff = pe_offset + 4
    machine, nsections, timestamp, _, _, opt_size, characteristics = _unpack(
        "<HHIIIHH", data, coff)
    opt = coff + 20
    (magic,) = _unpack("<H", data, opt)
    if magic == PE32_MAGIC:
        subsystem_at, dirs_at = opt + 68, opt + 96
    elif magic == PE32_PLUS_MAGIC:
        subsystem_at, dirs_at = opt + 68, opt + 112
    else:
        raise PeError("unknown optional header magic 0x%x" % magic)
    subsystem, dll_characteristics = _unpack("<HH", data, subsystem_at)
    (ndirs,) = _unpack("<I", data, dirs_at - 4)
    directories = [_unpack("<II", data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
    sections = []
    table = opt + opt_size
    for i in range(nsections):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, rva, raw_size, raw_ptr = _unpack("<IIII", data, at + 8)
        sections.append({"name": name, "rva": rva, "vsize": vsize,
                         "raw_size": raw_size, "raw_ptr": raw_ptr})
    return {
        "machine": machine, "machine_offset": coff,
        "timestamp": timestamp, "timestamp_offset": coff + 4,
        "characteristics": characteristics, "characteristics_offset": coff + 18,
        "magic": magic,
        "subsystem": subsystem, "subsystem_offset": subsystem_at,
        "dll_characteristics": dll_characteristics,
        "dll_characteristics_offset": subsystem_at + 2,
        "directories": directories,
        "directories_offset": dirs_at,
        "sections": sections,
    }


def rva_to_offset(headers, rva):
    for s in headers["sections"]:
        if s["rva"] <= rva < s["rva"] + max(s["vsize"], s["raw_size"]):
            delta = rva - s["rva"]
            if delta >= s["raw_size"]:
                raise PeError("RVA 0x%x lies in the uninitialised part of %s"
                              % (rva, s["name"]))
            return s["raw_ptr"] + delta
    raise PeError("RVA 0x%x is in no section" % rva)


def _c_string(data, offset):
    end = data.find(b"\0", offset)
    if end < 0:
        raise PeError("unterminated string at 0x%x" % offset)
    return data[offset:end]


def parse_imports(data, headers):
    """{dll name as stored: [imported names or '#ordinal']}."""
    rva, size = headers["directories"][1]
    imports = {}
    if rva == 0 or size == 0:
        return imports
    at = rva_to_offset(headers, rva)
    wide = headers["magic"] == PE32_PLUS_MAGIC
    thunk_fmt, ordinal_flag = ("<Q", 1 << 63) if wide else ("<I", 1 << 31)
    thunk_size = 8 if wide else 4
    while True:
        lookup, _, _, name_rva, first_thunk = _unpack("<IIIII", data, at)
        if lookup == 0 and name_rva == 0 and first_thunk == 0:
            break
        dll = _c_string(data, rva_to_offset(headers, name_rva)).decode("ascii", "replace")
        names = []
        thunk = rva_to_offset(headers, lookup or first_thunk)
        while True:
            (entry,) = _unpack(thunk_fmt, data, thunk)
            if entry == 0:
                break
            if entry & ordinal_flag:
                names.append("#%d" % (entry & 0xFFFF))
            else:
                hint_name = rva_to_offset(headers, entry & 0x7FFFFFFF)
                names.append(_c_string(data, hint_name + 2).decode("ascii", "replace"))
            thunk += thunk_size
        imports[dll] = names
        at += 20
    return imports


def _read_resource_name(data, base, field):
    if field & 0x80000000:
        at = base + (field & 0x7FFFFFFF)
        (length,) = _unpack("<H", data, at)
        return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
    return field


def parse_resources(data, headers):
    """Every resource as a list of dicts: type, name, lang (ids, or strings
    for named entries), the bytes, and the file offsets of the data, of the
    name entry's id and of the language entry's id."""
    rva, size = headers["directories"][2]
    if rva == 0 or size == 0:
        return []
    base = rva_to_offset(headers, rva)
    found = []

    def entries(table_offset):
        _, _, _, _, named, ids = _unpack("<IIHHHH", data, table_offset)
        for i in range(named + ids):
            at = table_offset + 16 + 8 * i
            name_field, target = _unpack("<II", data, at)
            yield at, _read_resource_name(data, base, name_field), target

    seen = set()

    def subdirectory(target):
        if not target & 0x80000000:
            raise PeError("resource tree: a leaf where a directory belongs")
        at = base + (target & 0x7FFFFFFF)
        if at in seen:
            raise PeError("resource tree: a loop at 0x%x" % at)
        seen.add(at)
        return at

    for _, rtype, type_target in entries(base):
        for name_at, name, name_target in entries(subdirectory(type_target)):
            for lang_at, lang, leaf in entries(subdirectory(name_target)):
                if leaf & 0x80000000:
                    raise PeError("resource tree deeper than type/name/language")
                data_rva, data_size, _, _ = _unpack("<IIII", data, base + leaf)
                offset = rva_to_offset(headers, data_rva)
                if offset + data_size > len(data):
                    raise PeError("resource %r/%r runs past the end of the file"
                                  % (rtype, name))
                found.append({"type": rtype, "name": name, "lang": lang,
                              "bytes": data[offset:offset + data_size],
                              "offset": offset,
                              "name_offset": name_at, "lang_offset": lang_at})
    return found


def _align4(n):
    return (n + 3) & ~3


def parse_version_node(blob, offset=0):
    """One node of a version record: (key, value, children, end offset).

    value is the raw value bytes (wValueLength counts words for text nodes,
    bytes for binary ones); children are nodes in order.
    """
    length, value_length, value_type = _unpack("<HHH", blob, offset)
    if length < 6 or offset + length > len(blob):
        raise PeError("version node at 0x%x has a bad length %d" % (offset, length))
    end = offset + length
    at = offset + 6
    key_end = at
    while True:
        if key_end + 2 > end:
            raise PeError("version node key at 0x%x is unterminated" % offset)
        if blob[key_end:key_end + 2] == b"\0\0":
            break
        key_end += 2
    key = blob[at:key_end].decode("utf-16-le")
    at = _align4(key_end + 2)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    if at + value_bytes > end:
        raise PeError("version node %r: value runs past its node" % key)
    value = blob[at:at + value_bytes]
    at = _align4(at + value_bytes)
    children = []
    while at < end:
        child = parse_version_node(blob, at)
        children.append(child)
        at = _align4(child[3])
    return key, value, children, end


def version_text(value):
    """A text value of a version record: UTF-16, ending at its terminator
    when it has one."""
    text = value.decode("utf-16-le")
    return text.split("\0", 1)[0]


def parse_png_header(image):
    """(width, height, bits per pixel) from a PNG's IHDR, or None when the
    image is not a PNG."""
    if image[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    if image[12:16] != b"IHDR":
        raise PeError("PNG image without IHDR first")
    width, height, depth, colour_type = _unpack(">IIBB", image, 16)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour_type)
    if channels is None:
        raise PeError("PNG colour type %d" % colour_type)
    return width, height, depth * channels


def parse_dib_header(image):
    """(width, height of one image, bits per pixel, the byte size that a DIB
    icon image of that shape has: header, colour rows, AND mask)."""
    size, width, double_height, planes, bits, compression = _unpack("<IiiHHI", image, 0)
    if size < 40:
        raise PeError("DIB header of %d bytes" % size)
    if compression != 0:
        raise PeError("compressed DIB (%d) in an icon" % compression)
    height = double_height // 2
    palette = 4 * (1 << bits) if bits <= 8 else 0
    stride = ((width * bits + 31) // 32) * 4
    mask_stride = ((width + 31) // 32) * 4
    expected = size + palette + stride * height + mask_stride * height
    return width, height, bits, planes, expected
