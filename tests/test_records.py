"""KIF and CSA records: KIF files cshogi writes read as cshogi reads them, records written
by komaban_tools read back the same by cshogi and by our readers, and hand-written KIF."""

import random
from datetime import datetime

import pytest

from komaban_tools.records import (
    RecordError,
    is_kif,
    read_csa,
    read_file,
    read_kif,
    read_record,
    write_csa,
    write_file,
    write_kif,
)

# Starts with promoted pieces and pieces in hand (ten of a kind in one), written as board
# diagrams, as no handicap names them.
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 1"
SPARSE = "4k4/9/4+P4/9/9/9/9/4+r4/4K4 b R2B4G4S4N4L7P10p 1"
# cshogi's KIF.Exporter games: (start: None for 平手, a handicap's name, or "sfen ..."),
# the reason passed to Exporter.end (None: no end line).
GAMES = [(None, end) for end in ("resign", "sennichite", "illegal_win", "illegal_lose")]
GAMES += [(None, "draw"), (None, "win"), (None, None), ("香落ち", "resign")]
GAMES += [("二枚落ち", "illegal_lose"), ("十枚落ち", None)]
# These two also take write_csa through cshogi's CSA reader from a middle game.
GAMES += [(f"sfen {MIDDLE_GAME}", "resign"), (f"sfen {SPARSE}", "sennichite")]
# The endings the end lines cshogi writes for each reason stand for. Its own reader takes
# the result from the まで line instead, and gets 持将棋 (a repetition to it) and 入玉宣言
# (nothing) wrong, and a handicap's winner, as it counts sides as if Black moved first.
ENDINGS = {
    "resign": "%TORYO",
    "sennichite": "%SENNICHITE",
    "illegal_lose": "%ILLEGAL_MOVE",
    "draw": "%JISHOGI",
    "win": "%KACHI",
    None: "",
}
CSHOGI_READS = {"resign", "sennichite", "illegal_win", "illegal_lose", None}


def same_position(cshogi, sfen, other):
    """Whether two SFEN lines are one position (cshogi orders a hand its own way)."""
    return cshogi.Board(sfen).sfen() == cshogi.Board(other).sfen()


def export(cshogi, path, number):
    """Game `number` of GAMES, random legal moves by cshogi written by its KIF.Exporter:
    (start SFEN, USI moves, names, ending)."""
    from cshogi import KIF

    start, reason = GAMES[number]
    sfen = (
        start[5:] if start and start[:5] == "sfen " else KIF.Parser.HANDYCAP_SFENS[start or "平手"]
    )
    board, rng, moves, previous = cshogi.Board(sfen), random.Random(number), [], None
    names = (f"先手{number}", f"Gote {number}")
    exporter = KIF.Exporter(str(path))
    exporter.header(list(names), datetime(2024, 5, 1), start)
    for _ in range(rng.randrange(60, 140)):
        legal = list(board.legal_moves)
        if not legal:
            break
        # Recaptures on the last move's square half the time, for 同.
        back = [m for m in legal if previous and cshogi.move_to(m) == cshogi.move_to(previous)]
        previous = rng.choice(back if back and rng.random() < 0.5 else legal)
        exporter.move(previous)
        moves.append(cshogi.move_to_usi(previous))
        board.push(previous)
    if reason:
        exporter.end(reason)
    exporter.close()
    # 反則勝ち: the side to move wins, the other lost by an illegal action.
    loser = "-" if board.turn == cshogi.BLACK else "+"
    return sfen, moves, names, ENDINGS.get(reason, f"%{loser}ILLEGAL_ACTION")


def test_exported_games_have_drops_promotions_and_recaptures(tmp_path):
    cshogi = pytest.importorskip("cshogi")
    texts = ""
    for number in range(len(GAMES)):
        export(cshogi, tmp_path / "game.kif", number)
        texts += (tmp_path / "game.kif").read_text(encoding="cp932")
    assert all(mark in texts for mark in ("同　", "打", "成(", "後手の持駒：", "歩十"))


@pytest.mark.parametrize("number", range(len(GAMES)))
def test_kif_that_cshogi_writes_reads_as_cshogi_reads_it(tmp_path, number):
    cshogi = pytest.importorskip("cshogi")
    from cshogi import KIF

    sfen, moves, names, ending = export(cshogi, tmp_path / "game.kif", number)
    text = (tmp_path / "game.kif").read_text(encoding="cp932")
    assert is_kif(text)
    record = read_kif(text)
    assert same_position(cshogi, record.sfen, sfen)
    assert (record.usi(), record.names, record.ending) == (moves, names, ending)
    start, reason = GAMES[number]
    if start is None or start[:5] != "sfen ":  # cshogi reads no board diagram
        theirs = KIF.Parser.parse_str(text)
        assert record.sfen == theirs.sfen
        assert record.usi() == [cshogi.move_to_usi(move) for move in theirs.moves]
        assert record.names == tuple(theirs.names)
        if reason in CSHOGI_READS and start is None:
            assert record.ending == (theirs.endgame or "")


