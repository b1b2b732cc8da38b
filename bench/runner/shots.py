"""Shots made once with the rig's renderer and kept for later runs, with
big-endian Exif and a thumbnail as the rig's camera writes them: camera-size
ones of 6016 x 4016 pixels, the texture amplitude chosen so that a shot is
about 6 MB, the size the targets are stated for; and one small shot for runs
where the rig should not spend the machine's time rendering."""

import glob
import os

import procs

LARGE = (6016, 4016, 9, 4)
SMALL = (640, 480, 0, 1)


def ensure(build, cache_root, kind=LARGE):
    """The paths of the shots of kind (width, height, noise, count),
    rendered when missing; [] with a message printed when rendering fails."""
    width, height, noise, count = kind
    folder = os.path.join(cache_root, f"shots-{width}x{height}-noise{noise}")
    # Hidden, so the rig's replay (which skips dot files) can use the folder.
    done = os.path.join(folder, ".complete")
    if not os.path.exists(done):
        os.makedirs(folder, exist_ok=True)
        for old in glob.glob(os.path.join(folder, "shot_*")):
            os.remove(old)
        status, out, err = procs.run(
            [os.path.join(build, "bench", "measure", "bench_render_shots"), folder, str(count),
             str(width), str(height), str(noise)], timeout=300)
        if status != 0:
            print(f"rendering the shots failed: {err.strip()}")
            return []
        open(done, "w").close()
    return sorted(glob.glob(os.path.join(folder, "shot_*.jpg")))
