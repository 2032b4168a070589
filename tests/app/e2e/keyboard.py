#!/usr/bin/env python3
"""The installer driven by the keyboard alone: keyboard.py <scenario> --build <x86_64 build folder>.

  keyboard_only   welcome → option page → install → finish with Tab, Shift+Tab, Space and
                  Enter: the path is typed, the option box unticked with Space, "下一步"
                  pressed with Enter, the finish button reached with Tab
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, main, wait_for  # noqa: E402
from run import OPTION_BOX, PATH_BOX, expect_told, fresh, payload_env, serve_package, start  # noqa: E402

TYPED = r"C:\Keys\Vantor"


def option_box(run):
    return run.region(OPTION_BOX[0] - 7, OPTION_BOX[1] - 7, 14, 14)


def keyboard_only(run):
    fresh(run)
    serve_package(run)
    start(run, env=payload_env(run, steps=5, delay=50))
    run.find_window()
    # Welcome page, nothing focused: Shift+Tab wraps to the last control, "自定义安装".
    run.key("shift+Tab")
    run.key("space")
    wait_for(lambda: run.region(PATH_BOX[0], PATH_BOX[1], 1, 1) == [(255, 255, 255)], 20, "the option page")
    run.screenshot("option")
    # The path box, the browse button, the option box.
    run.key("Tab")
    for key in ("End", "shift+Home", "BackSpace"):
        run.key(key)
    box = (PATH_BOX[0] - 140, PATH_BOX[1] - 8, 280, 16)
    empty = run.region(*box)
    # Without a window manager the window under the pointer has the keyboard, and keys
    # sent to a window directly lose their Shift: the pointer rests on an empty spot.
    ox, oy = run.window_origin()
    run.xdotool("mousemove", str(ox + 330), str(oy + 380))
    run.type_text(TYPED)
    wait_for(lambda: run.region(*box) != empty, 10, "the typed path in the box")
    run.key("Tab")
    run.key("Tab")
    ticked = option_box(run)
    run.key("space")
    wait_for(lambda: option_box(run) != ticked, 10, "Space to untick the option box")
    run.screenshot("option-unticked")
    # "上一步", then "下一步", pressed with Enter.
    run.key("Tab")
    run.key("Tab")
    run.screenshot("option-next-focused")
    run.key("Return")
    wait_for(lambda: os.path.exists(run.record), 60, "the payload to start")
    wait_for(lambda: run.registry_install_path(), 30, "the install to complete")
    expect_told(run, TYPED, tasks="!quicklaunchicon,runafterinstall")

    # The install page has nothing to focus and Enter does nothing there: Tab and Enter
    # are repeated until the finish page takes them and its button ends the installer.
    def finished():
        run.key("Tab")
        run.key("Return")
        return run.installer.poll() is not None
    wait_for(finished, 60, "Tab and Enter to press the finish button")
    check(run.installer.returncode == 0, "the finish button ended with %s" % run.installer.returncode)
    wait_for(lambda: os.path.exists(run.drive_c("Keys", "Vantor", "started.txt")), 20, "the game to start")
    check(run.dialogs() == [], "unexpected message boxes: %r" % run.dialogs())


if __name__ == "__main__":
    sys.exit(main({"keyboard_only": keyboard_only}))
