#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them:
    python3 fuzz/make_seeds.py
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
TAIL = b"chunked-installer-tail"


def record(payload, stored_length=None, digest=None):
    length = len(payload) if stored_length is None else stored_length
    return payload + struct.pack("<I", length) + (digest or hashlib.md5(payload).digest())


def stub(image=b"MZ" + b"\0" * 62):
    return record(image) + record(b"Reader.exe") + record(b"stub") + record(b"stub")


def file_group(name, file_name, data):
    return record(data) + record(file_name) + record(name) + record(b"file")


def value_group(name, text):
    return record(text) + record(name) + record(b"value")


def certificate():
    return b"\0" * 7 + b"certificate table"


def encoded(mode, *records):
    """An input of the encoded form: 0xB1, mode, then for each record its
    header, a stored length when it lies (flag 0x40), and its payload."""
    out = bytes([0xB1, mode])
    for payload, flags, *stored in records:
        out += bytes([flags | len(payload)])
        if flags & 0x40:
            out += struct.pack("<I", stored[0])
        out += payload
    return out


INSTALLER = b"#!/bin/sh\nexit 0\n"

ARCHIVE = {
    "example": stub() + file_group(b"installer32", b"setup.exe", INSTALLER)
    + value_group(b"executable32", b"%installer32%")
    + value_group(b"parameters", b'/V"PARTNERID=5 WEBINSTALLER=1 "')
    + value_group(b"msilog", b"ON") + record(TAIL) + certificate(),
    "unknown-kind-and-empty-name": stub() + file_group(b"", b"a.txt", b"")
    + record(b"x") + record(b"n") + record(b"Value")
    + value_group(b"v", b"first") + value_group(b"v", b"second") + record(TAIL),
    "stub-digest-differs": stub()[:64] + struct.pack("<I", 64) + b"\x5a" * 16 + stub()[84:]
    + value_group(b"executable32", b"x") + record(TAIL),
    "damaged-file-digest": stub() + record(b"data", digest=b"\0" * 16) + record(b"f.bin")
    + record(b"f") + record(b"file") + record(TAIL),
    "length-before-start": stub() + record(b"text", stored_length=0x7FFFFFFC) + record(b"name")
    + record(b"value") + record(TAIL),
    "tail-only": b"MZ" + b"\0" * 40 + record(TAIL),
    "encoded-file-and-value": encoded(
        0, (INSTALLER, 0), (b"setup.exe", 0), (b"installer32", 0), (b"file", 0),
        (b"%installer32%", 0), (b"executable32", 0), (b"value", 0)),
    "encoded-hostile-names": encoded(
        8, (b"x", 0), (b"..\\x", 0), (b"a", 0), (b"file", 0),
        (b"y", 0), (b"NUL", 0), (b"b", 0), (b"file", 0)),
    "encoded-lying-length": encoded(0, (b"text", 0x40, 0xFFFFFFFC), (b"name", 0), (b"value", 0x80)),
}

COMMAND_LINE = {
    "worked-example": b"\0".join([b"", b'/V"PARTNERID=5 WEBINSTALLER=1 "', b"ON", b"%installer32%",
                                  b"installer32=setup.exe"]),
    "silent-quoted": b"\0".join([b'/s /v"FOO=1"', b'/V"PARTNERID=5 WEBINSTALLER=1 "', b"ON",
                                 b"%installer32%", b"installer32=setup.exe"]),
    "bare-option": b"\0".join([b"/vFOO=1 /x", b"/Vx", b"on", b"%a%", b"a=%b%x", b"b=y"]),
    "cycles": b"\0".join([b"%a%%b%", b"%%b%%", b"", b"%self%", b"self=<%self%>", b"ping=p%pong%",
                          b"pong=q%ping%"]),
    "doubling": b"\0".join([b"", b'/V"%e3%"', b"ON", b"%e3%", b"e0=x", b"e1=%e0%%e0%", b"e2=%e1%%e1%",
                            b"e3=%e2%%e2%"]),
    "unclosed": b"\0".join([b'/V"unclosed /Vbare', b"no option", b"ON "]),
}


with open(os.path.join(HERE, "..", "tests", "fixtures", "registry", "values.reg"), "rb") as fixture:
    VALUES_REG = fixture.read()

UNINSTALL = (b"Windows Registry Editor Version 5.00\r\n\r\n"
             b"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvane]\r\n"
             b"\"InstallerLanguage\"=\"1031\"\r\n\"en_US_UK\"=\"1\"\r\n"
             b"\"InstallLang\"=hex(2):25,00,4c,00,41,00,4e,00,47,00,25,00,00,00\r\n")

REGISTRY = {
    "fixture-utf8": VALUES_REG,
    "uninstall-utf16": b"\xff\xfe" + UNINSTALL.decode("ascii").encode("utf-16-le"),
    "regedit4-and-deletions": b"REGEDIT4\n[HKEY_CURRENT_USER\\A\\B]\n@=\"x\"\n\"v\"=-\n"
    b"[-HKEY_CURRENT_USER\\A]\n\"gone\"=dword:1\n[HKEY_USERS\\\xc4\xd6]\n\"multi\"=hex(7):61,00,00,00,00,00\n",
    "faults": b"\xef\xbb\xbfWindows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:0g\n",
}


def pe_image(plus=False, data=b"x" * 100):
    """A PE32 (or PE32+) image: 512 bytes of headers and one section."""
    optional_size = 240 if plus else 224
    out = bytearray(512)
    out[0:2] = b"MZ"
    struct.pack_into("<I", out, 0x3C, 64)
    out[64:68] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", out, 68, 0x14C, 1, 0, 0, 0, optional_size, 0x102)
    struct.pack_into("<H", out, 88, 0x20B if plus else 0x10B)
    struct.pack_into("<II", out, 88 + 60, 512, 0x1234)  # headers' size, checksum
    struct.pack_into("<I", out, 88 + (108 if plus else 92), 16)
    table = 88 + optional_size
    out[table:table + 8] = b".text\0\0\0"
    struct.pack_into("<II", out, table + 16, len(data), 512)
    return bytes(out) + data


def signed(image):
    padded = image + bytes((8 - len(image) % 8) % 8)
    table = struct.pack("<IHH", 24, 0x200, 2) + b"s" * 16
    out = bytearray(padded)
    struct.pack_into("<II", out, 88 + 96 + 32, len(padded), len(table))
    return bytes(out) + table


PE_HEADER = {
    "pe32": pe_image(),
    "pe32-plus": pe_image(plus=True),
    "signed": signed(pe_image()),
    "truncated": pe_image()[:300],
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    write("archive_fuzzer", ARCHIVE)
    write("command_line_fuzzer", COMMAND_LINE)
    write("registry_fuzzer", REGISTRY)
    write("pe_header_fuzzer", PE_HEADER)
