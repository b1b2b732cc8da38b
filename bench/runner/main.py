"""Runs every measurement on the release build and prints one table.

    main.py --build DIR --out DIR [--quick]

Writes results.csv, the raw samples (CSV) and performance.png into the run
folder given with --out. Exit status 1 when a target is missed or a figure
could not be measured."""

import argparse
import os
import sys
import time

import command_idle
import pairing
import plot
import procs
import results
import saving
import server_log_rate
import shots as shot_cache
import spacing
import stamping
import sustained
import wine_spacing


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--cache", required=True, help="folder for the rendered shots")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", choices=["spacing", "sustained"],
                        help="run one part alone (no picture)")
    args = parser.parse_args()
    procs.install_signal_handlers()
    os.makedirs(args.out, exist_ok=True)
    started = time.monotonic()
    load_start = load_average()
    try:
        rows, png = measure(args)
        # Timings on a shared machine are read against what else ran.
        rows.append(results.Row("0 Machine", f"load average (1 min) at start / end, "
                                f"{os.cpu_count()} cores", f"{load_start} / {load_average()}"))
    except procs.Interrupted as stop:
        print(f"\nbench: stopped by {stop}", file=sys.stderr)
        return 130
    finally:
        procs.stop_all()
    rows.sort(key=lambda r: r.part.split()[0])
    results.write_csv(os.path.join(args.out, "results.csv"), rows)
    with open(os.path.join(args.out, "table.md"), "w") as f:
        f.write(results.markdown_table(rows) + "\n")
    print()
    print(results.table_text(rows))
    print()
    print(f"({'quick' if args.quick else 'full'} run, {time.monotonic() - started:.0f} s; "
          f"data in {args.out}{', picture ' + png if png else ''})")
    bad = [r for r in rows if r.result in (results.FAIL, results.ERROR)]
    for r in bad:
        print(f"{r.result}: {r.part}: {r.figure}{': ' + r.note if r.note else ''}")
    return 1 if bad or (not png and not args.only) else 0


def load_average():
    try:
        with open("/proc/loadavg") as f:
            return f.read().split()[0]
    except OSError:
        return "?"


def step(name):
    print(f"== {name}", flush=True)


def measure(args):
    build, out, quick = args.build, args.out, args.quick
    step("rendering the shots (once)")
    small = shot_cache.ensure(build, args.cache, shot_cache.SMALL)
    # The spacing part alone needs only the small shot.
    shots = small if args.only == "spacing" else shot_cache.ensure(build, args.cache)
    rows = []
    if not shots or not small:
        rows.append(results.failed("0 Shots", "camera shots", "rendering failed"))
        return rows, None
    if args.only == "spacing":
        return measure_spacing(build, out, quick, small, {}), None
    if args.only == "sustained":
        sustained_rows, _ = sustained.measure(build, shots, out, quick)
        return pairing.measure(build, quick) + sustained_rows, None
    step("1 stamping: ours, exiv2, exiftool")
    rows += stamping.measure(build, shots, out, quick)
    rows += pairing.measure(build, quick)
    step("2 saving: the data procedure")
    rows += saving.measure(build, shots, out, quick)
    step("3 command round trip, idle server")
    idle_rows, idle = command_idle.measure(build, out)
    rows += idle_rows
    spacings = {}
    rows += measure_spacing(build, out, quick, small, spacings)
    step(f"5 sustained acquisition, {'30 s (quick)' if quick else '5 min'}, "
         "with busy round trips")
    sustained_rows, busy = sustained.measure(build, shots, out, quick)
    rows += sustained_rows
    step("6 server log: entries per second, flushed and unflushed")
    rows += server_log_rate.measure(build, out, quick)
    step("7 picture")
    title = ("Skerrow performance (quick run)" if quick else "Skerrow performance")
    png = plot.draw(out, spacings, idle, busy, title)
    return rows, png


def measure_spacing(build, out, quick, small, spacings):
    """Part 4: idle at 100 and 1000 ms, then 100 ms beside CPU-bound
    processes. Fills spacings {interval: rig spacings} from the idle runs."""
    rows = []
    for interval, count in ((100, 150 if quick else 300), (1000, 15 if quick else 100)):
        step(f"4 trigger spacing: {count} triggers at {interval} ms")
        spacing_rows, spacings[interval] = spacing.run(build, out, interval, count, quick,
                                                       os.path.dirname(small[0]))
        rows += spacing_rows
    count = 150 if quick else 300
    step(f"4 trigger spacing: {count} triggers at 100 ms, {spacing.LOADERS} CPU-bound processes")
    loaded_rows, _ = spacing.run(build, out, 100, count, quick, os.path.dirname(small[0]),
                                 loaded=True)
    step("4 trigger spacing: the 32- and 64-bit Windows builds under Wine, 300 at 100 ms")
    return rows + loaded_rows + wine_spacing.measure()


if __name__ == "__main__":
    sys.exit(main())