@pytest.mark.parametrize("number", range(len(GAMES)))
def test_written_records_read_back_the_same(tmp_path, number):
    cshogi = pytest.importorskip("cshogi")
    from cshogi import CSA, KIF

    export(cshogi, tmp_path / "game.kif", number)
    record = read_kif((tmp_path / "game.kif").read_text(encoding="cp932"))
    record.comments = {0: ["始め"], 2: ["二手目", "*engine line"]}
    kif, csa = write_kif(record), write_csa(record)
    game = (record.sfen, record.usi(), record.names, record.ending)
    for ours in (read_kif(kif), read_csa(csa), read_record(kif), read_record(csa)):
        assert (ours.sfen, ours.usi(), ours.names, ours.ending) == game
        assert ours.comments == record.comments
    theirs = CSA.Parser.parse_str(csa)[0]
    assert same_position(cshogi, theirs.sfen, record.sfen)
    assert [cshogi.move_to_usi(move) for move in theirs.moves] == record.usi()
    assert (tuple(theirs.names), theirs.endgame or "") == (record.names, record.ending)
    start = GAMES[number][0]
    if start is None or start[:5] != "sfen ":  # cshogi reads no board diagram
        theirs = KIF.Parser.parse_str(kif)
        assert theirs.sfen == record.sfen
        assert [cshogi.move_to_usi(move) for move in theirs.moves] == record.usi()
        assert tuple(theirs.names) == record.names
        # cshogi reads 持将棋 as a repetition, and names the loser in まで…反則勝ち.
        if record.ending in ("%TORYO", "%SENNICHITE", "%ILLEGAL_MOVE", "%KACHI", ""):
            assert (theirs.endgame or "") == record.ending


HEADER = "手合割：平手\n先手：先手太郎\n後手：後手花子\n手数----指手---------消費時間--\n"
# 同 with and without the full-width space, a drop, 不成, comments before and after
# moves, an engine line, a bookmark, times, a branch mark and a variation.
GAME = HEADER + (
    "*開始\n"
    "   1 ７六歩(77)   ( 0:01/00:00:01)\n"
    "*初手\n"
    "   2 ３四歩(33)   ( 0:02/00:00:02)+\n"
    "**対局 評価値 100\n"
    "   3 ２二角成(88)\n"
    "&しおり\n"
    "   4 同　銀(31)\n"
    "   5 ５五角打\n"
    "   6 ８四歩(83)\n"
    "   7 ２二角不成(55)\n"
    "   8 同飛(82)\n"
    "   9 投了\n"
    "まで8手で後手の勝ち\n"
    "\n"
    "変化：3手\n"
    "   3 ６六歩(67)\n"
)
GAME_USI = ["7g7f", "3c3d", "8h2b+", "3a2b", "B*5e", "8c8d", "5e2b", "8b2b"]


def test_hand_written_kif_reads_as_standard_notation_means_it():
    record = read_kif(GAME)
    assert record.usi() == GAME_USI
    assert record.names == ("先手太郎", "後手花子")
    assert record.ending == "%TORYO"
    assert record.comments == {0: ["開始"], 1: ["初手"], 2: ["*対局 評価値 100"]}
    assert "同　銀(31)" in write_kif(record) and "同　飛(82)" in write_kif(record)


def test_read_file_reads_kif_in_either_encoding_whatever_its_name(tmp_path):
    record = read_kif(GAME)
    write_file(record, tmp_path / "sjis.kif")
    write_file(record, tmp_path / "utf8.kifu")
    assert (tmp_path / "sjis.kif").read_bytes() == write_kif(record).encode("cp932")
    assert (tmp_path / "utf8.kifu").read_bytes() == write_kif(record).encode("utf-8")
    (tmp_path / "sjis.kifu").write_bytes(write_kif(record).encode("cp932"))
    (tmp_path / "utf8.kif").write_bytes(write_kif(record).encode("utf-8"))
    for name in ("sjis.kif", "utf8.kifu", "sjis.kifu", "utf8.kif"):
        read = read_file(tmp_path / name)
        assert (read.usi(), read.names, read.ending) == (GAME_USI, record.names, "%TORYO")


