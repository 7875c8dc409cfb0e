"""The download, dist/tillerbrookmint-<version>-win32.zip, as scripts/package
makes it: the shipped exe and what must travel with it, in a form Windows
users can read, with checksums that hold."""

import hashlib
import zipfile

import pytest

from conftest import TOP, built

EXE = "tillerbrookmint.exe"
SEND_TO = "Add to Send To.cmd"
TEXTS = ["Add to Send To.cmd", "LICENSE.txt", "README.txt", "THIRD-PARTY-NOTICES.txt"]
IJG_SENTENCE = "This software is based in part on the work of the Independent JPEG Group."
CODEC_SOURCE = TOP / ".deps" / "libjpeg-turbo-src"


@pytest.fixture(scope="module")
def entries(package_zip):
    with zipfile.ZipFile(package_zip) as archive:
        return {info.filename: (info, archive.read(info)) for info in archive.infolist()}


def text(entries, name):
    return entries[name][1].decode("utf-8")


def lf(crlf_text):
    return crlf_text.replace("\r\n", "\n")


def test_holds_exactly_the_program_and_its_companions(entries):
    assert sorted(entries) == sorted([EXE, "SHA256SUMS"] + TEXTS)


def test_the_exe_is_the_shipped_32_bit_build(entries):
    assert entries[EXE][1] == built(TOP / "build" / "win32" / EXE).read_bytes()


def test_text_files_have_windows_line_ends(entries):
    for name in TEXTS:
        data = entries[name][1]
        assert data.endswith(b"\r\n"), name
        assert data.count(b"\n") == data.count(b"\r\n"), f"{name} has a bare LF"
        assert data.count(b"\r") == data.count(b"\r\n"), f"{name} has a bare CR"


def test_checksums_list_every_other_file_and_hold(entries):
    listed = {}
    for line in text(entries, "SHA256SUMS").splitlines():
        digest, name = line.split("  ", 1)
        assert name not in listed, f"{name} listed twice"
        listed[name] = digest
    assert sorted(listed) == sorted(name for name in entries if name != "SHA256SUMS")
    for name, digest in listed.items():
        assert hashlib.sha256(entries[name][1]).hexdigest() == digest, name


def test_every_entry_has_the_same_fixed_time_and_no_unix_modes(entries):
    times = {info.date_time for info, _ in entries.values()}
    assert len(times) == 1, f"entries carry {len(times)} different times"
    for info, _ in entries.values():
        assert (info.create_system, info.external_attr) == (0, 0x20), info.filename


def test_licence_is_the_repository_mit_licence(entries):
    licence = lf(text(entries, "LICENSE.txt"))
    assert licence == (TOP / "LICENSE").read_text()
    assert licence.startswith("MIT License\n")


def test_notices_carry_the_codec_licences_whole(entries):
    notices = lf(text(entries, "THIRD-PARTY-NOTICES.txt"))
    assert IJG_SENTENCE in notices.splitlines()
    # The texts the licences require, unaltered: libjpeg-turbo's licence
    # file and README.ijg with the IJG License and its warranty terms.
    assert (CODEC_SOURCE / "LICENSE.md").read_text() in notices
    assert (CODEC_SOURCE / "README.ijg").read_text() in notices
    assert (TOP / "packaging" / "winpthreads-notice.txt").read_text() in notices


def test_readme_names_this_version_and_the_acknowledgement(entries, version):
    readme = lf(text(entries, "README.txt"))
    assert readme.splitlines()[0] == "Tillerbrookmint " + ".".join(map(str, version))
    assert "@" not in readme, "a placeholder is left"
    assert IJG_SENTENCE in readme.splitlines()


def test_send_to_script_is_the_repository_one(entries):
    shipped = lf(text(entries, SEND_TO))
    assert shipped == lf((TOP / "packaging" / SEND_TO).read_text())
