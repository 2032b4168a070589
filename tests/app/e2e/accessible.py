#!/usr/bin/env python3
"""The installer as a screen reader sees it: accessible.py <scenario> --build <x86_64 build folder>.

  accessible_pages   tests/support/accessible_probe.exe (the system's accessibility library
                     only) walks the tree of each page and compares it with the tables below,
                     moves on with accDoDefaultAction, and hears the focus and the progress
                     events of a one-key install
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TITLE, check, main, wait_for  # noqa: E402
from run import fresh, payload_env, serve_package, start  # noqa: E402

# Roles and states of the system's accessibility library.
CLIENT, GRAPHIC, TEXT, PUSH, CHECK, PROGRESS, EDIT, LINK = 0x0A, 0x28, 0x29, 0x2B, 0x2C, 0x30, 0x2A, 0x1E
UNAVAILABLE, FOCUSED, CHECKED, READONLY, FOCUSABLE, LINKED = 0x1, 0x4, 0x10, 0x40, 0x100000, 0x400000
FRAME = [(PUSH, "最小化", 0, "", (584, 0)), (PUSH, "关闭", 0, "", (615, 0)),
         (TEXT, "欢迎", READONLY, "", None), (TEXT, "下载安装", READONLY, "", None), (TEXT, "完成", READONLY, "", None)]
# Each page: (role, name, states it has, value pattern, position in the window or None).
PAGES = {
    "welcome": [(GRAPHIC, "欢迎安装星海奇遇记", READONLY, "", (291, 188)),
                (PUSH, "一键安装", FOCUSABLE, "", (291, 259)),
                (CHECK, "我已阅读并同意", FOCUSABLE | CHECKED, "", (31, 408)),
                (LINK, "《星河游戏许可协议》", FOCUSABLE | LINKED, "", None),
                (PUSH, "自定义安装", FOCUSABLE, "", (543, 408))],
    "option": [(EDIT, "安装路径", FOCUSABLE, re.escape(r"C:\Program Files\vantorworlds"), (131, 189)),
               (PUSH, "浏览", FOCUSABLE, "", (449, 187)),
               (TEXT, r"所需磁盘空间：1000 MB", READONLY, "", None),
               (TEXT, r"可用磁盘空间：", READONLY, "", None),
               (CHECK, "快速启动栏", FOCUSABLE | CHECKED, "", None),
               (PUSH, "上一步", FOCUSABLE, "", (473, 420)),
               (PUSH, "下一步", FOCUSABLE, "", (563, 420))],
    "install": [(TEXT, "正在", READONLY, "", None), (PROGRESS, "", READONLY, r"\d{1,3}%", None)],
    "finish": [(PUSH, "完成安装", FOCUSABLE, "", (241, 406))],
}


def expect_page(run, page):
    """Waits for the page's first item, then compares the whole tree with the tables."""
    first = PAGES[page][0]
    rows = wait_for(lambda: (lambda rows: rows if any(r[0] == first[0] and r[1].startswith(first[1]) for r in rows)
                             else None)(run.accessible_tree()), 30, "the %s page in the accessible tree" % page)
    run.report.append("%s page: %s" % (page, rows))
    (client, items), (ox, oy) = (rows[0], rows[1:]), run.window_origin()
    check(client[0] == CLIENT and client[4][:2] == (ox, oy), "the client area %r at %r" % (client, (ox, oy)))
    order = []
    for role, name, states, value, at in FRAME + PAGES[page]:
        found = [r for r in items if r[0] == role and r[1].startswith(name)]
        check(found, "the %s page has no %#x %r among %r" % (page, role, name, [r[1] for r in items]))
        r = found[0]
        check(r[2] & states == states and re.fullmatch(value, r[3]), "%r: states %#x, value %r" % (name, r[2], r[3]))
        check(r[4][2] > 0 and (at is None or r[4][:2] == (ox + at[0], oy + at[1])), "%r lies at %r" % (name, r[4]))
        order.append(items.index(r))
    check(order == sorted(order), "the %s page is not in reading order: %r" % (page, [r[1] for r in items]))


def press(run, name):
    probe = os.path.join(run.build, "tests", "support", "accessible_probe.exe")
    check(run.wine(probe, "press", TITLE, name, timeout=60).returncode == 0, "accDoDefaultAction on %r failed" % name)


def accessible_pages(run):
    run.report = []
    fresh(run)
    serve_package(run, pad=8 << 20, rate="2m")
    start(run, env=payload_env(run, steps=20, delay=100))
    run.find_window()
    expect_page(run, "welcome")
    press(run, "自定义安装")
    expect_page(run, "option")
    press(run, "上一步")
    expect_page(run, "welcome")

    events = os.path.join(run.folder, "events.txt")
    run.start_helper("accessible_probe.exe", events, "watch", TITLE, run.windows_path(events), "120", "一键安装")
    wait_for(lambda: "focus\t一键安装" in open(events, encoding="utf-8", errors="replace").read(), 30,
             "the focus event of the one-key button")
    press(run, "一键安装")
    expect_page(run, "install")
    wait_for(lambda: run.registry_install_path(), 90, "the install to complete")
    expect_page(run, "finish")
    open(events + ".stop", "w").close()
    heard = open(events, encoding="utf-8", errors="replace").read().splitlines()
    events_heard = [line.split("\t")[1] for line in heard if line.startswith("value\t")]
    # The probe reads each value when it hears the event, so a little later: the bar may
    # have moved on, or the page with it (an empty value).
    values = [v for v in events_heard if re.fullmatch(r"\d+%", v)]
    run.report.append("events: %d, progress values heard: %s" % (len(heard), " ".join(events_heard)))
    # At each whole 5 % of the download, the check and the install: not at every message.
    check(len(set(values)) >= 3 and len(events_heard) <= 3 * 21, "progress events %r" % events_heard)
    check(any(line.startswith("show\t完成安装") for line in heard), "the finish page was not announced")
    press(run, "完成安装")
    check(run.installer_exit(30) == 0, "the finish button pressed through accessibility did not end the installer")
    check(run.dialogs() == [], "unexpected message boxes: %r" % run.dialogs())


if __name__ == "__main__":
    sys.exit(main({"accessible_pages": accessible_pages}))
