"""Results of an evaluation as CSV or Parquet files that keep what is done.

Each position's row reaches the file as soon as its playouts are all in, and
the file holds whole rows at every moment: CSV rows are appended and flushed;
a Parquet file, which cannot be appended to, gets part files beside it and is
rewritten with them at most every second. At the end the file is rewritten in
input order. `--resume` reads a file (and its parts) back and keeps the
positions it holds.
"""

from __future__ import annotations

import io
import math
import os
import shutil
import time
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import IO, Any

from .tasks import Evaluation, Position

# The Parquet output is rewritten from its part files at most this often (and at the end).
FOLD_SECONDS = 1.0
# Appended CSV rows are flushed to the operating system at once, to the disk this often.
SYNC_SECONDS = 1.0
COLUMNS = (
    "line",
    "sfen",
    "playouts",
    "black_wins",
    "white_wins",
    "move_limit",
    "black_score",
    "ci_low",
    "ci_high",
    "mean_moves",
)


def results_table(evaluations: Sequence[Evaluation]) -> Any:
    """The results as a pyarrow Table, one row per position, columns COLUMNS."""
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]

    intervals = [e.interval for e in evaluations]
    columns = {
        "line": pa.array([e.line for e in evaluations], pa.int32()),
        "sfen": pa.array([e.sfen for e in evaluations], pa.string()),
        "playouts": pa.array([e.playouts for e in evaluations], pa.int64()),
        "black_wins": pa.array([e.black_wins for e in evaluations], pa.int64()),
        "white_wins": pa.array([e.white_wins for e in evaluations], pa.int64()),
        "move_limit": pa.array([e.move_limit for e in evaluations], pa.int64()),
        "black_score": pa.array([e.score for e in evaluations], pa.float64()),
        "ci_low": pa.array([low for low, _ in intervals], pa.float64()),
        "ci_high": pa.array([high for _, high in intervals], pa.float64()),
        "mean_moves": pa.array([e.mean_length for e in evaluations], pa.float64()),
    }
    return pa.table(columns)


def is_parquet(path: Path) -> bool:
    return path.suffix.lower() == ".parquet"


def write_csv(evaluations: Sequence[Evaluation], file: IO[bytes], header: bool = True) -> None:
    import pyarrow.csv as pcsv  # type: ignore[import-untyped, unused-ignore]

    options = pcsv.WriteOptions(include_header=header, quoting_style="needed")
    pcsv.write_csv(results_table(evaluations), file, options)


def write_atomically(path: Path, write: Callable[[IO[bytes]], None], sync: bool = True) -> None:
    """Writes a file under a temporary name beside it, then renames it to path.

    A reader finds the old file or the new one, whole; never a part of either.
    """
    temporary = path.with_name(f".{path.name}.tmp")
    try:
        with open(temporary, "wb") as file:
            write(file)
            file.flush()
            if sync:
                os.fsync(file.fileno())
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def write_results(evaluations: Sequence[Evaluation], path: Path) -> None:
    """Writes the results as CSV or Parquet, chosen by the file's extension."""
    if is_parquet(path):
        import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

        write_atomically(path, lambda file: pq.write_table(results_table(evaluations), file))
    else:
        write_atomically(path, lambda file: write_csv(evaluations, file))


class ResumeError(Exception):
    """An existing output file that --resume cannot go on from."""


def parts_folder(path: Path) -> Path:
    """Where the rows of a Parquet output wait, each batch in a file, to be folded in."""
    return path.with_name(path.name + ".parts")


def read_rows(path: Path) -> list[dict[str, Any]]:
    """The rows of an output file; with Parquet, those of its part files too.

    A CSV file's last line is left out unless whole (ending with a newline).
    """
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.csv as pcsv  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    schema = results_table([]).schema
    tables = []
    try:
        if is_parquet(path):
            files = [path] if path.exists() else []
            if parts_folder(path).is_dir():
                files += sorted(parts_folder(path).glob("part-*.parquet"))
            tables = [pq.read_table(f) for f in files]
        elif path.exists():
            data = path.read_bytes()
            data = data[: data.rfind(b"\n") + 1]
            if data:
                types = {name: schema.field(name).type for name in COLUMNS}
                options = pcsv.ConvertOptions(column_types=types)
                tables = [pcsv.read_csv(io.BytesIO(data), convert_options=options)]
    except (pa.ArrowException, OSError) as exc:
        raise ResumeError(f"cannot read {path}: {exc}") from None
    rows = []
    for table in tables:
        if tuple(table.column_names) != COLUMNS:
            raise ResumeError(f"{path} is not a file of results: its columns are not {COLUMNS}")
        rows += table.to_pylist()
    return rows


