#!/usr/bin/env python3
"""Data for scripts/demo.sh: the demo archive and update data, the box
driver's transcript (what each box held, as hex of UTF-16LE) in UTF-8, and
the check of the updated archive.

  demo_data.py generate ARCHIVE UPDATE_DATA
  demo_data.py show TRANSCRIPT
  demo_data.py check ARCHIVE UPDATE_DATA

The content is a seeded pseudo-random stream: it never repeats, so a splice
at a wrong offset or of a wrong length cannot look right, and it can be made
again for the check instead of keeping a 609 MiB copy. The sizes are the
program's own (ORVEX_PROGRAM_VALUES, from program_dump in scripts/lib.sh).
"""
import os
import random
import shlex
import sys

with open(os.environ["ORVEX_PROGRAM_VALUES"], encoding="ascii") as values:
    VALUES = dict(shlex.split(line)[0].split("=", 1) for line in values)
SIZE_V100 = int(VALUES["ARCHIVE_SIZE_V100"])
SIZE_V101 = int(VALUES["ARCHIVE_SIZE_V101"])
UPDATE_LENGTH = int(VALUES["UPDATE_HEAD_LENGTH"])
REPLACED_LENGTH = int(VALUES["REPLACED_HEAD_LENGTH"])
ARCHIVE_SEED = 100
UPDATE_SEED = 101
# The stream is made in pieces of this size (a multiple of 4: random's
# byte stream depends on how it is cut, so generate and check cut alike).
CHUNK = 1 << 24


def stream(seed, total):
    """(offset, bytes) pieces of the stream seed, total bytes in all."""
    generator = random.Random(seed)
    offset = 0
    while offset < total:
        size = min(CHUNK, total - offset)
        yield offset, generator.randbytes(size)
        offset += size


def write_stream(path, seed, total):
    with open(path, "wb") as out:
        for _, piece in stream(seed, total):
            out.write(piece)


def generate(archive, update_data):
    write_stream(archive, ARCHIVE_SEED, SIZE_V100)
    write_stream(update_data, UPDATE_SEED, UPDATE_LENGTH)
    print(f"archive {archive}: {os.path.getsize(archive)} bytes (version 1.00)")
    print(f"update data {update_data}: {os.path.getsize(update_data)} bytes")


def show(transcript):
    """Prints the transcript's boxes in UTF-8; fails unless the run ended by
    itself with exit code 0."""
    fields = {}
    boxes = []
    with open(transcript, encoding="ascii") as lines:
        for line in lines:
            key, _, value = line.rstrip("\n").partition(" ")
            if key == "box":
                boxes.append({})
            elif boxes and key in ("caption-utf16le", "text-utf16le", "buttons", "icon",
                                   "answer"):
                boxes[-1][key] = value
            else:
                fields[key] = value
    for number, box in enumerate(boxes, 1):
        # The UTF-16 that the box held; a unit that is no character (a lone
        # surrogate) shows as an escape rather than vanish.
        caption, text = (bytes.fromhex(box[key]).decode("utf-16-le", "backslashreplace")
                         for key in ("caption-utf16le", "text-utf16le"))
        print(f"--- box {number}: [{caption}]  buttons {box['buttons']}, "
              f"icon {box['icon']}, answered {box['answer']}")
        for text_line in text.replace("\r\n", "\n").split("\n"):
            print(f"    {text_line}")
    print(f"--- run {fields.get('outcome')}, {fields.get('boxes')} boxes, "
          f"exit code {fields.get('exit')}")
    if fields.get("error"):
        print(f"    {fields['error']}")
    return fields.get("outcome") == "completed" and fields.get("exit") == "0"


def check(archive, update_data):
    size = os.path.getsize(archive)
    if size != SIZE_V101:
        print(f"archive is {size} bytes, not {SIZE_V101}")
        return False
    with open(archive, "rb") as new, open(update_data, "rb") as data:
        head = new.read(UPDATE_LENGTH)
        if head != data.read(UPDATE_LENGTH):
            print("the archive does not start with the update data")
            return False
        # The rest must be the 1.00 archive from REPLACED_LENGTH on: made
        # again from its seed, piece by piece.
        for offset, piece in stream(ARCHIVE_SEED, SIZE_V100):
            if offset + len(piece) <= REPLACED_LENGTH:
                continue
            start = max(offset, REPLACED_LENGTH)
            expected = piece[start - offset:]
            new.seek(start - REPLACED_LENGTH + UPDATE_LENGTH)
            seen = new.read(len(expected))
            if seen != expected:
                at = next((i for i, (a, b) in enumerate(zip(seen, expected)) if a != b),
                          min(len(seen), len(expected)))
                print(f"the kept tail differs at archive offset "
                      f"{start - REPLACED_LENGTH + UPDATE_LENGTH + at}")
                return False
    print(f"archive: {SIZE_V101} bytes (version 1.01): the {UPDATE_LENGTH} bytes of "
          f"the update data, then the old archive from byte {REPLACED_LENGTH} on")
    return True


def main(argv):
    if len(argv) == 4 and argv[1] == "generate":
        generate(argv[2], argv[3])
        return 0
    if len(argv) == 3 and argv[1] == "show":
        return 0 if show(argv[2]) else 1
    if len(argv) == 4 and argv[1] == "check":
        return 0 if check(argv[2], argv[3]) else 1
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main(sys.argv))
