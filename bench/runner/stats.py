"""Summaries of samples: nearest-rank percentiles, so every figure reported
is a value that was actually measured."""

import math


def percentile(values, p):
    """The p-th percentile (0-100) by nearest rank; None for no values."""
    if not values:
        return None
    ordered = sorted(values)
    rank = max(1, math.ceil(p / 100.0 * len(ordered)))
    return ordered[rank - 1]


def mean(values):
    return sum(values) / len(values) if values else None


def median(values):
    return percentile(values, 50)
