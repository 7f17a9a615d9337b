#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Most seeds come from the unit tests' own tables: the complete JSON bodies written as raw string
literals in the protocol and classification tests, and the inputs of the URL parser's tables.
A few more are listed here, for shapes the tables only build with helpers (a capture with every
member, application replies with a preflight) and for the binary frames and property lists that
the tests compose in code. Each seed is stored under the first 16 hex digits of its SHA-1, as
libFuzzer names its own finds, so that running the script again changes nothing.

Run it from anywhere: python3 fuzz/make_corpus.py [--clean]
"""

import hashlib
import pathlib
import re
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"

RAW_STRING = re.compile(r'R"\((.*?)\)"', re.S)
C_STRING = r'"((?:[^"\\\n]|\\.)*)"'


def raw_json_objects(*test_files):
    """Raw string literals of the test files that are whole JSON objects."""
    seeds = []
    for name in test_files:
        text = (ROOT / name).read_text(encoding="utf-8")
        for literal in RAW_STRING.findall(text):
            if literal.startswith("{") and literal.endswith("}"):
                seeds.append(literal.encode("utf-8"))
    return seeds


def c_string_bytes(literal):
    """The bytes of a C string literal's contents (escapes \\n, \\t, \\\\, \\", \\xHH)."""
    out = bytearray()
    i = 0
    while i < len(literal):
        c = literal[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        escape = literal[i + 1]
        if escape == "x":
            digits = re.match(r"[0-9A-Fa-f]+", literal[i + 2:]).group(0)
            out.append(int(digits, 16) & 0xFF)
            i += 2 + len(digits)
        else:
            out += {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0"}.get(escape, escape.encode())
            i += 2
    return bytes(out)


def url_table_inputs(test_file):
    """The input column of the URL parser's HrefCase tables: {"name", "input", ...}."""
    text = (ROOT / test_file).read_text(encoding="utf-8")
    pattern = re.compile(r'HrefCase\{\s*' + C_STRING + r'\s*,\s*' + C_STRING)
    return [c_string_bytes(match.group(2)) for match in pattern.finditer(text)]


def frame(body):
    return struct.pack("<I", len(body)) + body


SIMPLE = (b'{"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu",'
          b'"browser":"chrome","url":"HTTPS://Example.TEST:443/a#top"}')
FULL_CAPTURE = (
    b'{"protocolVersion":4,"requestId":"r-2","captureId":"c-2","action":"capture_prepare",'
    b'"source":"automatic_download","browser":"firefox","browserDownloadId":-5,'
    b'"url":"https://example.test/f.zip","observed":{"finalUrl":"https://cdn.example.test/f.zip",'
    b'"mime":"application/zip","totalBytes":1048576,"etag":"\\"abc\\"","extra":{"a":[1,{}]}},'
    b'"cookies":[{"name":"sid","value":"v","path":"/","secure":true}],"downloadName":"f.zip",'
    b'"initiatorOrigin":"https://example.test","revalidateResponse":false}')

HAND_WRITTEN = {
    "classify_fuzz": [
        SIMPLE,
        FULL_CAPTURE,
        b'{"protocolVersion":4,"requestId":"r-3","captureId":"c-3","action":"capture_preflight",'
        b'"source":"automatic_download","url":"http://\\u00fc.example/a b?q#f"}',
        b'{"protocolVersion":4,"requestId":"r-4","captureId":"c-4",'
        b'"action":"capture_revoke_credentials","source":"automatic_download"}',
        b"hello",
        b"{}",
    ],
    "app_reply_fuzz": [
        b'{"protocolVersion":1,"requestId":"r1","code":"ACCEPTED"}',
        b'{"protocolVersion":7,"requestId":"r1","code":"APP_REJECTED"}',
        b'{"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"prepared",'
        b'"code":"CAPTURE_PREPARED"}',
        b'{"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"committed",'
        b'"code":"ACCEPTED","preflight":{"ok":true,"status":200,"finalUrl":"https://a.test/",'
        b'"contentType":"text/plain","contentDisposition":"attachment","totalBytes":-1,"x":null}}',
        b'{"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"unknown",'
        b'"code":"CAPTURE_UNKNOWN","preflight":null}',
        b'{"protocolVersion":1,"requestId":"r-1","url":"https://example.test/a"}',
        FULL_CAPTURE.replace(b'"source":"automatic_download",', b""),
    ],
    "frame_fuzz": [
        b"",
        frame(b"{}"),
        b"\x02\x00\x00",
        b"\x05\x00\x00\x00{}",
        b"\x00\x00\x00\x00",
        b"\x00\x00\x00\x01",
        struct.pack("<I", 65537),
        struct.pack("<I", 70000) + b"{}",
        frame(b"{}") + frame(b'{"a":1}') + frame(b"[]"),
    ],
    "url_fuzz": [
        b"HTTPS://Example.TEST:443/a#top",
        b"  https://example.test  ",
        b"\xe3\x80\x80https://example.test/x\xe3\x80\x80",
        b"https://user:pw@example.test/",
        b"https://:@example.test/",
        b"ftp://example.test/f",
        b"not a url",
        b"web+demo:/.//not-a-host/",
        b"http://example.test/a/b\n../c?d#e",
        b"file:///C:/x\n..\\..\\y",
        b"sc://h/p\n?q",
    ],
    "info_plist_fuzz": [
        b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n'
        b"\t<key>CFBundleExecutable</key>\n\t<string>Ondrake Download</string>\n</dict>\n</plist>\n",
        b"<key>CFBundleExecutable</key><string>\n  Ondrake\n</string>",
        b"<key>CFBundleExecutable</key><string>a/b</string>",
        b"<key>CFBundleExecutable</key><string> \xe3\x80\x80 </string>",
        b"<key>CFBundleExecutable</key><integer>1</integer>"
        b"<key>CFBundleExecutable</key><string>Second</string>",
        b"<key>CFBundleExecutable</key><string>Unclosed",
        b"bplist00\xd1\x01\x02_\x10\x12CFBundleExecutableWOndrake\x08\x0b\x00\x00",
    ],
}


def seeds_by_target():
    seeds = {target: list(items) for target, items in HAND_WRITTEN.items()}
    seeds["classify_fuzz"] += raw_json_objects(
        "browser-native-host/checks/tests/classification_test.cpp",
        "browser-native-host/messages/tests/message_decode_test.cpp",
        "browser-native-host/messages/tests/decode_rules_test.cpp",
        "browser-native-host/tests/support/sample_messages.hpp")
    seeds["app_reply_fuzz"] += raw_json_objects(
        "browser-native-host/messages/tests/encode_test.cpp",
        "browser-native-host/tests/support/sample_messages.hpp")
    seeds["url_fuzz"] += url_table_inputs("whatwg-url/tests/parse_test.cpp")
    return seeds


def main():
    clean = "--clean" in sys.argv[1:]
    for target, seeds in seeds_by_target().items():
        directory = CORPUS / target
        directory.mkdir(parents=True, exist_ok=True)
        if clean:
            for old in directory.iterdir():
                old.unlink()
        unique = {hashlib.sha1(seed).hexdigest()[:16]: seed for seed in seeds}
        for name, seed in unique.items():
            (directory / name).write_bytes(seed)
        print(f"{target}: {len(unique)} seeds")


if __name__ == "__main__":
    main()
