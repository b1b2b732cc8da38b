"""Stamping the trigger time into 6 MB camera JPEGs: our in-memory stamp
against exiv2 and exiftool run afterwards on copies, as a user would batch
them (one invocation for all copies, start-up included)."""

import os
import shutil
import time

import procs
import results
import stats

PART = "1 Stamping"
DATE, SUBSEC = "2024:05:01 12:34:56", "789"


def _copies(shots, folder, count):
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    paths = []
    for i in range(count):
        path = os.path.join(folder, f"copy_{i + 1:02d}.jpg")
        shutil.copyfile(shots[i % len(shots)], path)
        paths.append(path)
    return paths


def _exif_times(path, timeout=60):
    status, out, _ = procs.run(["exiftool", "-q", "-s3", "-DateTimeOriginal",
                                "-SubSecTimeOriginal", path], timeout=timeout)
    return out.split() if status == 0 else []


TOOLS = {
    "exiv2": lambda files: ["exiv2", "-q", "-M", f"set Exif.Photo.DateTimeOriginal Ascii {DATE}",
                            "-M", f"set Exif.Photo.SubSecTimeOriginal Ascii {SUBSEC}", "modify"]
    + files,
    "exiftool": lambda files: ["exiftool", "-q", "-overwrite_original",
                               f"-DateTimeOriginal={DATE}", f"-SubSecTimeOriginal={SUBSEC}"]
    + files,
}


def _time_tool(name, shots, folder, copies, repeats):
    """Median seconds of one batch over repeats, fresh copies each time;
    None with a reason when the tool failed or did not set the values."""
    batches = []
    for _ in range(repeats):
        files = _copies(shots, folder, copies)
        start = time.monotonic()
        status, _, err = procs.run(TOOLS[name](files), timeout=600)
        batches.append(time.monotonic() - start)
        if status != 0:
            return None, f"{name} failed: {err.strip()[:200]}"
        got = _exif_times(files[-1])
        if got != DATE.split() + [SUBSEC]:
            return None, f"{name} did not set the values: {got}"
    return stats.median(batches), batches


def measure(build, shots, run_dir, quick):
    rows, samples = [], []
    repeats = 200 if quick else 1000
    ours_csv = os.path.join(run_dir, "stamp_ours.csv")
    stamped = os.path.join(run_dir, "stamp", "stamped.jpg")
    os.makedirs(os.path.dirname(stamped), exist_ok=True)
    status, out, err = procs.run([os.path.join(build, "bench", "measure", "bench_stamp_files"),
                                  str(repeats), ours_csv, stamped] + shots, timeout=300)
    ours = None
    if status == 0:
        with open(ours_csv) as f:
            us = [float(line.split(",")[2]) for line in list(f)[1:]]
        ours = stats.median(us)
        # The last time stamped must be what an independent reader finds.
        last = out.strip().replace("last stamp: ", "").replace(".", " ").split()
        if _exif_times(stamped) != last:
            ours = None
            err = f"the stamped image does not read back as {' '.join(last)}"
    mb = os.path.getsize(shots[0]) / 1e6
    if ours is None:
        rows.append(results.failed(PART, "ours (jpeg::stampImageBuffer), median", err.strip()))
    else:
        rows.append(results.below(PART, f"ours, {mb:.1f} MB JPEG in memory, median of "
                                  f"{len(us)}", ours, "us", 50))
        rows.append(results.Row(PART, "ours, mean / p99", f"{stats.mean(us):.2f} / "
                                f"{stats.percentile(us, 99):.2f}", "us"))

    copies = 5 if quick else 20
    tool_repeats = 1 if quick else 3
    for name in ("exiv2", "exiftool"):
        batch, detail = _time_tool(name, shots, os.path.join(run_dir, "stamp", name), copies,
                                   tool_repeats)
        if batch is None:
            rows.append(results.failed(PART, f"{name}, per image", detail))
            continue
        per_image_us = batch / copies * 1e6
        for seconds in detail:
            samples.append([name, copies, f"{seconds:.4f}"])
        rows.append(results.Row(PART, f"{name}: {copies} copies in one run (median of "
                                f"{tool_repeats})", batch * 1000, "ms"))
        rows.append(results.Row(PART, f"{name}, per image", per_image_us / 1000, "ms"))
        if ours:
            rows.append(results.Row(PART, f"ratio {name} / ours", f"{per_image_us / ours:,.0f}x"))
    results.write_samples(os.path.join(run_dir, "stamp_tools.csv"),
                          ["tool", "copies", "batch_seconds"], samples)
    shutil.rmtree(os.path.join(run_dir, "stamp"), ignore_errors=True)
    return rows
