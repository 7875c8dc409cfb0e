""""Add to Send To.cmd" from the package, run by Wine's cmd in the project's
prefix (build/wine): the shortcut it makes in the user's Send To folder, read
back from the .lnk file's bytes.

Explorer starts a double-clicked script as cmd /c ""path" "; Wine turns
its own arguments into a command line that cannot carry those quotes, so the
tests start it as cmd /c call "path", which cmd reads the same way."""

import os
import pathlib
import pwd
import shutil
import subprocess
import zipfile

import pytest

import shell_link
from conftest import TOP

SCRIPT = "Add to Send To.cmd"
# Characters that cmd treats specially and letters outside ASCII, all in
# Windows-1252: Wine's ANSI code page under the C.UTF-8 locale set below,
# in which it writes the link's path.
FOLDER = "Zoë's Photos (x86) & Co!"
CODEPAGE = "cp1252"


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


@pytest.fixture
def send_to():
    """The Send To folder of the prefix's user, without the program's link
    before and after the test."""
    roaming = TOP / "build" / "wine" / "drive_c" / "users" / pwd.getpwuid(os.getuid()).pw_name
    folder = roaming / "AppData" / "Roaming" / "Microsoft" / "Windows" / "SendTo"
    link = folder / "Tillerbrookmint.lnk"
    link.unlink(missing_ok=True)
    yield folder
    link.unlink(missing_ok=True)


@pytest.fixture
def temp_folder():
    """The prefix user's temporary folder, where the script writes its
    helper."""
    user = pwd.getpwuid(os.getuid()).pw_name
    return TOP / "build" / "wine" / "drive_c" / "users" / user / "AppData" / "Local" / "Temp"


@pytest.fixture
def unpacked(package_zip, tmp_path):
    """The package as a user unpacks it, in a folder with an awkward name."""
    folder = tmp_path / FOLDER / package_zip.stem
    folder.mkdir(parents=True)
    with zipfile.ZipFile(package_zip) as archive:
        archive.extractall(folder)
    return folder


def run_script(folder):
    environment = dict(os.environ, LC_ALL="C.UTF-8")
    done = subprocess.run(
        [str(TOP / "scripts" / "wine-exec"), "cmd", "/c", "call", windows_path(folder / SCRIPT)],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        env=environment,
        timeout=120,
    )
    return done.returncode, done.stdout.decode(CODEPAGE, "replace")


def link_target(send_to):
    return shell_link.local_target((send_to / "Tillerbrookmint.lnk").read_bytes(), CODEPAGE)


def program_links(send_to):
    return sorted(path.name for path in send_to.iterdir() if "tillerbrookmint" in path.name.lower())


def test_makes_a_shortcut_to_the_exe_beside_it(unpacked, send_to, temp_folder):
    status, output = run_script(unpacked)
    assert status == 0, output
    assert "Added Tillerbrookmint to the Send To menu" in output
    assert program_links(send_to) == ["Tillerbrookmint.lnk"]
    assert link_target(send_to) == windows_path(unpacked / "tillerbrookmint.exe")
    assert not list(temp_folder.glob("tillerbrookmint-sendto-*")), "its helper script is left"


def test_run_again_from_a_new_place_it_replaces_the_shortcut(unpacked, send_to):
    assert run_script(unpacked)[0] == 0
    moved = unpacked.parent / "moved here"
    shutil.move(unpacked, moved)
    status, output = run_script(moved)
    assert status == 0, output
    assert program_links(send_to) == ["Tillerbrookmint.lnk"]
    assert link_target(send_to) == windows_path(moved / "tillerbrookmint.exe")


def test_without_the_exe_beside_it_it_fails_and_leaves_the_shortcut(unpacked, send_to, tmp_path):
    assert run_script(unpacked)[0] == 0
    before = (send_to / "Tillerbrookmint.lnk").read_bytes()
    alone = tmp_path / "script alone"
    alone.mkdir()
    shutil.copy(unpacked / SCRIPT, alone)
    status, output = run_script(alone)
    assert status == 1
    assert "tillerbrookmint.exe is not in this script's folder" in output
    assert (send_to / "Tillerbrookmint.lnk").read_bytes() == before
