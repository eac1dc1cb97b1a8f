"""Game records: CSA and KIF files, and a start position with USI moves.

`read_file(path)` reads a record file of any of the three kinds, told apart
by their text, in UTF-8 or Shift-JIS, told apart by their bytes (KIF files
are Shift-JIS when named .kif and UTF-8 when named .kifu, but real files break
that rule); `write_file(record, path)` writes one, its kind chosen by the
file's suffix. Every reader checks each move in its position and raises
RecordError, naming the line or the move, for a record it cannot read.

>>> record = read_record("startpos moves 7g7f 3c3d 8h2b+ 3a2b")
>>> len(record.moves), record.usi()[-1]
(4, '3a2b')
>>> print(write_csa(record), end="")
V2.2
PI
+
+7776FU
-3334FU
+8822UM
-3122GI
"""

from __future__ import annotations

import codecs
import re
from pathlib import Path

from .csa import games_in, is_csa, read_csa, write_csa
from .kif import is_kif, read_kif, write_kif
from .record import ENDINGS, Record, RecordError, positions, winner_of
from .usi import NOTATIONS, Notation, read_moves, write_moves

# A KIF file may say its encoding in its first lines ("#KIF version=2.0 encoding=UTF-8").
_DECLARED = re.compile(rb"^#KIF[^\r\n]*encoding=([\w-]+)", re.M)


def decode(data: bytes) -> str:
    """The text of a record file: UTF-8 (with or without a byte order mark) where the
    bytes are, else Shift-JIS (as Windows writes it, code page 932), unless the file
    declares its encoding. RecordError for bytes that are neither."""
    if data.startswith(codecs.BOM_UTF8):
        data = data[len(codecs.BOM_UTF8) :]
    declared = _DECLARED.search(data[:1024])
    names = ["utf-8", "cp932"]
    if declared:
        name = declared[1].decode("ascii").lower().replace("shift_jis", "cp932")
        names = [name] + [n for n in names if n != name]
    for name in names:
        try:
            return data.decode(name)
        except (UnicodeDecodeError, LookupError):
            continue
    raise RecordError("cannot decode the file: it is neither UTF-8 nor Shift-JIS text")


def read_record(text: str, notation: Notation = "usi", game: int = 1, title: str = "") -> Record:
    """A CSA or KIF record, or a start position with a move list, told apart by their text."""
    if is_csa(text):
        return read_csa(text, game, title)
    if is_kif(text):
        return read_kif(text, title)
    return read_moves(text, notation, title)


def read_file(path: str | Path, notation: Notation = "usi", game: int = 1) -> Record:
    """Reads a record file; its title defaults to the file's name.

    Raises RecordError for a record that cannot be read, OSError for a file
    that cannot be.
    """
    path = Path(path)
    return read_record(decode(path.read_bytes()), notation, game, path.name)


def write_file(record: Record, path: str | Path) -> None:
    """Writes a record as its file's suffix says: .csa, .kif (Shift-JIS), .kifu (UTF-8),
    anything else a start position and USI moves. RecordError when a .kif file cannot
    hold the record's text in Shift-JIS."""
    path = Path(path)
    suffix = path.suffix.lower()
    if suffix == ".csa":
        data = write_csa(record).encode("utf-8")
    elif suffix in (".kif", ".kifu"):
        text = write_kif(record)
        try:
            data = text.encode("cp932" if suffix == ".kif" else "utf-8")
        except UnicodeEncodeError as error:
            raise RecordError(
                f"{path.name}: {text[error.start : error.end]!r} has no Shift-JIS code; "
                "write a .kifu file (UTF-8) instead"
            ) from None
    else:
        data = (write_moves(record) + "\n").encode("utf-8")
    path.write_bytes(data)


__all__ = [
    "ENDINGS",
    "NOTATIONS",
    "Notation",
    "Record",
    "RecordError",
    "decode",
    "games_in",
    "is_csa",
    "is_kif",
    "positions",
    "read_csa",
    "read_file",
    "read_kif",
    "read_moves",
    "read_record",
    "winner_of",
    "write_csa",
    "write_file",
    "write_kif",
    "write_moves",
]
