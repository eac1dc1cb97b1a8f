"""Monte Carlo evaluation of shogi positions on komaban's native random playouts.

The `komaban-evaluate` command (`python -m komaban_tools.evaluate`, see
`komaban_tools.evaluate.cli`) plays random games from each position of a file
of SFEN lines on every core or on a Dask cluster, and reports Black's score
with a 95 % interval as a table, CSV or Parquet and a chart, keeping what is
done through Ctrl-C and dead workers (`--resume`). It needs the `evaluate`
extra: `pip install "komaban[evaluate]"`.

In Python: `read_positions` reads the lines, `calibrate` times a few playouts
of each, `evaluate` plays them on a runner (`PoolRunner`, `DaskRunner`) and
returns a `Run` of `Evaluation`s.
"""

from .cli import main
from .runners import DaskRunner, PoolRunner, Run, evaluate
from .tasks import Evaluation, Position, calibrate, play_task, read_positions

__all__ = [
    "DaskRunner",
    "Evaluation",
    "PoolRunner",
    "Position",
    "Run",
    "calibrate",
    "evaluate",
    "main",
    "play_task",
    "read_positions",
]
