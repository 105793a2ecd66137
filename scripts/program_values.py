"""The program's values, as "dump_texts --values" (updater/) writes them:
NAME=NUMBER, NAME='string' and NAME_HEX=HEX lines, and the table of boxes."""
import shlex


def read_values(path):
    """{NAME: value} of the dump at path, every value a string, unquoted."""
    with open(path, encoding="ascii") as f:
        return dict(pair.split("=", 1) for pair in shlex.split(f.read(), posix=True))
