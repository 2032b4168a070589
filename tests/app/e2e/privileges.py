#!/usr/bin/env python3
"""What the elevated installer lets others do with its rights: privileges.py <scenario>
--build <x86_64 build folder>. Under Wine "another user" is a folder Wine shows as writable
by everyone (mode 0777), a Unix link, or a Windows program of the same prefix."""
import glob
import os
import re
import shutil
import sys
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import check, main, wait_for  # noqa: E402
from run import (DEFAULT_PATH, REFUSED, digest, finish_and_start_game, fresh, installed,  # noqa: E402
                 payload_env, press_one_key, race, read, serve_package, start)

MARKER = "planted-dll-loaded.txt"


def clean(run):
    """fresh(), without the folders and links these scenarios make, before and after."""
    def unlink():
        for link in (run.drive_c("vantorsetup"), installed(run, "Vantor_Data")):
            if os.path.islink(link):
                os.remove(link)
        for folder in glob.glob(run.drive_c("vantorsetup-*")) + glob.glob(run.drive_c("ProgramData", "vantorsetup*")):
            shutil.rmtree(folder, ignore_errors=True)
    unlink()
    fresh(run)
    run.stack.callback(unlink)


def planted_cache(run):
    """A download folder a standard user made beforehand, writable by everyone, holding
    the genuine package, its side file and a DLL the package would load: none of it is
    used, nothing in it changes, and the install succeeds from a folder made beside it.
    (A complete package in a folder only its owner may write is used: payload_failure.)"""
    clean(run)
    served = serve_package(run)
    planted = run.drive_c("vantorsetup")
    os.makedirs(planted)
    shutil.copyfile(os.path.join(run.build, "tools", "payload", "payload.exe"), os.path.join(planted, "setup.exe"))
    Path(planted, "setup.exe.info").write_text("%d%s" % (served.length, served.digest))
    shutil.copyfile(os.path.join(run.build, "tests", "support", "planted", "winhttp.dll"),
                    os.path.join(planted, "winhttp.dll"))
    os.chmod(planted, 0o777)
    before = {name: digest(os.path.join(planted, name)) for name in os.listdir(planted)}
    # The package loads a DLL by name, searching its own folder first as Windows does.
    env = dict(payload_env(run), QX_PAYLOAD_LOAD="winhttp.dll", WINEDLLOVERRIDES="winhttp=n,b")
    start(run, env=env)
    press_one_key(run)
    wait_for(lambda: run.registry_install_path() == DEFAULT_PATH, 90, "the install to complete")
    line = read(run.record)
    check(re.match(r'"C:\\vantorsetup-[0-9a-f]{8}\\setup\.exe" /verysilent ', line), "the package ran as %r" % line)
    check(not os.path.exists(os.path.join(planted, MARKER)), "the planted DLL was loaded")
    check({name: digest(os.path.join(planted, name)) for name in os.listdir(planted)} == before,
          "the other folder changed: %r" % os.listdir(planted))
    # The check above can fail: the same package, started from that folder, loads the DLL.
    control = run.windows_path(os.path.join(run.folder, "control"))
    run.wine(os.path.join(planted, "setup.exe"), "-installPath", control, env=dict(run.env, **env))
    check(os.path.exists(os.path.join(planted, MARKER)), "control: the package did not load the DLL beside it")


def held_package(run):
    """From its check until the payload runs, nobody can write, rename or delete the package.
    The install drive is taken as one that keeps no ACLs (FAT32, exFAT): the package waits
    in a folder under the system's data folder that others cannot even read."""
    clean(run)
    serve_package(run)
    env = dict(payload_env(run), QX_TEST_HOLD_FOLDER=run.windows_path(run.folder), QX_TEST_DRIVES_WITHOUT_ACLS="C")
    held = os.path.join(run.folder, "held.txt")
    start(run, env=env)
    press_one_key(run)
    wait_for(lambda: os.path.exists(held) and os.path.getsize(held) > 0, 90, "the installer to hold its package")
    package = open(held, "rb").read().decode("utf-16-le")
    check(re.match(r"C:\\ProgramData\\vantorsetup\\setup\.exe$", package), "the package is held at %r" % package)
    mode = os.stat(run.drive_c("ProgramData", "vantorsetup")).st_mode
    check(mode & 0o007 == 0, "the cache folder has Unix mode %o" % mode)
    outcome = race(run, package)
    open(os.path.join(run.folder, "go.txt"), "w").close()
    check(outcome == REFUSED, "another program could do this to the held package: %r" % outcome)
    wait_for(lambda: run.registry_install_path(), 60, "the install to complete")
    check(read(run.record).startswith('"%s"' % package), "the payload ran as %r" % read(run.record))


def game_by_player_copy(run):
    """Started without administrator rights, the installer re-launches itself elevated and
    stays; the game the finish page starts is started by that first copy, with the
    player's rights, not by an elevated one. The elevated copy restarts itself once (the
    package is missing at first): the copy it restarted as keeps the way to the first.
    A download folder and a game data folder that are links to elsewhere (Wine shows a
    Unix link as a reparse point): the elevated copies write nothing through either."""
    clean(run)
    serve_package(run)
    elsewhere = os.path.join(run.folder, "elsewhere")
    os.makedirs(os.path.join(elsewhere, "StreamingAssets"))
    victim = os.path.join(elsewhere, "setup.exe")
    Path(victim).write_text("someone else's file")
    os.symlink(elsewhere, run.drive_c("vantorsetup"))
    os.makedirs(installed(run))
    os.symlink(elsewhere, installed(run, "Vantor_Data"))
    package = os.path.join(run.folder, "www", "pkg", "setup.exe")
    os.rename(package, package + ".later")
    parents = os.path.join(run.folder, "payload-parents.txt")
    env = dict(payload_env(run), QX_TEST_NOT_ELEVATED="1", QX_PAYLOAD_PARENTS=run.windows_path(parents))
    name = os.path.basename(start(run, env=env))
    press_one_key(run)
    before = set(run.installer_processes(name))
    run.wait_for_dialog(60)
    # The elevated copy has gone and another has come.
    def replaced():
        now = set(run.installer_processes(name))
        return before - now and now - before
    wait_for(replaced, 60, "the restarted copy")
    check(run.installer.poll() is None, "the first copy ended with the elevated one it started")
    os.rename(package + ".later", package)
    press_one_key(run)
    wait_for(lambda: run.registry_install_path(), 90, "the install to complete")
    restarted, elevated = open(parents).read().split()
    check("-playerChannel" not in read(run.argv), "the payload was told the pipe: %r" % read(run.argv))
    check(re.match(r'"C:\\vantorsetup-[0-9a-f]{8}\\setup\.exe" ', read(run.record)),
          "the package ran as %r" % read(run.record))
    check(read(victim) == "someone else's file" and sorted(os.listdir(elsewhere)) ==
          ["StreamingAssets", "setup.exe"], "written through a link: %r" % os.listdir(elsewhere))
    check(os.listdir(os.path.join(elsewhere, "StreamingAssets")) == [], "a channel file went through the link")
    # Ended by the restarted copy's finish button, the first copy passes on its exit code.
    finish_and_start_game(run, installed(run))
    game_parent = wait_for(lambda: os.path.exists(installed(run, "parent.txt")) and read(installed(run, "parent.txt")),
                           20, "the game's parent")
    check(game_parent not in (restarted, elevated), "the game's parent %s is an elevated copy (%s, restarted as %s)"
          % (game_parent, elevated, restarted))


SCENARIOS = {f.__name__: f for f in (planted_cache, held_package, game_by_player_copy)}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
