#!/usr/bin/env python3
"""Summary and verdict of one scripts/demo run.

Reads the rig's CSV log, the image log, the dive folder and the images' Exif
times (through exiftool) and checks that every trigger produced one image
whose name and Exif capture time carry that trigger's time. Exits 0 when
everything agrees, 1 otherwise.
"""
import argparse
import csv
import json
import os
import re
import statistics
import subprocess
import sys
from datetime import datetime, timedelta

NAME_TIME = re.compile(r"VARNO_(\d{8})_(\d\d)\.(\d\d)\.(\d\d)\.(\d{3})\.jpg$")


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--run", required=True, help="run folder")
    parser.add_argument("--prefix", required=True, help="image prefix, relative to the run folder")
    parser.add_argument("--interval", type=int, required=True, help="trigger interval in ms")
    parser.add_argument("--server-images", required=True)
    parser.add_argument("--server-triggers", required=True)
    parser.add_argument("--server-end", required=True, help="ok, running, or what went wrong")
    return parser.parse_args()


def read_rig_log(path):
    """Returns the trigger, shot, error and rts rows of the rig's CSV log."""
    rows = {"trigger": [], "shot": [], "error": [], "rts": []}
    try:
        with open(path, newline="") as f:
            for row in csv.DictReader(f):
                if row.get("event") in rows:
                    rows[row["event"]].append(row)
    except OSError as e:
        print(f"cannot read the rig's log: {e}")
    return rows


def rig_time(row):
    """The rig's host clock reading, 2024-05-01T12:00:00.123456Z."""
    return datetime.strptime(row["utc"], "%Y-%m-%dT%H:%M:%S.%fZ")


def name_time(name):
    match = NAME_TIME.search(name)
    if not match:
        return None
    day, hh, mm, ss, ms = match.groups()
    return datetime.strptime(f"{day} {hh}:{mm}:{ss}.{ms}", "%Y%m%d %H:%M:%S.%f")


def exif_time(tags):
    """DateTimeOriginal plus SubSecTimeOriginal, or None when either is missing."""
    date = tags.get("DateTimeOriginal")
    sub = tags.get("SubSecTimeOriginal")
    if date is None or sub is None:
        return None
    try:
        return datetime.strptime(f"{date}.{sub}", "%Y:%m:%d %H:%M:%S.%f")
    except ValueError:
        return None


def read_image_log(path):
    """Names of the image log's lines, in the order the images were saved."""
    names = []
    lines = []
    try:
        with open(path) as f:
            lines = f.read().splitlines()
    except OSError:
        return names, lines
    for line in lines:
        fields = line.split(" ", 9)
        if len(fields) == 10:
            names.append(fields[9])
    return names, lines


def read_exif(paths):
    """Exif tags of each image, keyed by path; empty where exiftool gave none."""
    if not paths:
        return {}
    try:
        out = subprocess.run(
            ["exiftool", "-json", "-DateTimeOriginal", "-SubSecTimeOriginal", *paths],
            capture_output=True, text=True, check=False).stdout
        return {item["SourceFile"]: item for item in json.loads(out or "[]")}
    except (OSError, ValueError) as e:
        print(f"cannot read Exif times: {e}")
        return {}


def ms(delta):
    return delta / timedelta(milliseconds=1)


def show(t, exif=False):
    if t is None:
        return "(none)"
    text = t.strftime("%Y:%m:%d %H:%M:%S" if exif else "%Y-%m-%d %H:%M:%S")
    return f"{text}.{t.microsecond // 1000:03d}"


