"""A start position and a move list, as a USI `position` command writes them.

    startpos moves 7g7f 3c3d 8h2b+
    position sfen lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1 moves 7g7f

The start is ``startpos`` or a standard SFEN line, optionally after ``sfen``,
the whole optionally after ``position``; ``moves`` before the moves is
optional, and so is the start (``startpos`` then). Moves are USI text, or
komaban's with ``notation="komaban"``, separated by spaces or lines. A move
is named in errors by its number, counted from 1.
"""

from __future__ import annotations

from typing import Literal

from komaban import Game, Move

from ..notation import KOMABAN_MOVE, START_SFEN, USI_MOVE, usi_to_komaban
from .record import Record, RecordError, play

Notation = Literal["usi", "komaban"]
NOTATIONS: tuple[Notation, ...] = ("usi", "komaban")


def _usi(game: Game, where: str, text: str, previous: Move | None) -> str:
    if not USI_MOVE.fullmatch(text):
        raise RecordError(f"{where}: {text!r} is not USI move text")
    return usi_to_komaban(text, game.turn)


def _komaban(game: Game, where: str, text: str, previous: Move | None) -> str:
    if not KOMABAN_MOVE.fullmatch(text):
        raise RecordError(f"{where}: {text!r} is not komaban move text")
    return text


def read_moves(text: str, notation: Notation = "usi", title: str = "") -> Record:
    """A record of a start position and a move list (see the module's description)."""
    tokens = text.split()
    if tokens[:1] == ["position"]:
        tokens = tokens[1:]
    if tokens[:1] == ["startpos"]:
        sfen, tokens = START_SFEN, tokens[1:]
    elif tokens[:1] == ["sfen"] or (tokens and "/" in tokens[0]):
        fields = tokens[1:5] if tokens[0] == "sfen" else tokens[:4]
        tokens = tokens[len(fields) + (tokens[0] == "sfen") :]
        sfen = " ".join(fields)
    else:
        sfen = START_SFEN
    if tokens[:1] == ["moves"]:
        tokens = tokens[1:]
    convert = _usi if notation == "usi" else _komaban
    texts = [(f"move {number}", token) for number, token in enumerate(tokens, 1)]
    return Record(sfen, play(sfen, texts, convert), title=title)


def write_moves(record: Record) -> str:
    """The record as a USI `position` command's arguments (one line, no newline)."""
    start = "startpos" if record.sfen == START_SFEN else f"sfen {record.sfen}"
    return f"{start} moves {' '.join(record.usi())}" if record.moves else start
