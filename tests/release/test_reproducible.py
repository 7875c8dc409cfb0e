"""Two builds of the same commit, from fresh clones at different paths, give
the same exe and the same zip: anyone can rebuild the download from the
source and compare it byte for byte. scripts/check-reproducible does the
building, a minute or two."""

import subprocess

from conftest import TOP


def test_two_builds_of_head_give_the_same_exe_and_zip():
    done = subprocess.run(
        [str(TOP / "scripts" / "check-reproducible")],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=1200,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.count("same bytes: ") == 2, done.stdout