def main():
    args = parse_args()
    run = args.run
    dive_dir = os.path.dirname(args.prefix)
    problems = []

    rig = read_rig_log(os.path.join(run, "rig-log.csv"))
    triggers, shots, errors = rig["trigger"], rig["shot"], rig["error"]
    log_names, log_lines = read_image_log(os.path.join(run, args.prefix + "FileLog.log"))
    try:
        files = [f for f in os.listdir(os.path.join(run, dive_dir)) if f.lower().endswith(".jpg")]
    except OSError as e:
        print(f"cannot list the dive folder: {e}")
        files = []
    server_triggers = int(args.server_triggers) if args.server_triggers.isdigit() else -1
    server_images = int(args.server_images) if args.server_images.isdigit() else -1

    n = len(triggers)
    print("Summary")
    print(f"  Triggers sent: {args.server_triggers} (server count), {n} (rig's trigger lines)")
    print(f"  Images saved:  {args.server_images} (server count), {len(files)} (files in {dive_dir}/),"
          f" {len(log_lines)} (image-log lines)")
    if n == 0:
        problems.append("the rig saw no trigger")
    if server_triggers != n:
        problems.append(f"server counted {args.server_triggers} triggers, rig saw {n}")
    for what, count in (("server image count", server_images), ("files", len(files)),
                        ("image-log lines", len(log_lines)), ("rig shots", len(shots))):
        if count != n:
            problems.append(f"{what}: {count}, not {n}")
    if errors:
        problems.append(f"the rig could not make {len(errors)} shot(s)")

    print(f"  Image log ({args.prefix}FileLog.log), last lines:")
    for line in log_lines[-3:]:
        print(f"    {line}")

    # The n-th saved image belongs to the n-th trigger. Its name and Exif time
    # are the server's clock when it fired; the rig logs the byte's arrival.
    paths = [os.path.join(run, dive_dir, os.path.basename(name)) for name in log_names]
    exif = read_exif(paths)
    mismatched = []
    delays = []
    rows = []
    for i, path in enumerate(paths):
        named = name_time(path)
        stamped = exif_time(exif.get(path, {}))
        trigger = triggers[i] if i < len(triggers) else None
        fired = rig_time(trigger) if trigger else None
        if named is None or stamped != named:
            mismatched.append(os.path.basename(path))
        if named is not None and fired is not None:
            delays.append(ms(fired - named))
        rows.append((i + 1, os.path.basename(path), named, stamped, fired,
                     trigger["camera_time"] if trigger else ""))
    if mismatched:
        problems.append(f"{len(mismatched)} image(s) whose Exif time differs from the name: "
                        + ", ".join(mismatched[:3]))
    far = [d for d in delays if not 0 <= d < args.interval / 2]
    if far:
        problems.append(f"{len(far)} image(s) whose time is not within {args.interval // 2} ms"
                        " before the rig saw their trigger")

    print("  First and last image: time in the file name, Exif DateTimeOriginal.SubSecTimeOriginal,"
          " the rig's trigger time:")
    for number, name, named, stamped, fired, camera in (rows[:1] + rows[-1:] if len(rows) > 1 else rows):
        print(f"    #{number} {name}")
        print(f"       name {show(named)}   Exif {show(stamped, exif=True)}")
        if fired is not None:
            delay = f" (+{ms(fired - named):.1f} ms)" if named is not None else ""
            print(f"       rig trigger {fired.strftime('%H:%M:%S.%f')}{delay}, "
                  f"camera clock said {camera}")

    # The server sends RTS again on every pass while the lasers are wanted on,
    # so the rig logs runs of equal lines; a change is the first of a run.
    changes = []
    for row in rig["rts"]:
        if changes and changes[-1][0] == row["rts"]:
            changes[-1][2] += 1
        else:
            changes.append([row["rts"], rig_time(row), 1])
    print("  Laser line (rig's rts lines): " + (", ".join(
        f"{state} at {at.strftime('%H:%M:%S.%f')[:-3]}" + (f" ({count} lines)" if count > 1 else "")
        for state, at, count in changes) or "no change seen"))
    ons = [at for state, at, _ in changes if state == "on"]
    offs = [at for state, at, _ in changes if state == "off"]
    if not ons:
        problems.append("the lasers were never switched on")
    elif changes[-1][0] != "off":
        problems.append("the lasers were left on")
    elif triggers and not (ons[0] < rig_time(triggers[0]) and offs[-1] > rig_time(triggers[-1])):
        problems.append("the lasers were not on from before the first trigger to after the last")

    if args.server_end != "ok" and args.server_end != "running":
        problems.append(f"skerrow {args.server_end}")

    if problems:
        print("VERDICT: FAILED: " + "; ".join(problems))
        return 1
    spread = "n/a"
    if delays:
        spread = (f"{min(delays):.1f}-{max(delays):.1f} ms after the name's time, median "
                  f"{statistics.median(delays):.1f} ms")
    end = ", skerrow ended in order" if args.server_end == "ok" else ""
    print(f"VERDICT: OK: all {n} triggers produced {n} images; every name equals its Exif time"
          f" and its own trigger (the rig saw each trigger byte {spread}); lasers on before the first trigger and off after the last{end}.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
