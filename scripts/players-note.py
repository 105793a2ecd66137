#!/usr/bin/env python3
"""The players' note, readme.txt in the release zip, made from its template
and the texts of the program as compiled.

    players-note.py TEMPLATE VALUES
    players-note.py TEMPLATE VALUES --write OUTPUT --version VERSION --signer SIGNER

VALUES is what "tests/messages/dump_texts --values" writes: among its lines,
"NAME_HEX=HEX" for every text of the program, its CP932 bytes as a box shows
them (formatted with the title by the program itself). In the UTF-8
TEMPLATE, @NAME@ stands for the program's text NAME as the player sees it: a
box that the program can end with by its first sentence, any other text (a
caption, the title) whole. @VERSION@ is VERSION; the lines between two
@SIGNED@ lines stay only when SIGNER is not empty, and @SIGNER@ is SIGNER.

Without --write it only checks; with it, it checks and then writes the note
in CP932 with CRLF line ends, for Notepad on a Japanese system. The check
fails, naming what is wrong, when a box the program can end with has no
placeholder, when a placeholder names no such text, and when the note, signed
or not, does not encode in CP932 or lacks a box's first sentence.
"""
import argparse
import re
import sys

PLACEHOLDER = re.compile(r"@([A-Z][A-Z0-9_]*)@")
SIGNED_BLOCK = re.compile(r"@SIGNED@\n(.*?)@SIGNED@\n", re.S)
# A sentence ends with its full stop or where the box breaks the line.
FIRST_SENTENCE = re.compile(r"[^\r\n。]*。?")

# Every MSG_ text is a box that the program can end with, except the two
# questions before the update (either answer leads on to another box) and the
# rescued-copy box's second half, which follows the copy's path in that same
# box. Counting the rest as end boxes makes a newly added text one until it
# is named here.
NOT_END_BOXES = {"MSG_CONFIRM_DETECTED", "MSG_CONFIRM_START", "MSG_ARCHIVE_RESCUED_ACTION"}

# Stand-ins for the check, which renders the note both ways.
CHECK_VERSION = "0.0.0.0"
CHECK_SIGNER = "Stand-in Signer"


def read_texts(path):
    """{name: text as a box shows it} of the dump, decoded as the program's CP932."""
    texts = {}
    with open(path, encoding="ascii") as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            if name.endswith("_HEX"):
                texts[name[:-len("_HEX")]] = bytes.fromhex(value).decode("cp932")
    return texts


def end_boxes(texts):
    return sorted(n for n in texts if n.startswith("MSG_") and n not in NOT_END_BOXES)


def expansions(texts):
    """{name: what @name@ becomes}; a text that is neither an end box nor a
    caption or the title has none."""
    values = {n: t for n, t in texts.items() if not n.startswith("MSG_")}
    for name in end_boxes(texts):
        values[name] = FIRST_SENTENCE.match(texts[name]).group(0)
    return values


def render(template, values, version, signer):
    """The note's text, line ends not yet converted. One pass, so that no
    value is read again as a placeholder; unknown ones are left as they are."""
    text = SIGNED_BLOCK.sub((lambda m: m.group(1)) if signer else "", template)
    values = dict(values, VERSION=version, SIGNER=signer)
    return PLACEHOLDER.sub(lambda m: values.get(m.group(1), m.group(0)), text)


def encode(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp932")


def problems(template, texts):
    values = expansions(texts)
    used = set(PLACEHOLDER.findall(template))
    found = []
    missing = [n for n in end_boxes(texts) if n not in used]
    if missing:
        found.append("boxes the note does not name: " + ", ".join(missing))
    unknown = sorted(used - set(values) - {"VERSION", "SIGNED", "SIGNER"})
    if unknown:
        found.append("placeholders of no text the note can quote: " +
                     ", ".join("@%s@" % n for n in unknown))
    for name in end_boxes(texts):
        if not values[name]:
            found.append("%s begins with a line break: no first sentence to quote" % name)
    for signer in ("", CHECK_SIGNER):
        kind = "signed" if signer else "unsigned"
        try:
            note = encode(render(template, values, CHECK_VERSION, signer)).decode("cp932")
        except UnicodeEncodeError as e:
            found.append("the %s note is not CP932: %r" % (kind, e.object[e.start:e.end]))
            continue
        absent = [n for n in end_boxes(texts) if n not in missing and values[n] not in note]
        if absent:
            found.append("the %s note lacks the first sentence of: %s" % (kind, ", ".join(absent)))
    return found


def main():
    parser = argparse.ArgumentParser(description="Checks and writes the players' note.")
    parser.add_argument("template")
    parser.add_argument("values")
    parser.add_argument("--write", metavar="OUTPUT")
    parser.add_argument("--version")
    parser.add_argument("--signer")
    args = parser.parse_args()
    if args.write is not None and (args.version is None or args.signer is None):
        parser.error("--write needs --version and --signer")

    with open(args.template, encoding="utf-8") as f:
        template = f.read()
    texts = read_texts(args.values)
    found = problems(template, texts)
    for problem in found:
        print("players-note: " + problem, file=sys.stderr)
    if found:
        return 1
    print("players-note: the note names all %d boxes the program can end with"
          % len(end_boxes(texts)))
    if args.write is None:
        return 0
    try:
        note = encode(render(template, expansions(texts), args.version, args.signer))
    except UnicodeEncodeError as e:
        print("players-note: not CP932: %r" % e.object[e.start:e.end], file=sys.stderr)
        return 1
    with open(args.write, "wb") as f:
        f.write(note)
    return 0


if __name__ == "__main__":
    sys.exit(main())
