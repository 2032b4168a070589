#!/usr/bin/env python3
"""Prints the version information of a branded installer as a resource-script statement.

    tools/version-resource.py BRANDING/CONFIG.JSON > version.rc

From the branding's configuration document (GBK JSON with comments, read as the
installer reads it):
  product name      "installName", else "QxGames" (the installer's own default)
  file description  the product name followed by "安装"
  file and product  "version", as "1.2.3.4" or [1, 2, 3, 4] (fewer parts are padded
  version           with zeros), else 1.0.0.0

The texts are written as UTF-16 escapes, so the script is plain ASCII and no resource
compiler code page is involved; Explorer reads them from the block 080404B0 (Chinese PRC,
Unicode), which the translation entry names.
"""
import json
import re
import sys

DEFAULT_NAME = "QxGames"
DEFAULT_VERSION = (1, 0, 0, 0)


class BrandingError(Exception):
    pass


def strip_comments_and_trailing_commas(text):
    """The document without // and /* */ comments and without commas before a closing
    bracket, which the installer's reader accepts and Python's does not."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            j = i + 1
            while j < n and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            end = text.find("\n", i)
            i = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
        else:
            out.append(c)
            i += 1
    return re.sub(r",(\s*[}\]])", r"\1", "".join(out))


def read_document(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    try:
        text = data.decode("cp936")
    except UnicodeDecodeError as e:
        raise BrandingError(f"{path}: not GBK text ({e.reason} at byte {e.start})")
    try:
        root = json.loads(strip_comments_and_trailing_commas(text))
    except json.JSONDecodeError as e:
        raise BrandingError(f"{path}: not a JSON document ({e.msg}, line {e.lineno})")
    if not isinstance(root, dict):
        raise BrandingError(f"{path}: the document is not an object")
    return root


def version_of(value, path):
    if value is None:
        return DEFAULT_VERSION
    if isinstance(value, str) and re.fullmatch(r"\d+(\.\d+){0,3}", value):
        parts = [int(p) for p in value.split(".")]
    elif (isinstance(value, list) and 1 <= len(value) <= 4
          and all(isinstance(p, int) and not isinstance(p, bool) for p in value)):
        parts = list(value)
    else:
        raise BrandingError(f'{path}: "version" must be "1.2.3.4" or [1, 2, 3, 4], '
                            f"not {json.dumps(value, ensure_ascii=False)}")
    if any(p < 0 or p > 65535 for p in parts):
        raise BrandingError(f'{path}: each part of "version" must be 0 to 65535')
    return tuple(parts + [0] * (4 - len(parts)))


def wide(text):
    # Every unit escaped: an escape followed by a hex digit would swallow it.
    units = text.encode("utf-16-le")
    return 'L"' + "".join(f"\\x{units[i + 1]:02x}{units[i]:02x}"
                           for i in range(0, len(units), 2)) + '"'


def version_resource(path):
    root = read_document(path)
    name = root.get("installName", DEFAULT_NAME)
    if not isinstance(name, str):
        raise BrandingError(f'{path}: "installName" is not a text')
    version = version_of(root.get("version"), path)
    numbers = ",".join(str(p) for p in version)
    dotted = ".".join(str(p) for p in version)
    values = [("FileDescription", name + "安装"), ("FileVersion", dotted),
              ("ProductName", name), ("ProductVersion", dotted)]
    lines = [
        f"// Version information from {path}.",
        "LANGUAGE 4, 2",
        "1 VERSIONINFO",
        f"FILEVERSION {numbers}",
        f"PRODUCTVERSION {numbers}",
        "FILEFLAGSMASK 0x3F",
        "FILEFLAGS 0x0",
        "FILEOS 0x40004",  # VOS_NT_WINDOWS32
        "FILETYPE 0x1",  # VFT_APP
        "FILESUBTYPE 0x0",
        "BEGIN",
        '  BLOCK "StringFileInfo"',
        "  BEGIN",
        '    BLOCK "080404B0"',
        "    BEGIN",
        *[f'      VALUE "{key}", {wide(text)}' for key, text in values],
        "    END",
        "  END",
        '  BLOCK "VarFileInfo"',
        "  BEGIN",
        '    VALUE "Translation", 0x804, 1200',
        "  END",
        "END",
    ]
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 2:
        print(f"usage: {argv[0]} CONFIG.JSON", file=sys.stderr)
        return 2
    try:
        sys.stdout.write(version_resource(argv[1]))
    except (OSError, BrandingError) as e:
        print(f"version-resource: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
