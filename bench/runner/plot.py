"""The picture: trigger-spacing histograms (rig log) and the round-trip
distributions, drawn with gnuplot into a PNG."""

import math
import os

import procs

BIN_MS = 0.1


def _histogram(values, path):
    counts = {}
    for v in values:
        b = math.floor(v / BIN_MS)
        counts[b] = counts.get(b, 0) + 1
    with open(path, "w") as f:
        for b in sorted(counts):
            f.write(f"{(b + 0.5) * BIN_MS:.4f} {counts[b] / len(values) * 100:.4f}\n")


def _cdf(values, path):
    ordered = sorted(values)
    with open(path, "w") as f:
        for i, v in enumerate(ordered):
            f.write(f"{v:.4f} {(i + 1) / len(ordered) * 100:.4f}\n")


def draw(run_dir, spacings, idle, busy, title):
    """spacings: {interval ms: rig spacings in ms}. Returns the PNG's path,
    or None when gnuplot failed (its message printed)."""
    plots_left, plots_right = [], []
    for interval, values in sorted(spacings.items()):
        if values:
            path = os.path.join(run_dir, f"plot_spacing_{interval}.dat")
            _histogram([v - interval for v in values], path)
            plots_left.append(f"'{path}' using 1:2 with boxes fs transparent solid 0.5 "
                              f"title '{interval} ms interval ({len(values)} spacings)'")
    for name, values in (("idle", idle), ("busy", busy)):
        if values:
            path = os.path.join(run_dir, f"plot_rtt_{name}.dat")
            _cdf(values, path)
            what = "idle" if name == "idle" else "busy, 6 MB at 5/s"
            plots_right.append(f"'{path}' using 1:2 with lines lw 2 "
                               f"title '{what}: {len(values)} requests'")
    png = os.path.join(run_dir, "performance.png")
    script = [
        "set terminal pngcairo size 1400,600 font 'sans,11'",
        f"set output '{png}'",
        f"set multiplot layout 1,2 title '{title}'",
        "set grid",
        "set key top right",
        "set title 'Trigger spacing - interval, from the rig log'",
        "set xlabel 'spacing - interval (ms)'",
        "set ylabel 'spacings (%)'",
        f"set boxwidth {BIN_MS * 0.9}",
        "set style fill solid 0.5",
        "plot " + (", ".join(plots_left) if plots_left else "NaN title 'no data'"),
        "set title 'Command round trip (IMAGECOUNT), client on loopback'",
        "set xlabel 'round trip (ms, log scale)'",
        "set ylabel 'requests answered within (%)'",
        "set logscale x",
        "set key below",
        "set yrange [0:100]",
        "plot " + (", ".join(plots_right) if plots_right else "NaN title 'no data'"),
        "unset multiplot",
    ]
    script_path = os.path.join(run_dir, "performance.gp")
    with open(script_path, "w") as f:
        f.write("\n".join(script) + "\n")
    status, _, err = procs.run(["gnuplot", script_path], timeout=120)
    if status != 0:
        print(f"gnuplot failed: {err.strip()}")
        return None
    return png