# SPARSE as a hand-written diagram, then moves with other spellings: 王, 竜, a (00) drop.
DIAGRAM = """後手の持駒：歩十
  ９ ８ ７ ６ ５ ４ ３ ２ １
+---------------------------+
| ・ ・ ・ ・v玉 ・ ・ ・ ・|一
| ・ ・ ・ ・ ・ ・ ・ ・ ・|二
| ・ ・ ・ ・ と ・ ・ ・ ・|三
| ・ ・ ・ ・ ・ ・ ・ ・ ・|四
| ・ ・ ・ ・ ・ ・ ・ ・ ・|五
| ・ ・ ・ ・ ・ ・ ・ ・ ・|六
| ・ ・ ・ ・ ・ ・ ・ ・ ・|七
| ・ ・ ・ ・v竜 ・ ・ ・ ・|八
| ・ ・ ・ ・ 王 ・ ・ ・ ・|九
+---------------------------+
先手の持駒：飛　角二　金四　銀四　桂四　香四　歩七
先手番
手数----指手---------消費時間--
   1 ５八王(59)
   2 ５二歩(00)
   3 同　と(53)
   4 同　玉(51)
   5 １三飛打
   6 ５一玉(52)
   7 １一飛成(13)
   8 ６二玉(51)
   9 ２一竜(11)
  10 中断
"""


def test_diagram_and_other_spellings_read_as_standard_notation_means_them():
    record = read_kif(DIAGRAM)
    assert record.sfen == SPARSE
    assert record.usi() == "5i5h P*5b 5c5b 5a5b R*1c 5b5a 1c1a+ 5a6b 1a2a".split()
    assert record.ending == "%CHUDAN"


END_WORDS = """投了 %TORYO 中断 %CHUDAN 千日手 %SENNICHITE 詰み %TSUMI 持将棋 %JISHOGI
切れ負け %TIME_UP 時間切れ %TIME_UP 反則負け %ILLEGAL_MOVE 入玉勝ち %KACHI 不詰 %FUZUMI""".split()


@pytest.mark.parametrize(
    "moves, word, ending",
    [(2, word, ending) for word, ending in zip(END_WORDS[::2], END_WORDS[1::2], strict=True)]
    + [(2, "反則勝ち", "%-ILLEGAL_ACTION"), (1, "反則勝ち", "%+ILLEGAL_ACTION")],
)
def test_end_words_are_endings(moves, word, ending):
    # 反則勝ち: the side to move wins; the other side lost by an illegal action.
    lines = ["   1 ７六歩(77)", "   2 ３四歩(33)"][:moves]
    record = read_kif(HEADER + "\n".join([*lines, f"{moves + 1:>4} {word}   ( 0:03/00:00:05)"]))
    assert (len(record.moves), record.ending) == (moves, ending)
    assert read_kif(write_kif(record)).ending == ending


@pytest.mark.parametrize(
    "body, line, message",
    [
        ("   1 ７六象(77)", 5, "'７六象(77)' is not a KIF move"),
        ("   1 ７五歩(76)", 5, "moves a 歩 from 76, where no Black 歩 stands"),
        ("   1 ７六香(77)", 5, "moves a 香 from 77, where no Black 香 stands"),
        ("   1 ７五歩(77)", 5, "is not a move komaban lists for Black"),
        ("   1 ７六歩", 5, "７六歩 has no source square"),
        ("   1 ７六歩(77)\n   3 ３四歩(33)", 6, "move number 3 where 2 belongs"),
        ("   1 ７六歩(77)\nhello", 6, "'hello' is not KIF"),
        ("   1 ７六歩(77)\n   2 投了\n*\n   3 ２二角成(88)", 8, "follows the end of the game"),
        ("   1 同　歩(77)", 5, "as the first move"),
    ],
)
def test_bad_kif_raises_naming_the_line(body, line, message):
    with pytest.raises(RecordError) as error:
        read_kif(HEADER + body + "\n")
    assert str(error.value).startswith(f"line {line}: ")
    assert message in str(error.value) and "\n" not in str(error.value)


def test_bad_diagram_and_handicap_name_their_line():
    with pytest.raises(RecordError, match=r"^line 4: 'x玉' is not a square"):
        read_kif(DIAGRAM.replace("v玉", "x玉"))
    with pytest.raises(RecordError, match=r"^line 4: a board diagram has 9 rows, not 8"):
        read_kif(DIAGRAM.replace("| ・ ・ ・ ・ ・ ・ ・ ・ ・|七\n", ""))
    with pytest.raises(RecordError, match=r"^line 1: '七枚落ち' is not a handicap"):
        read_kif("手合割：七枚落ち\n")


@pytest.mark.parametrize("text", ["startpos moves 7g7f 3c3d", "V2.2\nPI\n+\n+7776FU\n", ""])
def test_other_records_are_not_kif(text):
    assert not is_kif(text)
