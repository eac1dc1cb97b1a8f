"""A USI engine on komaban: Monte Carlo tree search over native random playouts.

The `komaban-usi` command (`python -m komaban_tools.usi`) runs `main`.
"""

from .engine import AUTHOR, ENGINE_NAME, Mover, UsiEngine, main, random_move, serve
from .options import OPTIONS, Limits, Option, parse_go, think_time

__all__ = [
    "AUTHOR",
    "ENGINE_NAME",
    "OPTIONS",
    "Limits",
    "Mover",
    "Option",
    "UsiEngine",
    "main",
    "parse_go",
    "random_move",
    "serve",
    "think_time",
]
