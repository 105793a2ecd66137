#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/, one folder per target.

The seeds are the inputs each target's layout expects (see the comment at
the top of every target), built around the bytes that matter here: trail
bytes 0x5C, lone lead bytes, half-width katakana, drive letters, long paths.
Run it again after changing a target's input layout.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))

SJIS_PATHS = [
    b"C:\\Games\\Title\\velk.exe",
    b"C:\\GAMES\\\x82\x60\x82\x61\\A.TXT",
    b"c:\\\x83\x5c\\game.exe",          # a directory name ending in 0x83 0x5C
    b"\x95\x5c\x5c",                    # trail 0x5C, then a real backslash
    b"A\x82",                           # lone lead byte at the end
    b"\xb1\x5c\xdf/\x80A\xa0B\xfdC",    # single bytes above 0x7F
    b"C:/Games/Title/game.exe",
    b"c:\\dir.d\\file",
    b"c:\\a\\archive.tar.gz",
    b"c:\\home\\.profile",
    b"\\\\server\\share\\x",
    b"",
]


def seeds():
    s = {}
    s["sjis"] = [bytes([f, t, c]) + p for f, t, c, p in [
        (0x5C, 0x3A, 0x5C, SJIS_PATHS[2]),
        (0x5C, 0x3A, 0x5C, SJIS_PATHS[3]),
        (0x2F, 0x5C, 0x5C, SJIS_PATHS[6]),
        (0x00, 0x41, 0x82, SJIS_PATHS[4]),
        (0x82, 0x41, 0x41, SJIS_PATHS[1]),
        (0x78, 0x82, 0x78, b"xxAxx"),
        (0x41, 0x00, 0x5C, b"ABA\x00tail after the terminator"),
    ]]
    s["nocase"] = [a + b"\x00" + b for a, b in [
        (b"README.TXT", b".txt"), (b"a", b"longer"), (b"", b""),
        (b"c:\\\x83\x5c", b"\\"), (b"\x82\x60", b"\x82\x81"),
    ]]
    s["file_name"] = SJIS_PATHS + [b"c:\\" + b"n" * 300, b"c:\\dir\\"]
    s["mbcp_path"] = [bytes([7]) + p for p in SJIS_PATHS] + [
        bytes([7]) + b"c:\\" + b"d" * 256 + b"\\x.exe",
        bytes([5]) + b"c:\\x\\" + b"." + b"\x83\x5c" * 130,
        bytes([2]) + b"c:\\a\\b\\c.txt",
    ]
    # op 1: new string, 2: tail (offset byte), 3: itself, 0: null, 4: failing
    s["assign"] = [
        b"\x01hello\x00\x02\x02\x03\x00\x01longer text\x00",
        b"\x00\x01abc\x00\x00\x01abcdef\x00\x04much longer than before\x00",
        b"\x04x\x00\x01\x00\x01y\x00",
    ]

    def listing(flags, cap, ext_count, directory, exts, entries):
        out = bytes([flags, cap, ext_count]) + directory + b"\x00"
        out += bytes([len(exts)]) + b"".join(e + b"\x00" for e in exts)
        for attr, name in entries:
            out += bytes([attr]) + name + b"\x00"
        return out

    files = [(0, b"a.txt"), (1, b"sub.txt"), (0, b"B.TXT"), (0, b"."),
             (0, b".."), (0, b"\x83\x5c.txt"), (0, b"\xb1.TxT"), (0, b"c.bin")]
    s["listing"] = [
        listing(1, 8, 2, b".", [b".txt", b"bin"], files),
        listing(0, 2, 1, b"./Sub/Dir", [b".TXT"], files),
        listing(0, 0, 1, b"..\\x", [b""], files),
        listing(1, 8, 1, b"", [b".txt"], files),
        listing(0, 8, 17, b"C:\\" + b"D" * 250, [b"t"] * 16, files),
        listing(0x0e, 8, 1, b"dir", [b".txt"], files),
    ]
    s["updater_paths"] = [
        bytes([0, len(v), 40]) + v for v in [
            b"C:\\Games\\velkin\\\x00", b"C:\\Games\\velkin\\",
            b"C:\\\x83\x5c\\", b"C:\\Game", b"\x00",
        ]
    ] + [bytes([1, 5, 200]) + b"C:\\" + b"p" * 257,   # 260 bytes, no NUL
         bytes([1, 4, 200]) + b"C:\\" + b"p" * 256 + b"\x00",
         bytes([0, 0, 0])]
    s["sysutil_plain"] = [
        # registry data: type, buffer size, data size, bytes
        b"\x00\x08\x05abcde\x00\x00\x00", b"\x00\x05\x05abcde",
        b"\x00\x05\x05abcd\x00", b"\x00\x00\x00", b"\x00\x05\x04\x01\x02\x03\x04\x05",
        # working directory: mode, target
        b"\x01\x00C:\\Games\\Title\\game.exe", b"\x01\x00C:\\game.exe",
        b"\x01\x00game.exe", b"\x01\x00C:/Games/Title/game.exe",
        b"\x01\x00C:\\\x83\x5c\\game.exe", b"\x01\x01C:\\a\\b.exe",
        b"\x01\xffC:\\a\\b.exe", b"\x01\x00C:\\" + b"d" * 256 + b"\\x.exe",
        # link path: Programs folder, group, name
        b"\x02C:\\Start\\Programs\x00Tools\\Viewer\x00Viewer",
        b"\x02C:\\P\x00\x00name", b"\x02\x00group\x00name",
        b"\x02C:\\" + b"p" * 240 + b"\x00group\x00name",
    ]
    # archive size, head length, replaced length, failing call, mode,
    # update length, fill bytes. In a plain run the calls are: 1 alloc head,
    # 2 open update, 3 read, 4 close, 5 alloc archive, 6 open archive,
    # 7 read, 8 read past the end, 9 close, 10 open for writing, 11-12 write
    # head and tail, 13 flush, 14 commit, 15 close; then the write-back, if
    # any (16-20), and the rescued copy, if any (21 create, 22-25).
    fill = bytes(range(1, 200))
    s["splice"] = [bytes([a, h, r, f, m, u]) + fill for a, h, r, f, m, u in [
        (20, 6, 9, 0, 0, 6), (20, 6, 9, 0, 0, 5), (20, 6, 21, 0, 0, 6),
        (20, 6, 9, 0, 4 | (21 << 3), 6), (20, 6, 9, 10, 0, 6),
        (20, 6, 9, 11, 2, 6), (20, 6, 9, 12, 2, 6), (20, 6, 9, 13, 0, 6),
        (20, 6, 9, 11, 1, 6), (20, 0, 20, 0, 0, 0), (0, 0, 0, 0, 0, 0),
        # The commit of the new archive fails once; a failure that persists
        # on the archive's disk, with the copy's folder on another disk.
        (20, 6, 9, 14, 0, 6), (20, 6, 9, 0x80 | 11, 1, 6), (20, 6, 9, 0x80 | 14, 3, 6),
        # ... and the copy's own disk fails at its write or its close.
        (20, 6, 9, 0x80 | 0x40 | 11, 1, 6), (20, 6, 9, 0x80 | 0x40 | 11, 1, 0x40 | 6),
    ]]
    return s


def main():
    root = os.path.join(HERE, "corpus")
    for target, inputs in seeds().items():
        d = os.path.join(root, target)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        for i, data in enumerate(inputs):
            with open(os.path.join(d, "seed-%02d" % i), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
