#!/usr/bin/env python3
"""Writes the seed corpora under tests/fuzz/corpus/, one folder per target.

    make_seeds.py SPLICE_FUZZ            writes them
    make_seeds.py --check SPLICE_FUZZ    fails unless tests/fuzz/corpus holds them

The seeds are the inputs each target's layout expects (see the comment at
the top of every target), built around the bytes that matter here: trail
bytes 0x5C, lone lead bytes, half-width katakana, drive letters, long paths.
The splice's seeds fail each call of its runs in turn: SPLICE_FUZZ, the
built splice target, records those runs' calls (SPLICE_FUZZ_CALLS), so the
seeds follow the splice's calls as they are. scripts/fuzz.sh runs the check;
run this again after changing a target's input layout or the splice's calls.
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile

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


def seeds(splice_fuzz):
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
    s["splice"] = splice_seeds(splice_fuzz)
    return s


def splice_seed(failure=0, mode=0, update=6, layout=(20, 6, 9)):
    """archive size, head length, replaced length, failing call, mode,
    update length, fill bytes"""
    return bytes(layout) + bytes([failure, mode, update]) + bytes(range(1, 200))


def splice_calls(splice_fuzz, seed):
    """The calls of one run of the splice target on seed, as
    (number, what, target) on the archive's disk and (number, what, "copy")
    on the other one."""
    with tempfile.TemporaryDirectory() as tmp:
        seed_file = os.path.join(tmp, "seed")
        log = os.path.join(tmp, "calls")
        with open(seed_file, "wb") as f:
            f.write(seed)
        subprocess.run([splice_fuzz, seed_file], env=dict(os.environ, SPLICE_FUZZ_CALLS=log),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        with open(log) as f:
            # libFuzzer may run an input more than once: take the first run.
            lines = f.read().split("run\n")[1].splitlines()
    calls = []
    for line in lines:
        words = line.split()
        calls.append((int(words[1]), words[2], "copy") if words[0] == "copy"
                     else (int(words[0]), words[1], words[2]))
    return calls


def splice_seeds(splice_fuzz):
    out = [splice_seed(), splice_seed(update=5), splice_seed(layout=(20, 6, 21)),
           splice_seed(mode=4 | (21 << 3)), splice_seed(update=0, layout=(20, 0, 20)),
           splice_seed(update=0, layout=(0, 0, 0))]
    other_disk = 0x80
    plain = splice_calls(splice_fuzz, splice_seed())
    for n, what, target in plain:
        out.append(splice_seed(n))
        if what in ("read", "write"):
            out.append(splice_seed(n, mode=2))
        if target.startswith("archive"):
            # From then on: the write-back fails too, and so does the copy,
            # unless it goes to another disk.
            out += [splice_seed(n, mode=1), splice_seed(other_disk | n, mode=1)]
    # With the copy on another disk, each of its calls fails in turn: bits 5-6
    # of the failing call byte, plus 3 with bit 6 of the update length byte.
    first_write = next(n for n, what, target in plain
                       if what == "write" and target == "archive-writing")
    rescued = splice_calls(splice_fuzz, splice_seed(other_disk | first_write, mode=1))
    for k, _, _ in (c for c in rescued if c[2] == "copy"):
        low, high = (k, 0) if k <= 3 else (k - 3, 0x40)
        out.append(splice_seed(other_disk | low << 5 | first_write, mode=1, update=6 | high))
    return out


def write_corpora(root, splice_fuzz):
    for target, inputs in seeds(splice_fuzz).items():
        d = os.path.join(root, target)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        for i, data in enumerate(inputs):
            with open(os.path.join(d, "seed-%02d" % i), "wb") as f:
                f.write(data)


def main(argv):
    check = argv[1:2] == ["--check"]
    if len(argv) != 2 + check:
        print(__doc__, file=sys.stderr)
        return 2
    splice_fuzz = os.path.abspath(argv[-1])
    root = os.path.join(HERE, "corpus")
    if not check:
        write_corpora(root, splice_fuzz)
        return 0
    with tempfile.TemporaryDirectory() as fresh:
        write_corpora(fresh, splice_fuzz)
        stale = [t for t in sorted(os.listdir(fresh)) if not same_tree(
            os.path.join(fresh, t), os.path.join(root, t))]
    if stale:
        print("tests/fuzz/corpus is stale for %s: run python3 tests/fuzz/make_seeds.py %s"
              % (", ".join(stale), argv[-1]), file=sys.stderr)
        return 1
    return 0


def same_tree(a, b):
    if not os.path.isdir(b):
        return False
    names = sorted(os.listdir(a))
    return names == sorted(os.listdir(b)) and \
        filecmp.cmpfiles(a, b, names, shallow=False)[0] == names


if __name__ == "__main__":
    sys.exit(main(sys.argv))
