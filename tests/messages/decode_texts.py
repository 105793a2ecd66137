#!/usr/bin/env python3
"""Decodes the program's message texts, as dumped by dump_texts, with
Python's own CP932 codec and compares each with the text the player must see.

    decode_texts.py DUMP VALUES

DUMP holds one "NAME HEX" line per text; VALUES is the program's values dump
(dump_texts --values), for its buffer sizes and its table of boxes. Fails on a
missing or an unknown name, on bytes that are not canonical CP932, on a text
that differs from the expected one, on a double-byte character whose trail
byte is 0x5C (the byte of '\\') that is missing or out of place, and, naming
the row, on a box whose text, caption, buttons or icon differ from ROWS.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from program_values import read_values  # noqa: E402

DUMP = None

TITLE = "ナギサリウム"

# The texts exactly as the player sees them; "\n" is a lone line feed, "\r\n"
# carriage return and line feed, "%s" receives the title.
EXPECTED = {
    "GAME_TITLE": TITLE,
    "MSG_NOT_INSTALLED":
        "%s が正常にインストールされていません\nインストール後、実行してください",
    "MSG_GAME_RUNNING": "%s が起動中です。\n一旦終了させてください。",
    "MSG_ARCHIVE_BUSY": "%s が起動している可能性があります\n終了後、もう一度実行してください",
    "MSG_UPDATE_DATA_MISSING":
        "アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
        "お手数をおかけいたしますがもう一度ダウンロードし直してみてください。",
    "MSG_PATCH_MISSING":
        "ピクスナノートパッチが適用されていません。先にピクスナノートパッチを適用してください。",
    "MSG_ALREADY_APPLIED":
        "本アップデートファイルをすでに適用済みか、またはそれよりも新しいバージョンです。",
    "MSG_CONFIRM_DETECTED":
        "%s のインストールデータおよび\r\n"
        "ピクスナノートパッチデータを検出しました。\r\n"
        "\r\n"
        "これからピクスナノートパッチの修正アップデートファイルの適用を開始します。\r\n"
        "ゲームを起動している場合は、一旦ゲームを終了させておいてください。",
    "MSG_CONFIRM_START":
        "アップデートを開始します。よろしいですか？\r\n"
        "\r\n"
        "アップデート処理には数秒～数十秒程かかりますので\r\n"
        "完了メッセージが表示されるまで、そのままでお待ちください。",
    "MSG_CANCELLED": "アップデート処理をキャンセルしました。",
    "MSG_SUCCESS": "アップデート成功しました。",
    "MSG_WRITE_FAILED":
        "ファイルが適用出来ませんでした。\n\n読み取り専用属性になっている可能性があります。",
    "MSG_ARCHIVE_RESCUED":
        "%s のデータファイル update1.ovp を更新できず、元に戻すこともできませんでした。\n"
        "元のデータファイルは、アップデートファイルのあるフォルダに保存しました。\n\n",
    "MSG_ARCHIVE_RESCUED_ACTION":
        "\n\nこのファイルの名前を update1.ovp に変えて、ゲームをインストールしたフォルダの"
        " pac フォルダにある update1.ovp と置き換えてください。",
    "MSG_ARCHIVE_DAMAGED":
        "%s のデータファイル update1.ovp を更新できず、元に戻すことも、"
        "別の場所に保存することもできませんでした。\n"
        "データファイルが壊れているため、このままではゲームが正しく動作しません。\n\n"
        "お手数をおかけいたしますが、ゲームとピクスナノートパッチをもう一度インストールしてください。"
        "元の状態に戻ります。",
    "MSG_UPDATE_INTERRUPTED":
        "%s のデータファイル update1.ovp は、前回のアップデートが途中で中断されたため、"
        "不完全な状態になっています。\n"
        "このままではゲームが正しく動作しません。\n\n"
        "お手数をおかけいたしますが、ゲームとピクスナノートパッチをもう一度インストールしてから、"
        "このアップデートを実行してください。",
    "CAP_UPDATE": "%s アップデート",
    "CAPTION_ERROR": "エラー",
    "CAPTION_ERROR_NO1": "エラー No.1",
    "CAPTION_ERROR_NO2": "エラー No.2",
    "CAPTION_ERROR_NO3": "エラー No.3",
    "CAPTION_CANCELLED": "中断",
    "CAPTION_DONE": "完了",
    "CAPTION_FAILED": "失敗",
}

# Texts of the program's own wording: known names, whose exact words are the
# program's choice. Each must still be a clean CP932 error text.
OWN_WORDING = {"MSG_OUT_OF_MEMORY"}

# Every box the player can meet, written by hand and never read from the
# program's table: its text and caption (names of the words above), where the
# title goes, its buttons and its icon. The rescued-copy box names the copy's
# path between its two texts.
ROWS = {
    "BOX_NOT_INSTALLED_NO1":   ("MSG_NOT_INSTALLED",       "CAPTION_ERROR_NO1", "text",    "OK",     "none"),
    "BOX_NOT_INSTALLED_NO2":   ("MSG_NOT_INSTALLED",       "CAPTION_ERROR_NO2", "text",    "OK",     "none"),
    "BOX_NOT_INSTALLED_NO3":   ("MSG_NOT_INSTALLED",       "CAPTION_ERROR_NO3", "text",    "OK",     "none"),
    "BOX_GAME_RUNNING":        ("MSG_GAME_RUNNING",        "CAPTION_ERROR",     "text",    "OK",     "none"),
    "BOX_ARCHIVE_BUSY":        ("MSG_ARCHIVE_BUSY",        "CAPTION_ERROR",     "text",    "OK",     "none"),
    "BOX_UPDATE_DATA_MISSING": ("MSG_UPDATE_DATA_MISSING", "CAPTION_ERROR",     "nowhere", "OK",     "none"),
    "BOX_PATCH_MISSING":       ("MSG_PATCH_MISSING",       "CAP_UPDATE",        "caption", "OK",     "none"),
    "BOX_ALREADY_APPLIED":     ("MSG_ALREADY_APPLIED",     "CAP_UPDATE",        "caption", "OK",     "none"),
    "BOX_UPDATE_INTERRUPTED":  ("MSG_UPDATE_INTERRUPTED",  "CAPTION_FAILED",    "text",    "OK",     "none"),
    "BOX_CONFIRM_DETECTED":    ("MSG_CONFIRM_DETECTED",    "CAP_UPDATE",        "both",    "YES,NO", "information"),
    "BOX_CONFIRM_START":       ("MSG_CONFIRM_START",       "CAP_UPDATE",        "caption", "YES,NO", "information"),
    "BOX_SUCCESS":             ("MSG_SUCCESS",             "CAPTION_DONE",      "nowhere", "OK",     "none"),
    "BOX_CANCELLED":           ("MSG_CANCELLED",           "CAPTION_CANCELLED", "nowhere", "OK",     "none"),
    "BOX_OUT_OF_MEMORY":       ("MSG_OUT_OF_MEMORY",       "CAPTION_ERROR",     "nowhere", "OK",     "none"),
    "BOX_WRITE_FAILED":        ("MSG_WRITE_FAILED",        "CAPTION_FAILED",    "nowhere", "OK",     "none"),
    "BOX_ARCHIVE_RESCUED":     (("MSG_ARCHIVE_RESCUED", "MSG_ARCHIVE_RESCUED_ACTION"),
                                                           "CAPTION_FAILED",    "text",    "OK",     "none"),
    "BOX_ARCHIVE_DAMAGED":     ("MSG_ARCHIVE_DAMAGED",     "CAPTION_FAILED",    "text",    "OK",     "none"),
}

# What a failure about a name or a row tells the one who fixes it.
THIS_FILE = "tests/messages/decode_texts.py"
RECHECK = "cmake --build --preset native --target dump_texts && ctest --preset native -R messages_decode"

# The double-byte characters whose trail byte is 0x5C, by text, in order. A
# byte-wise search for '\\' would split these; a wrong source or execution
# charset would lose or mangle them.
TRAIL_5C = {
    "MSG_ARCHIVE_BUSY": ["能"],            # 94 5C
    "MSG_CONFIRM_START": ["十", "表"],     # 8F 5C, 95 5C
    "MSG_WRITE_FAILED": ["能"],
}


# The rescued-copy box: the first text formatted with the title, the copy's
# full path, then the second text, all in the program's message buffer with
# its terminator. The path is one of fewer than RESCUE_PATH_BYTES bytes.
VALUES = None


def trail_5c_in_words(text):
    return [c for c in text if len(c.encode("cp932")) == 2 and c.encode("cp932")[1] == 0x5C]


def readable(value):
    """A text as words, for a failure message; other values as they are."""
    return value.decode("cp932", "replace") if isinstance(value, bytes) else value


def read_dump(path):
    """[(name, bytes)] in the dump's order."""
    entries = []
    with open(path, "r", encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            name, _, hex_text = line.partition(" ")
            if not name:
                raise ValueError("line %d: no name" % number)
            entries.append((name, bytes.fromhex(hex_text)))
    return entries


def double_byte_chars(data):
    """(offset, lead, trail) of each double-byte character, walking the bytes
    as Shift-JIS: 0x81-0x9F and 0xE0-0xFC lead a two-byte character."""
    found = []
    i = 0
    while i < len(data):
        b = data[i]
        if (0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC) and i + 1 < len(data):
            found.append((i, b, data[i + 1]))
            i += 2
        else:
            i += 1
    return found


class MessageTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.entries = read_dump(DUMP)
        cls.texts = dict(cls.entries)

    def test_names_are_exactly_the_known_ones(self):
        names = [name for name, _ in self.entries]
        self.assertEqual(len(names), len(set(names)), "a name appears twice: %r" % names)
        missing = sorted(set(EXPECTED) - set(names))
        unknown = sorted(set(names) - set(EXPECTED) - OWN_WORDING)
        self.assertEqual(missing, [], "texts missing from the table")
        self.assertEqual(unknown, [], "texts not known to this test: add each to EXPECTED (words "
                         "the player must see exactly) or to OWN_WORDING (the program's own "
                         "wording) in %s, then run: %s" % (THIS_FILE, RECHECK))

    def test_texts_decode_to_the_expected_words(self):
        for name, expected in sorted(EXPECTED.items()):
            with self.subTest(name=name):
                data = self.texts.get(name)
                if data is None:
                    self.fail("missing")
                self.assertEqual(data.decode("cp932"), expected,
                                 "bytes %s" % data.hex(" "))
                # Decoding alone would accept a second code for the same
                # character (CP932 has a few); the program must hold the
                # canonical bytes.
                self.assertEqual(data, expected.encode("cp932"))

    def test_own_wording_is_a_clean_error_text(self):
        for name in sorted(OWN_WORDING & set(self.texts)):
            with self.subTest(name=name):
                data = self.texts[name]
                text = data.decode("cp932")
                self.assertEqual(text.encode("cp932"), data)
                self.assertNotIn("\r", text, "error texts break lines with \\n alone")
                self.assertNotIn("%", text, "shown unformatted, so no placeholder")
                self.assertTrue(any(ord(c) > 0x3000 for c in text), "not Japanese: %r" % text)

    def test_rescue_box_fits_the_buffer_with_the_longest_copy_path(self):
        head = self.texts["MSG_ARCHIVE_RESCUED"].replace(b"%s", TITLE.encode("cp932"), 1)
        action = self.texts["MSG_ARCHIVE_RESCUED_ACTION"]
        self.assertNotIn(b"%", head + action)
        values = read_values(VALUES)
        used = len(head) + int(values["RESCUE_PATH_BYTES"]) - 1 + len(action) + 1
        self.assertLessEqual(used, int(values["MESSAGE_BUFFER_BYTES"]))

    def test_every_box_row_is_the_listed_one(self):
        values = read_values(VALUES)
        program = values["BOXES"].split()
        self.assertEqual(len(program), len(set(program)), "a row appears twice: %r" % program)

        def words(name, title):
            # The expected words, or the program's bytes for its own wording,
            # formatted as printf does with the title as the one argument.
            data = self.texts[name] if name in OWN_WORDING else EXPECTED[name].encode("cp932")
            return data.replace(b"%s", TITLE.encode("cp932"), 1) if title else data

        for row in sorted(set(program) | set(ROWS)):
            with self.subTest(row=row):
                if row not in ROWS:
                    self.fail("%s: a row of the program's table that ROWS lacks: add its line "
                              "to ROWS in %s, then run: %s" % (row, THIS_FILE, RECHECK))
                if row not in program:
                    self.fail("%s: listed in ROWS but not a row of the program's table" % row)
                text, caption, title, buttons, icon = ROWS[row]
                before, after = text if isinstance(text, tuple) else (text, None)
                expected = {
                    "text": words(before, title in ("text", "both")),
                    "text after the path": b"" if after is None else words(after, False),
                    "caption": words(caption, title in ("caption", "both")),
                    "buttons": buttons,
                    "icon": icon,
                }
                shown = {
                    "text": bytes.fromhex(values[row + "_TEXT_HEX"]),
                    "text after the path": bytes.fromhex(values[row + "_AFTER_PATH_HEX"]),
                    "caption": bytes.fromhex(values[row + "_CAPTION_HEX"]),
                    "buttons": values[row + "_BUTTONS"],
                    "icon": values[row + "_ICON"],
                }
                wrong = ["%s %r, listed %r" % (field, readable(shown[field]), readable(want))
                         for field, want in expected.items() if shown[field] != want]
                if wrong:
                    self.fail("%s differs from its line in ROWS: %s" % (row, "; ".join(wrong)))

    def test_trail_byte_5c_characters_in_place(self):
        seen_any = False
        for name, data in sorted(self.texts.items()):
            with self.subTest(name=name, data=data.hex(" ")):
                if name in EXPECTED:
                    expected = TRAIL_5C.get(name, [])
                else:
                    expected = trail_5c_in_words(data.decode("cp932", "replace"))
                chars = double_byte_chars(data)
                found = [bytes((lead, trail)).decode("cp932", "replace")
                         for _, lead, trail in chars if trail == 0x5C]
                self.assertEqual(found, expected)
                seen_any = seen_any or bool(found)
                # Every 0x5C byte must be such a trail byte: a lone one would
                # be a backslash (or a yen sign) that no text holds.
                trail_offsets = {at + 1 for at, _, trail in chars if trail == 0x5C}
                lone = [i for i, b in enumerate(data) if b == 0x5C and i not in trail_offsets]
                self.assertEqual(lone, [], "single-byte 0x5C at these offsets")
        self.assertTrue(seen_any, "no text holds a double-byte character ending in 0x5C")


def main():
    global DUMP, VALUES
    if len(sys.argv) != 3:
        sys.stderr.write("usage: decode_texts.py DUMP VALUES\n")
        return 2
    DUMP, VALUES = sys.argv[1:]
    program = unittest.main(argv=[sys.argv[0], "-v"], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
