"""What the release tests share: the checkout, the project's version and the
built files they look at. scripts/test builds those first; run alone:

    cmake --build --preset win32 && cmake --build --preset win64
    scripts/package
    pytest-3 tests/release
"""

import pathlib
import re

import pytest

TOP = pathlib.Path(__file__).resolve().parents[2]


def project_version():
    """The x.y.z of project(... VERSION x.y.z) in CMakeLists.txt."""
    text = (TOP / "CMakeLists.txt").read_text()
    found = re.search(r"^project\(\s*tillerbrookmint\s+VERSION\s+(\d+)\.(\d+)\.(\d+)", text, re.M)
    assert found, "CMakeLists.txt has no project version"
    return tuple(int(part) for part in found.groups())


def built(path):
    if not path.is_file():
        pytest.fail(f"{path} is missing: build it first (see tests/release/conftest.py)")
    return path


@pytest.fixture(scope="session")
def version():
    return project_version()


@pytest.fixture(scope="session")
def package_zip(version):
    return built(TOP / "dist" / f"tillerbrookmint-{'.'.join(map(str, version))}-win32.zip")