def read_kept(path: Path, positions: Sequence[Position], playouts: int) -> list[Evaluation]:
    """The positions already evaluated in an output file, matched by line number and SFEN.

    Every row must be a position of the input with the same number of playouts: otherwise
    the file is another run's, and going on would mix the two.
    """
    sfen_of = {p.line: p.sfen for p in positions}
    kept: dict[int, Evaluation] = {}
    for row in read_rows(path):
        line = row["line"]
        if None in row.values():
            raise ResumeError(f"{path}: the row of line {line} has an empty field")
        if sfen_of.get(line) != row["sfen"]:
            raise ResumeError(
                f"{path} holds a position the input does not have at line {line}: "
                f"{row['sfen']}; not resuming"
            )
        if row["playouts"] != playouts:
            raise ResumeError(
                f"{path} holds {row['playouts']:,} playouts for line {line}, not {playouts:,}:"
                f" run with --playouts {row['playouts']} to finish it"
            )
        e = Evaluation(
            line,
            row["sfen"],
            playouts,
            row["black_wins"],
            row["white_wins"],
            row["move_limit"],
            # The mean is the exact quotient of two integers: the sum comes back exactly.
            round(row["mean_moves"] * playouts),
        )
        if e.black_wins + e.white_wins + e.move_limit != playouts:
            raise ResumeError(f"{path}: the counts of line {line} do not add up to its playouts")
        kept.setdefault(line, e)
    return sorted(kept.values(), key=lambda e: e.line)


class ResultFile:
    """The output file, readable and holding whole rows at every moment of a run.

    It starts with the positions kept from an earlier run (none without --resume); the rows
    of positions that finish are added as they come; finish() rewrites it in input order.
    """

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        self.path = path
        self.rows = {e.line: e for e in kept}

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        self.rows.update((e.line, e) for e in evaluations)

    def finish(self) -> None:
        self.close()
        write_results(sorted(self.rows.values(), key=lambda e: e.line), self.path)

    def close(self) -> None:
        pass


class CsvResults(ResultFile):
    """A CSV file: rows are appended and flushed, each batch in one write."""

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        super().__init__(path, kept)
        write_results(kept, path)  # the header, and the rows kept
        self.file = open(path, "ab", buffering=0)  # noqa: SIM115 (closed by close())
        self.synced = time.monotonic()

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        super().add(evaluations)
        buffer = io.BytesIO()
        write_csv(evaluations, buffer, header=False)
        data = memoryview(buffer.getvalue())
        while data:
            data = data[self.file.write(data) or 0 :]
        if time.monotonic() - self.synced >= SYNC_SECONDS:
            os.fsync(self.file.fileno())
            self.synced = time.monotonic()

    def close(self) -> None:
        self.file.close()


class ParquetResults(ResultFile):
    """A Parquet file, which cannot be appended to: each batch of rows goes at once to a
    part file beside it, and the file is rewritten with them at most every FOLD_SECONDS
    (or 20 times as long as a rewrite takes), then the parts are removed."""

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        super().__init__(path, kept)
        write_results(kept, path)
        self.parts = parts_folder(path)
        shutil.rmtree(self.parts, ignore_errors=True)  # read by --resume, or another run's
        self.parts.mkdir()
        self.unfolded: list[Path] = []
        self.written = 0  # part files written
        self.folded = -math.inf
        self.fold_cost = 0.0

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

        super().add(evaluations)
        self.written += 1
        part = self.parts / f"part-{self.written:06d}.parquet"
        write_atomically(part, lambda f: pq.write_table(results_table(evaluations), f), False)
        self.unfolded.append(part)
        if time.monotonic() - self.folded >= max(FOLD_SECONDS, 20 * self.fold_cost):
            start = time.monotonic()
            write_results(sorted(self.rows.values(), key=lambda e: e.line), self.path)
            for part in self.unfolded:
                part.unlink()
            self.unfolded.clear()
            self.folded = time.monotonic()
            self.fold_cost = self.folded - start

    def finish(self) -> None:
        super().finish()
        shutil.rmtree(self.parts, ignore_errors=True)


def open_results(
    path: Path, positions: Sequence[Position], playouts: int, resume: bool
) -> ResultFile:
    """Starts the output file, with the positions it already holds when resuming.

    Raises OSError when the file cannot be written, ResumeError when it cannot be resumed.
    """
    kept = read_kept(path, positions, playouts) if resume else []
    kind = ParquetResults if is_parquet(path) else CsvResults
    return kind(path, kept)
