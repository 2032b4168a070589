#!/usr/bin/env python3
"""The stock installer branded by brand.exe: branded.py <scenario> --build <x86_64 build folder>.

  branded_one_key   brand.exe writes the test branding into the stock installer; the result
                    passes the one-key install, and brand.exe's previews of the same branding
                    match the pictures of its four pages (same size, the share of differing
                    pixels reported and bounded)
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, main  # noqa: E402
from run import one_key  # noqa: E402

# Pixels that differ by more than this in a channel count as different: anti-aliased text
# edges may land one step apart.
TOLERANCE = 24
# The share of differing pixels each page may have. The install page differs where its
# texts (percent, speed, version) and its progress bar show another moment of the download.
LIMITS = {"welcome": 0.005, "option": 0.005, "install": 0.05, "finish": 0.005}


def rgba(path):
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True, timeout=30).stdout
    data = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True, timeout=30).stdout
    return tuple(int(n) for n in size.split()), data


def differing_share(preview, shot):
    """(same size, share of the preview's opaque pixels that differ on the screen)."""
    (size_a, a), (size_b, b) = rgba(preview), rgba(shot)
    if size_a != size_b or len(a) != len(b):
        return False, 1.0
    opaque = differing = 0
    for i in range(0, len(a), 4):
        if a[i + 3] != 255:  # where the window lets the desktop through
            continue
        opaque += 1
        if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])) > TOLERANCE:
            differing += 1
    return True, differing / max(opaque, 1)


def branded_one_key(run):
    brand = os.path.join(run.build, "brand.exe")
    folder = os.path.join(run.build, "tests", "tools", "brand", "branding")
    exe = os.path.join(run.folder, "vantor.branded_one_key.12345.dl.exe")
    result = run.wine(brand, os.path.join(run.build, "installer.exe"), run.windows_path(folder), run.windows_path(exe))
    check(result.returncode == 0, "brand.exe: %d %r" % (result.returncode, result.stdout.decode("gbk", "replace")))
    previews = os.path.join(run.folder, "previews")
    result = run.wine(brand, "--preview", run.windows_path(folder), run.windows_path(previews))
    check(result.returncode == 0, "brand.exe --preview: %d %r" % (result.returncode, result.stdout.decode("gbk", "replace")))

    pages = {}
    one_key(run, exe=exe, pages=pages)
    report = []
    for page, limit in LIMITS.items():
        same_size, share = differing_share(os.path.join(previews, page + ".png"), pages[page])
        check(same_size, "the preview of the %s page is not the window's size" % page)
        report.append("%s page: %.3f%% of the preview's pixels differ on the screen (at most %.1f%%)"
                      % (page, 100 * share, 100 * limit))
        check(share <= limit, report[-1])
    run.report += ["branded by brand.exe: %s" % exe, "previews: %s" % previews] + report


if __name__ == "__main__":
    sys.exit(main({"branded_one_key": branded_one_key}))
