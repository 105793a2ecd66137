#!/usr/bin/env python3
"""The players' note, readme.txt in the release zip, made from its template
and the texts of the program as compiled.

    players-note.py TEMPLATE VALUES
    players-note.py TEMPLATE VALUES --write OUTPUT --version VERSION --signer SIGNER

VALUES is what "dump_texts --values" (updater/) writes: among its lines,
"NAME_HEX=HEX" for every text of the program, its CP932 bytes as a box shows
them (formatted with the title by the program itself), and the program's
table of boxes. In the UTF-8 TEMPLATE, @NAME@ stands for the program's text
NAME as the player sees it: the text of a box that the program can end with
by its first sentence, any other text (a caption, the title) whole.
@VERSION@ is VERSION; the lines between two @SIGNED@ lines stay only when
SIGNER is not empty, and @SIGNER@ is SIGNER.

Without --write it only checks; with it, it checks and then writes the note
in CP932 with CRLF line ends, for Notepad on a Japanese system. The check
fails, naming the box, when the note leaves out a box that the program can
end with (every row of the table but the questions, whose answers lead on to
another box): the note must hold the first sentence of its text and, where
another box shows the same text, its caption. It also fails when a
placeholder names no such text, and when the note, signed or not, does not
encode in CP932.
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from program_values import read_values  # noqa: E402

PLACEHOLDER = re.compile(r"@([A-Z][A-Z0-9_]*)@")
SIGNED_BLOCK = re.compile(r"@SIGNED@\n(.*?)@SIGNED@\n", re.S)
# A sentence ends with its full stop or where the box breaks the line.
FIRST_SENTENCE = re.compile(r"[^\r\n。]*。?")

# Stand-ins for the check, which renders the note both ways.
CHECK_VERSION = "0.0.0.0"
CHECK_SIGNER = "Stand-in Signer"


def read_texts(values):
    """{name: text as a box shows it} of the dump, decoded as the program's CP932."""
    return {name[:-len("_HEX")]: bytes.fromhex(value).decode("cp932")
            for name, value in values.items() if name.endswith("_HEX") and
            not name.startswith("BOX_")}


def end_boxes(values):
    """The rows of the table that the program can end with, in its order."""
    return [box for box in values["BOXES"].split() if values[box + "_BUTTONS"] != "YES,NO"]


def first_sentence(text):
    return FIRST_SENTENCE.match(text).group(0)


def expansions(values, texts):
    """{name: what @name@ becomes}: an end box's text by its first sentence,
    every other text whole; the questions' texts have none."""
    expanded = {n: t for n, t in texts.items() if not n.startswith("MSG_")}
    for box in end_boxes(values):
        name = values[box + "_TEXT"]
        expanded[name] = first_sentence(texts[name])
    return expanded


def render(template, values, version, signer):
    """The note's text, line ends not yet converted. One pass, so that no
    value is read again as a placeholder; unknown ones are left as they are."""
    text = SIGNED_BLOCK.sub((lambda m: m.group(1)) if signer else "", template)
    values = dict(values, VERSION=version, SIGNER=signer)
    return PLACEHOLDER.sub(lambda m: values.get(m.group(1), m.group(0)), text)


def encode(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp932")


def problems(template, values):
    texts = read_texts(values)
    expanded = expansions(values, texts)
    found = []
    unknown = sorted(set(PLACEHOLDER.findall(template)) - set(expanded) -
                     {"VERSION", "SIGNED", "SIGNER"})
    if unknown:
        found.append("placeholders of no text the note can quote: " +
                     ", ".join("@%s@" % n for n in unknown))
    boxes = end_boxes(values)
    shared = {values[b + "_TEXT"] for b in boxes
              if [values[o + "_TEXT"] for o in boxes].count(values[b + "_TEXT"]) > 1}
    for box in boxes:
        if not expanded[values[box + "_TEXT"]]:
            found.append("%s begins with a line break: no first sentence to quote" % box)
    for signer in ("", CHECK_SIGNER):
        kind = "signed" if signer else "unsigned"
        try:
            note = encode(render(template, expanded, CHECK_VERSION, signer)).decode("cp932")
        except UnicodeEncodeError as e:
            found.append("the %s note is not CP932: %r" % (kind, e.object[e.start:e.end]))
            continue
        absent = [b for b in boxes if expanded[values[b + "_TEXT"]] not in note or
                  (values[b + "_TEXT"] in shared and texts[values[b + "_CAPTION"]] not in note)]
        for box in absent:
            quote = "@%s@" % values[box + "_TEXT"]
            if values[box + "_TEXT"] in shared:
                quote += " with its caption @%s@" % values[box + "_CAPTION"]
            found.append("the %s note names no line for the box %s: add a line quoting "
                         "%s to scripts/release/release-readme.txt (the template "
                         "checked here)" % (kind, box, quote))
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
    values = read_values(args.values)
    found = problems(template, values)
    for problem in found:
        print("players-note: " + problem, file=sys.stderr)
    if found:
        return 1
    print("players-note: the note names all %d boxes the program can end with"
          % len(end_boxes(values)))
    if args.write is None:
        return 0
    try:
        note = encode(render(template, expansions(values, read_texts(values)), args.version,
                             args.signer))
    except UnicodeEncodeError as e:
        print("players-note: not CP932: %r" % e.object[e.start:e.end], file=sys.stderr)
        return 1
    with open(args.write, "wb") as f:
        f.write(note)
    return 0


if __name__ == "__main__":
    sys.exit(main())
