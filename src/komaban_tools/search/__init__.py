"""Monte Carlo search for shogi on komaban's native random playouts.

Two searches share one interface (`step()` runs one iteration, `summary()`
reports the root): `TreeSearch`, UCT with proven results propagated, and
`FlatSearch`, flat Monte Carlo, for comparison. `find_mate` looks for a
forced mate by checks at a fixed depth, `solve_mate` (df-pn) proves or
disproves one; `merge` and `choose` pick the move from the root
statistics of one or several searches; `ParallelSearch` runs searches of one
position on worker processes.

>>> from komaban_tools.rules import GameState
>>> state = GameState.from_sfen("4k4/9/4G4/9/9/9/9/9/4K4 b G 1")  # Black mates with G*5b
>>> search = TreeSearch(state, Settings(mate_plies=0))
>>> while not search.solved:
...     search.step()
>>> choice = choose(merge([search.summary()]))
>>> choice.move, choice.mate
('G*5b', 1)
"""

from .choice import Choice, centipawns, choose, merge
from .dfpn import MateResult, solve_mate, solve_state
from .flat import FlatSearch, make_search
from .mate import find_mate
from .parallel import ParallelSearch
from .tree import TreeSearch
from .types import LOST, PLAIN, UNKNOWN, WON, ChildStats, Search, Settings, Summary

__all__ = [
    "LOST",
    "PLAIN",
    "UNKNOWN",
    "WON",
    "ChildStats",
    "Choice",
    "FlatSearch",
    "MateResult",
    "ParallelSearch",
    "Search",
    "Settings",
    "Summary",
    "TreeSearch",
    "centipawns",
    "choose",
    "find_mate",
    "make_search",
    "merge",
    "solve_mate",
    "solve_state",
]
