"""Intervals for scores: the Wilson interval of a proportion, Elo differences of a match.

>>> low, high = wilson_interval(0.5, 100)
>>> round(low, 3), round(high, 3)
(0.404, 0.596)
>>> round(elo(0.75))
191
"""

from __future__ import annotations

import math
import statistics

# The two-sided 95 % quantile of the standard normal distribution.
Z_95 = statistics.NormalDist().inv_cdf(0.975)


def wilson_interval(score: float, n: int, z: float = Z_95) -> tuple[float, float]:
    """The Wilson score interval of a proportion `score` observed over n trials."""
    if n <= 0:
        return 0.0, 1.0
    centre = score + z * z / (2 * n)
    spread = z * math.sqrt(score * (1 - score) / n + z * z / (4 * n * n))
    scale = 1 + z * z / n
    # The interval lies within 0 to 1 and holds the score; rounding must not move it out.
    low = max(0.0, min(score, (centre - spread) / scale))
    high = min(1.0, max(score, (centre + spread) / scale))
    return low, high


def elo(score: float) -> float:
    """The Elo difference that gives an expected score `score` (0 to 1)."""
    if score <= 0:
        return -math.inf
    if score >= 1:
        return math.inf
    return -400 * math.log10(1 / score - 1)


def elo_interval(wins: int, draws: int, losses: int) -> tuple[float, float, float]:
    """The Elo difference of a match's score and its 95 % interval.

    The interval is that of the mean score per game (a win 1, a draw 1/2) by
    the normal approximation, or, when every game went one way, the Wilson
    interval of the score, which does not collapse to a point.
    """
    n = wins + draws + losses
    mu = (wins + draws / 2) / n
    if wins == n or losses == n or draws == n:
        low, high = wilson_interval(mu, n)
    else:
        variance = (wins * (1 - mu) ** 2 + draws * (0.5 - mu) ** 2 + losses * mu**2) / n
        half = Z_95 * math.sqrt(variance / n)
        low, high = mu - half, mu + half
    return elo(mu), elo(low), elo(high)
