#!/usr/bin/python3
"""Reads a built Windows program the way Windows does and checks what a
release must carry: the manifest, the version information (the project's
version), the icon sizes, a stripped GUI executable under 512 KiB that
imports only Windows' own DLLs and loads later ones from System32 alone;
then, when given, the release zip.
Debian's tools read it: python3-pefile, and icoutils for the icon.
Ends with 'N passed, N failed'.

    python3 -m tests.release.check_windows_release EXE [ZIP]    (from the repository)"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

import pefile

from tests.e2e.checks import Checks

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
ASM1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WS2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
SYSTEM_DLLS = {"ADVAPI32.DLL", "GDI32.DLL", "KERNEL32.DLL", "OLE32.DLL",
               "USER32.DLL", "MSVCRT.DLL"}


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(digestbox VERSION ([0-9.]+)", f.read()).group(1)


def resources(pe, type_id):
    """{(name id, language): bytes} of one resource type."""
    out = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != type_id:
            continue
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                entry = lang.data.struct
                out[(name.id, lang.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return out


def check_manifest(checks, pe, version):
    manifests = resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])
    checks.check("one manifest, id 1", [k[0] for k in manifests] == [1], manifests.keys())
    if len(manifests) != 1:
        return
    text = next(iter(manifests.values()))
    root = ET.fromstring(text)
    identity = root.find(ASM1 + "assemblyIdentity")
    checks.check("manifest: the program's identity and version",
                 identity is not None and identity.get("name") == "digestbox" and
                 identity.get("version") == version + ".0", ET.tostring(identity))
    level = root.find(".//%srequestedExecutionLevel" % ASM3)
    checks.check("manifest: asInvoker, so no virtualization",
                 level is not None and level.get("level") == "asInvoker")
    controls = [d for d in root.iter(ASM1 + "assemblyIdentity")
                if d.get("name") == "Microsoft.Windows.Common-Controls"]
    checks.check("manifest: Common-Controls 6.0.0.0",
                 len(controls) == 1 and controls[0].get("version") == "6.0.0.0" and
                 controls[0].get("publicKeyToken") == "6595b64144ccf1df")
    settings = root.find(".//%swindowsSettings" % ASM3)

    def setting(ns, name):
        node = settings.find(ns + name) if settings is not None else None
        return node.text.strip() if node is not None and node.text else None

    checks.check("manifest: per-monitor DPI awareness, with the older form",
                 setting(WS2016, "dpiAwareness") == "PerMonitorV2, PerMonitor" and
                 setting(WS2005, "dpiAware") == "true/pm")
    checks.check("manifest: long paths", setting(WS2016, "longPathAware") == "true")
    checks.check("manifest: no activeCodePage: digest files keep the ANSI code page",
                 not any(node.tag.endswith("activeCodePage") for node in root.iter()))
    systems = {node.get("Id") for node in root.iter(COMPAT + "supportedOS")}
    checks.check("manifest: Windows 7, 8, 8.1 and 10/11", systems == SUPPORTED_OS, systems)


def check_version(checks, pe, version):
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF]
    checks.check("version: the fixed file version is the project's",
                 numbers == [int(n) for n in version.split(".")] + [0], numbers)
    tables = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables[table.LangID.decode().upper()] = {
                    k.decode(): v.decode() for k, v in table.entries.items()}
    japanese = tables.get("041104B0", {})
    english = tables.get("040904B0", {})
    for name, strings in (("Japanese", japanese), ("English", english)):
        checks.check("version: %s strings" % name,
                     strings.get("FileVersion") == version and
                     strings.get("ProductVersion") == version and
                     strings.get("ProductName") == "digestbox" and
                     strings.get("InternalName") == "digestbox" and
                     strings.get("OriginalFilename") == "digestbox.exe" and
                     "the digestbox authors" in strings.get("LegalCopyright", "") and
                     bool(strings.get("FileDescription")), strings)
    checks.check("version: the Japanese description is Japanese",
                 "ダイジェスト" in japanese.get("FileDescription", ""))


def check_icon(checks, exe):
    with tempfile.TemporaryDirectory() as work:
        icon = os.path.join(work, "icon.ico")
        with open(icon, "wb") as f:
            subprocess.run(["wrestool", "-x", "-t", "14", exe], stdout=f, check=True)
        listing = subprocess.run(["icotool", "-l", icon], capture_output=True,
                                 text=True).stdout
    sizes = sorted(int(w) for w in re.findall(r"--width=(\d+)", listing))
    checks.check("icon: 16, 32, 48 and 256 px", sizes == [16, 32, 48, 256], listing)


def check_executable(checks, pe, exe):
    checks.check("a 32-bit GUI program",
                 pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"] and
                 pe.OPTIONAL_HEADER.Subsystem ==
                 pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
    dlls = {entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    checks.check("imports only Windows' own DLLs", dlls <= SYSTEM_DLLS, dlls)
    check_dll_search(checks, pe)
    size = os.path.getsize(exe)
    checks.check("under 512 KiB (%d bytes)" % size, size < 512 * 1024)
    sections = {s.Name.rstrip(b"\0").decode() for s in pe.sections}
    checks.check("stripped: no symbols, no debug sections",
                 pe.FILE_HEADER.PointerToSymbolTable == 0 and
                 not any(name.startswith(".debug") for name in sections), sections)


def check_dll_search(checks, pe):
    """DLLs loaded later come from System32 only: SetDefaultDllDirectories
    is looked up by name at run time (a static import would keep the program
    from starting on a Windows 7 without KB2533623), never imported."""
    imported = {imp.name for entry in pe.DIRECTORY_ENTRY_IMPORT
                for imp in entry.imports if imp.name}
    data = pe.__data__[:]
    checks.check("SetDefaultDllDirectories looked up, not imported",
                 b"SetDefaultDllDirectories\0" in data and
                 b"SetDefaultDllDirectories" not in imported and
                 b"GetProcAddress" in imported, sorted(imported))


def check_pe_flags(checks, pe):
    """Terminal-server aware and subsystem 6.01 (Windows 7, as the manifest
    says); on 32 bits large-address-aware, on 64 bits high-entropy ASLR."""
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    wide = pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    bits = 64 if wide else 32
    checks.check("%d-bit: terminal-server aware" % bits,
                 flags & 0x8000 != 0, hex(flags))
    subsystem = (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
                 pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    checks.check("%d-bit: subsystem version 6.01" % bits, subsystem == (6, 1),
                 subsystem)
    if wide:
        checks.check("64-bit: high-entropy ASLR", flags & 0x0020 != 0, hex(flags))
    else:
        large = pe.FILE_HEADER.Characteristics & 0x0020  # LARGE_ADDRESS_AWARE
        checks.check("32-bit: large-address-aware", large != 0,
                     hex(pe.FILE_HEADER.Characteristics))


def check_signing(checks, files):
    """The release is unsigned without a certificate; with one (a throwaway
    code-signing certificate made here), scripts/sign.sh signs the program
    and the installer so that osslsigncode verifies both."""
    with tempfile.TemporaryDirectory() as work:
        key, cert, p12 = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "test.p12"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", key, "-out", cert, "-days", "2",
                        "-subj", "/CN=digestbox test signer",
                        "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert,
                        "-out", p12, "-passout", "pass:not secret"],
                       check=True, capture_output=True)
        env = dict(os.environ, DIGESTBOX_SIGN_P12=p12, DIGESTBOX_SIGN_PASS="not secret")
        for path in files:
            name = os.path.basename(path)
            unsigned = subprocess.run(["osslsigncode", "verify", "-in", path],
                                      capture_output=True, text=True)
            checks.check("%s: unsigned as built without a certificate" % name,
                         unsigned.returncode != 0, unsigned.stdout[-300:])
            copy = os.path.join(work, name)
            shutil.copy(path, copy)
            subprocess.run([os.path.join(ROOT, "scripts", "sign.sh"), copy], env=env,
                           check=True)
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert,
                                       "-in", copy], capture_output=True, text=True)
            checks.check("%s: signed with SHA-256, the signature verifies" % name,
                         verified.returncode == 0 and "sha256" in verified.stdout.lower(),
                         verified.stdout[-600:] + verified.stderr[-300:])


def check_zip(checks, zip_path, exe, version):
    checks.check("zip named after the version",
                 os.path.basename(zip_path) == "digestbox-%s-win32.zip" % version)
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(archive.namelist())
        checks.check("zip: the program, the readme and the licence",
                     names == ["LICENSE.txt", "README.txt", "digestbox.exe"], names)
        if "digestbox.exe" in names:
            with open(exe, "rb") as f:
                checks.check("zip: the release executable itself",
                             archive.read("digestbox.exe") == f.read())
        for name in ("README.txt", "LICENSE.txt"):
            data = archive.read(name) if name in names else b""
            checks.check("zip: %s has CR LF line ends only" % name,
                         data.count(b"\n") > 0 and
                         data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r"))
        modes = {i.filename: oct(i.external_attr >> 16) for i in archive.infolist()}
        checks.check("zip: fixed modes, whoever built it under whatever umask",
                     modes == {"digestbox.exe": "0o100755", "README.txt": "0o100644",
                               "LICENSE.txt": "0o100644"}, modes)
        readme = archive.read("README.txt") if "README.txt" in names else b""
        text = readme[3:].decode("utf-8", "replace")
        checks.check("zip: the readme is UTF-8 with a byte-order mark, Japanese first",
                     readme.startswith(b"\xEF\xBB\xBF") and version in text and
                     0 <= text.find("日本語") < text.find("English"))


def main():
    if sys.argv[1] == "--pe-flags":
        checks = Checks()
        check_pe_flags(checks, pefile.PE(sys.argv[2], fast_load=True))
        return checks.summary()
    exe = sys.argv[1]
    version = project_version()
    checks = Checks()
    pe = pefile.PE(exe)
    check_executable(checks, pe, exe)
    check_pe_flags(checks, pe)
    check_manifest(checks, pe, version)
    check_version(checks, pe, version)
    check_icon(checks, exe)
    if len(sys.argv) > 2:
        check_zip(checks, sys.argv[2], exe, version)
    if len(sys.argv) > 3:
        check_signing(checks, [exe, sys.argv[3]])
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
