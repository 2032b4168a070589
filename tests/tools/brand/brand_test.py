#!/usr/bin/env python3
"""brand.exe under Wine: brand_test.py <check> --build <x86_64 build folder>

  refuses            broken branding folders, one fault each: each is refused with its own
                     line, exit code 1 and no output file; a folder with values the
                     installer never reads is written, with a warning for each, exit code 0
  matches_the_build  the stock installer, signed, branded with the test branding carries the
                     same resources, byte for byte, as the installer the build binds from
                     it, and no longer the stock installer's signature
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from peers import SOURCE, wine  # noqa: E402


def brand(build, *args):
    """Runs brand.exe; (exit code, output lines)."""
    result = wine(os.path.join(build, "brand.exe"), *args)
    return result.returncode, result.stdout.decode("gbk", "replace").splitlines()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("gbk"))


def document():
    with open(os.path.join(SOURCE, "tests", "app", "data", "e2e", "CONFIG.JSON"), "rb") as f:
        return f.read().decode("gbk")


def edited(old, new, *more):
    def make(folder):
        text = document()
        for a, b in zip((old,) + more[::2], (new,) + more[1::2]):
            assert a in text, a
            text = text.replace(a, b)
        write(os.path.join(folder, "CONFIG.JSON"), text)
    return make


def file_of(name, data):
    return lambda folder: write(os.path.join(folder, name), data)


def picture(name, size):
    def make(folder):
        os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
        subprocess.run(["convert", "-size", size, "xc:#3080c0", os.path.join(folder, name)], check=True, timeout=60)
    return make


SIGNERS = ("warning: CONFIG.JSON: packageSigners: missing: without the key, any package the update server names "
           "runs with administrator rights")

# (what is broken, how to break a folder, the one line that must say so; warnings only
# for a folder that is still written)
CASES = [
    ("a missing required key", edited('"neededSpace": 1000 // 安装所需空间（MB）', ''),
     r'CONFIG\.JSON: neededSpace: missing \(the installer would stop with "读取neededSpace出错。"\): '
     r'expected a number of megabytes'),
    ("an image that is not an image", file_of("res/bg.jpg", "这不是图片"),
     r'res/bg\.jpg: not a picture the installer can read: expected a PNG or JPEG picture'),
    ("a skin image of the wrong size", picture("res/btn.png", "200x30"),
     r'res/btn\.png: a picture of 200 x 30 pixels: '
     r'expected 267 x 30 pixels \(3 states side by side, each 89 x 30 pixels\)'),
    ("an \"@2x\" picture not twice its picture's size", picture("res/btn@2x.png", "534x30"),
     r'res/btn@2x\.png: a picture of 534 x 30 pixels: '
     r'expected 534 x 60 pixels \(3 states side by side, each 178 x 60 pixels\), twice res/btn\.png'),
    ("a carousel picture named but absent",
     edited('"carouselPics": ["pics/carousel0.jpg", "pics/carousel1.jpg"]',
            '"carouselPics": ["pics/carousel0.jpg", "pics/carousel1.jpg", "pics/carousel2.jpg"]'),
     r'CONFIG\.JSON: carouselPics\[2\]: names pics/carousel2\.jpg, which is missing: '
     r'expected pics/carousel2\.jpg in the branding folder'),
    ("a script with a syntax error", file_of("scripts/main.lua", "function main()\n  print(\"x\"\nend\n"),
     r"scripts/main\.lua: line 3: '\)' expected \(to close '\(' at line 2\) near 'end': "
     r"expected a Lua 5\.3 script that compiles"),
    ("a schema error", lambda folder: write(os.path.join(folder, "scripts", "proto.lua"), open(
        os.path.join(SOURCE, "resources", "scripts", "proto.lua"), "rb").read().replace(
        b"heartbeat 2 {}", b"heartbeat 1 {}")),
     r'scripts/proto\.lua: schema: redefined protocol tag 1 at heartbeat: expected a schema'),
    ('"installerInRes" true without SETUP.EXE', edited('"installerInRes": false', '"installerInRes": true'),
     r'CONFIG\.JSON: installerInRes: true, but there is no SETUP\.EXE to extract'),
    # Mistakes a publisher makes as easily.
    ("a document saved as UTF-8", lambda folder: write(os.path.join(folder, "CONFIG.JSON"), document().encode("utf-8")),
     r'CONFIG\.JSON: saved as UTF-8: expected GBK text'),
    ("an update server given as an address with a scheme",
     edited('"updateServer": "127.0.0.1"', '"updateServer": "http://127.0.0.1:8901"'),
     r'CONFIG\.JSON: updateServer: "http://127\.0\.0\.1:8901" is no host name or IPv4 address'),
    ("an embedded package that is no program",
     lambda folder: (edited('"installerInRes": false', '"installerInRes": true')(folder),
                     write(os.path.join(folder, "SETUP.EXE"), b"PK\x03\x04 an archive")),
     r'SETUP\.EXE: not a program \(no MZ header\): expected the game\'s Windows setup program'),
    ("a file the installer does not carry", picture("res/bg.jpeg", "660x480"),
     r'res/bg\.jpeg: the installer carries no item from this file'),
    ("a schema script that never ends", file_of("scripts/proto.lua", "while true do end\n"),
     r'scripts/proto\.lua: schema: ran too long \(an endless loop\?\)'),
    ("a schema script whose coroutines never end",
     file_of("scripts/proto.lua", "while true do coroutine.wrap(function() for i = 1, 9000 do end end)() end\n"),
     r'scripts/proto\.lua: schema: ran too long \(an endless loop\?\)'),
    ("a schema script that opens a file", file_of("scripts/proto.lua", "io.open('x.txt', 'w')\n"),
     r"scripts/proto\.lua: schema: .*attempt to index a nil value \(global 'io'\)"),
    ("a precompiled script", file_of("scripts/main.lua", b"\x1bLuaS\x00"),
     r"scripts/main\.lua: attempt to load a binary chunk \(mode is 't'\): expected a Lua 5\.3 script"),
    ("picture names the installer never reads",
     edited('"path": "pics/logo.png"', '"path": ""', '"pics/carousel1.jpg"]', '"a"]'),
     r'warning: CONFIG\.JSON: pics\[1\] "logo": the path "" is not where the installer takes this picture '
     r'from \(it never reads it\): expected pics/logo\.png$',
     r'warning: CONFIG\.JSON: carouselPics\[1\]: the path "a" is not where the installer takes this picture '
     r'from \(it never reads it\): expected pics/carousel1\.jpg$'),
]


def refuses(build):
    failures = []
    work = os.path.join(build, "tests", "tools", "brand", "refuses")
    shutil.rmtree(work, ignore_errors=True)
    stock = os.path.join(build, "installer.exe")
    for number, (what, make, *expected) in enumerate(CASES):
        folder = os.path.join(work, "case%d" % number)
        os.makedirs(folder)
        make(folder)
        output = os.path.join(work, "case%d.exe" % number)
        code, lines = brand(build, stock, folder, output)
        # The test document has no "packageSigners": that warning is checked once, below.
        said = [line for line in lines if not line.startswith("brand: ") and ": packageSigners: missing: " not in line]
        left = [name for name in os.listdir(work) if name.startswith("case%d." % number)]
        if expected[0].startswith("warning: "):
            done = code == 0 and left == ["case%d.exe" % number] and lines[-1].startswith("brand: wrote")
        else:
            done = code == 1 and not left and lines[-1] == "brand: 1 problem; nothing was written."
        ok = done and len(said) == len(expected) and all(map(re.match, expected, said))
        print("%s %s: exit %d, %s" % ("ok  " if ok else "FAIL", what, code, lines))
        if not ok:
            failures.append(what)
    return failures


def resources(exe):
    """{(type, name, language): bytes} of every resource, as wrestool lists them."""
    listing = subprocess.run(["wrestool", "-l", exe], capture_output=True, text=True, check=True, timeout=60).stdout
    found = {}
    for line in listing.splitlines():
        fields = dict(re.findall(r"--(type|name|language)=('[^']*'|\S+)", line))
        key = tuple(fields[k].strip("'") for k in ("type", "name", "language"))
        found[key] = subprocess.run(["wrestool", "-x", "--raw", "--type=" + key[0], "--name=" + key[1],
                                     "--language=" + key[2], exe], capture_output=True, check=True, timeout=60).stdout
    return found


def matches_the_build(build):
    here = os.path.join(build, "tests", "tools", "brand")
    folder, output, stock = (os.path.join(here, name) for name in ("branding", "branded.exe", "signed-stock.exe"))
    for old in (output, stock):
        if os.path.exists(old):
            os.remove(old)
    # Signed as a release would be, with the trust tests' certificate.
    trust = os.path.join(build, "tests", "app", "trust")
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(trust, "listed.crt"), "-key",
                    os.path.join(trust, "listed.key"), "-h", "sha256", "-in", os.path.join(build, "installer.exe"),
                    "-out", stock], capture_output=True, check=True, timeout=60)
    code, lines = brand(build, stock, folder, output)
    print("brand.exe: exit %d, %s" % (code, lines))
    if code != 0 or lines.count(SIGNERS) != 1:
        return ["branding the stock installer, with one warning for the missing \"packageSigners\""]
    branded = resources(output)
    built = resources(os.path.join(build, "tests", "tools", "brand", "installer_brand_reference.exe"))
    stock = resources(stock)
    failures = []
    for key in sorted(set(branded) | set(built)):
        if branded.get(key) != built.get(key):
            failures.append("resource type %s name %s language %s differs" % key)
    print("%d resources compared, %d differ" % (len(set(branded) | set(built)), len(failures)))
    # The folder's own items really were written: the icon has three images, the stock five.
    if len([k for k in branded if k[0] == "3"]) != 3 or branded == stock:
        failures.append("the branding's icon and items are not in the branded installer")
    # A signature that no longer matches the bytes, or points into them, is worse than none.
    headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", output], capture_output=True, text=True,
                             check=True, timeout=60).stdout
    security = re.search(r"Entry 4 ([0-9a-f]+) ([0-9a-f]+) Security Directory", headers)
    if not security or int(security.group(1), 16) or int(security.group(2), 16):
        failures.append("the branded installer still names a signature: %s" % (security and security.group(0)))
    return failures


def main():
    check = sys.argv[1]
    build = sys.argv[sys.argv.index("--build") + 1]
    failures = {"refuses": refuses, "matches_the_build": matches_the_build}[check](build)
    for failure in failures:
        print("FAILED: %s" % failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
