"""The built exe, read back from its bytes: the manifest Windows applies at
start-up, the version information and icon Explorer shows, and imports that
need nothing beyond Windows itself. The shipped 32-bit build and the 64-bit
one the end-to-end tests run share the resource script; both are checked."""

import re
import xml.etree.ElementTree as ET

import pytest

import pe
from conftest import TOP, built

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}

# DLLs every Windows from 7 on has in its system folder.
SYSTEM_DLLS = {
    "advapi32.dll",
    "comctl32.dll",
    "comdlg32.dll",
    "gdi32.dll",
    "kernel32.dll",
    "msvcrt.dll",
    "ole32.dll",
    "shell32.dll",
    "user32.dll",
}

BUILDS = {"win32": pe.MACHINE_I386, "win64": pe.MACHINE_AMD64}


@pytest.fixture(scope="module", params=sorted(BUILDS))
def exe(request):
    path = built(TOP / "build" / request.param / "tillerbrookmint.exe")
    return request.param, pe.PeFile(path.read_bytes())


def manifest(exe_file):
    # Id 1 is the one Windows applies to the process an exe starts; a
    # manifest under another id would be ignored.
    manifests = exe_file.resources().get(pe.RT_MANIFEST, {})
    assert list(manifests) == [1], f"manifest ids {list(manifests)}, not [1]"
    return ET.fromstring(exe_file.resource(pe.RT_MANIFEST, 1))


def test_header_is_a_timeless_gui_program_for_its_machine(exe):
    name, exe_file = exe
    assert exe_file.machine == BUILDS[name]
    assert exe_file.subsystem == pe.SUBSYSTEM_WINDOWS_GUI
    assert exe_file.timestamp == 0, "a link time in the header: builds differ by when they ran"


def test_exe_is_large_address_aware(exe):
    # Without the flag a 32-bit process gets 2 GiB of address space, in which a
    # 200 MP photo's pixel block and output buffer do not both fit; with it, 4
    # GiB on 64-bit Windows. 64-bit links carry it by default.
    _, exe_file = exe
    assert exe_file.characteristics & pe.FILE_EXECUTABLE_IMAGE
    assert exe_file.characteristics & pe.FILE_LARGE_ADDRESS_AWARE, (
        f"Characteristics {exe_file.characteristics:#06x} lack LARGE_ADDRESS_AWARE (0x0020)")


def test_imports_only_system_dlls(exe):
    _, exe_file = exe
    imported = {name.lower() for name in exe_file.imported_dlls()}
    assert "kernel32.dll" in imported
    assert imported <= SYSTEM_DLLS, f"needs DLLs beside it: {sorted(imported - SYSTEM_DLLS)}"


def test_manifest_makes_the_ansi_code_page_utf8_and_the_program_dpi_aware(exe):
    _, exe_file = exe
    root = manifest(exe_file)
    assert root.tag == ASM_V1 + "assembly"
    settings = root.findall(f"{ASM_V3}application/{ASM_V3}windowsSettings")
    assert len(settings) == 1
    code_pages = settings[0].findall(SETTINGS_2019 + "activeCodePage")
    assert [element.text for element in code_pages] == ["UTF-8"]
    dpi = settings[0].findall(SETTINGS_2005 + "dpiAware")
    assert [element.text for element in dpi] == ["true"]


def test_manifest_names_windows_7_to_11_and_common_controls_6(exe):
    _, exe_file = exe
    root = manifest(exe_file)
    systems = root.findall(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/"
                           f"{COMPATIBILITY}supportedOS")
    assert {element.get("Id") for element in systems} == SUPPORTED_OS
    dependencies = [
        element.attrib
        for element in root.findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/"
                                    f"{ASM_V1}assemblyIdentity")
    ]
    assert dependencies == [{
        "type": "win32",
        "name": "Microsoft.Windows.Common-Controls",
        "version": "6.0.0.0",
        "processorArchitecture": "*",
        "publicKeyToken": "6595b64144ccf1df",
        "language": "*",
    }]


def test_version_information_shows_the_project_version(exe, version):
    _, exe_file = exe
    data = exe_file.resource(pe.RT_VERSION, 1)
    assert data is not None, "no version information"
    file_version, product_version, strings = pe.read_version(data)
    assert file_version == version + (0,)
    assert product_version == version + (0,)
    text = ".".join(map(str, version))
    assert strings["FileVersion"] == text
    assert strings["ProductVersion"] == text
    assert strings["ProductName"] == "Tillerbrookmint"
    assert strings["OriginalFilename"] == "tillerbrookmint.exe"
    for name in ("FileDescription", "CompanyName", "LegalCopyright"):
        assert strings.get(name, "").strip(), f"no {name}"
    assert "MIT" in strings["LegalCopyright"]


def test_icon_is_the_first_group_under_its_documented_id(exe):
    _, exe_file = exe
    header = (TOP / "src" / "resources" / "resource.h").read_text()
    icon_id = int(re.search(r"#define IDI_TILLERBROOKMINT (\d+)", header).group(1))
    assert 100 <= icon_id <= 199, "icons take ids 100 to 199 (resource.h)"
    groups = exe_file.resources().get(pe.RT_GROUP_ICON, {})
    assert groups, "no icon"
    # Explorer shows an exe's first icon group, ids in ascending order.
    assert sorted(groups, key=lambda name: (isinstance(name, int), name))[0] == icon_id

    entries = pe.read_icon_group(exe_file.resource(pe.RT_GROUP_ICON, icon_id))
    assert {(width, height) for width, height, *_ in entries} >= {(16, 16), (32, 32), (48, 48)}
    for width, height, _, size, image_id in entries:
        image = exe_file.resource(pe.RT_ICON, image_id)
        assert image is not None, f"the {width}x{height} image {image_id} is missing"
        assert len(image) == size
        assert pe.icon_image_size(image) == (width, height)
