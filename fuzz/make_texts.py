#!/usr/bin/env python3
"""Writes the hand-made seeds of the text fuzz targets into CORPUS/<target>/:
response headers, config.ini texts and hive files. Called by make_corpus.sh.

    fuzz/make_texts.py CORPUS
"""
import os
import sys

corpus = sys.argv[1]


def put(target, name, data):
    os.makedirs(os.path.join(corpus, target), exist_ok=True)
    with open(os.path.join(corpus, target, name), "wb") as f:
        f.write(data)


# Responses as a server sends them.
RESPONSES = {
    "ok": b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 1234\r\n\r\n",
    "redirect": b"HTTP/1.1 302 Found\r\nLocation: http://mirror.brinefall.example:8080/patch/\r\n"
    b"Set-Cookie: sid=42; path=/\r\n\r\n",
    "relative_redirect": b"HTTP/1.0 301 Moved\nLocation: /patch/_versions.txt\n\n",
    "bare_redirect": b"HTTP/1.0 302 Found\r\nLocation: other.html\r\n\r\n",
    "no_reason": b"HTTP/1.0 404\r\n\r\n",
    "chunked": b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
    "codings": b"HTTP/1.1 200 OK\r\ncontent-encoding :  gzip\r\nContent-Encoding: identity\r\n\r\n",
    "https_redirect": b"HTTP/1.0 303 See Other\r\nLocation: https://secure.brinefall.example/\r\n\r\n",
    "bad_port": b"HTTP/1.0 307 Temporary\r\nLocation: http://h.example:99999999999/x\r\n\r\n",
    "closed_inside_a_line": b"HTTP/1.0 200 OK\r\nContent-Length: ",
    # A CR inside a location once reached the lines of the next request.
    "location_with_cr": b"HTTP/1.0 302 Found\r\nLocation: http://a.example/x\r\xff\xff_`\0\x009"
    b"\xb3kie:%id=0\r\n\r\n",
}
for name, text in RESPONSES.items():
    put("http_header", name, text)

# config.ini texts.
put("options", "config",
    b"[VIDEO]\r\napi=1\r\nres_width=800\r\nscreenshot_format=png\r\n\r\n"
    b"[INPUT]\r\nkeypress_delay=70000\r\n\r\n"
    b"[KEYS]\r\nkey_turnleft=1;203\r\nkey_sailDown=0;\r\n\r\n"
    b"[COMM]\r\nupdater_proxyserver=proxy.example\r\nupdater_proxyport=3128\r\n\r\n"
    b"[DEBUGG]\r\nvertical_texel=0.25\r\nhorizontal_texel=1e300\r\ntest_user=captain\r\n"
    b"no_browser=1\r\n\r\nconfigtool_window=10;10;640;480\r\n; a comment\r\n")
put("options", "odd_lines",
    b"RES_WIDTH=-99999999999\nlogin=" + b"0" * 300 +
    b"\nmy_tool=a=b\nres_width = 800\ndebug_loglevelAI=3")
# Many lines without an "=" were once read in time growing with their square.
put("options", "many_blank_lines", b"\n" * 1000 + b"api=2\n")

# Hive files, after a byte for the root (0 user, 1 machine, 2 classes) and
# the name of the key to open.
HIVE = (r'[HKEY_CURRENT_USER\Software\Brinefall]' "\r\n"
        r'"Language"=dword:00000003' "\r\n"
        r'"Path"="C:\\Games\\Brinefall \"1.490\""' "\r\n"
        r'@="default"' "\r\n"
        r'"Bin"=hex:01,02,\ ' "\r\n"
        r'  03,04 ; a comment' "\r\n"
        r'"Multi"=hex(7):61,00,62,00,00,00' "\r\n\r\n"
        r'[HKEY_CURRENT_USER\Software\Brinefall\Sub]' "\r\n"
        r'"Gone"=-' "\r\n"
        r'[-HKCU\Software\Old]' "\r\n")
put("registry", "regedit4",
    b"\0Software\\Brinefall\n" + ("REGEDIT4\r\n\r\n" + HIVE).encode("cp1252"))
put("registry", "unicode",
    b"\0software\\brinefall\\\n\xff\xfe" +
    ("Windows Registry Editor Version 5.00\r\n\r\n" + HIVE).encode("utf-16-le"))
put("registry", "utf8",
    b"\1Software\\Brinefall\n\xef\xbb\xbf" +
    ('REGEDIT4\r\n[HKLM\\Software\\Brinefall]\r\n"Name"="M\u00f6we \u20ac \U0001F30A"\r\n')
    .encode())
put("registry", "classes_root",
    b"\2http\\shell\\open\\command\nREGEDIT4\n"
    b'[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n@="browser \\"%1\\""\n')
