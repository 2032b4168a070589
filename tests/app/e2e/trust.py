#!/usr/bin/env python3
"""Who the installer trusts: trust.py <scenario> --build <x86_64 build folder>.

The publisher's signature on the package (signers), and HTTPS with a test CA together
with a DLL planted beside the installer (https_and_planted_dll). The certificates and
signed packages are the build's (tests/app/e2e/make-signing.sh); every run is silent,
so each case is one installer process from its start to its exit code.
"""
import os
import shutil
import sys
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as scenarios  # noqa: E402
from harness import Failure, check, main  # noqa: E402

REFUSED = ("出错了", "安装包的数字签名无效，已停止安装。请从官方网站重新下载安装程序。")
MARKER = "planted-dll-loaded.txt"
# Windows looks beside a program first for any DLL outside its known list; Wine by
# default takes its own, unless told to search as Windows does.
PLANTING_ENV = {"WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=;winhttp=n,b"}


def signing(run, *name):
    return os.path.join(run.build, "tests", "app", "trust", *name)


def silent_run(run, env, expect, boxes, folder=None):
    """One silent install of a copy of the build pinned to the "listed" test certificate,
    in `folder`, that must end with `expect` and show `boxes` (the payload runs if it ends
    well)."""
    scenarios.silent(run, env=env, seconds=90, variant="installer_e2e_pinned.exe", folder=folder, expect=expect,
                     boxes=boxes, ran=expect == 0)


def signers(run):
    """Unlisted, unsigned and altered packages are refused: code 105, the message, and
    neither the package nor its side file is left. The digest of each is the one the
    update server announces, so only the signature check stands in the way."""
    run.start_dialog_watch()
    env = scenarios.payload_env(run)
    payload = Path(run.build, "tools", "payload", "payload.exe").read_bytes()
    altered = bytearray(Path(signing(run, "signed-listed.exe")).read_bytes())
    altered[5000] ^= 0x01  # inside the signed code, not the signature
    cases = [
        ("signed by a certificate the build does not list", Path(signing(run, "signed-unlisted.exe")).read_bytes(), False),
        ("unsigned, left complete by an earlier run", payload, True),
        ("signed by the listed certificate, then one byte changed", bytes(altered), False),
    ]
    package = run.drive_c(*scenarios.PACKAGE)
    served = None
    for what, data, left_by_earlier_run in cases:
        run.clean_machine()
        if served:
            served.server.terminate()
            served.server.wait(10)
        served = scenarios.serve_package(run, content=data)
        digest = served.digest
        if left_by_earlier_run:
            os.makedirs(os.path.dirname(package), exist_ok=True)
            Path(package).write_bytes(data)
            Path(package + ".info").write_text("%d%s" % (len(data), digest))
        try:
            silent_run(run, env, 105, [REFUSED])
        except Failure as failure:
            raise Failure("%s: %s" % (what, failure))
        check(not os.path.exists(package) and not os.path.exists(package + ".info"),
              "%s: the package or its side file was kept" % what)
        asked = open(served.log).read().splitlines()
        check(len(asked) == (0 if left_by_earlier_run else 1), "%s: requests to the server %r" % (what, asked))
    check(run.registry_install_path() is None, "a registry value after refused packages")


def https_and_planted_dll(run):
    """A winhttp.dll beside a program that imports WinHTTP is loaded under the test's
    settings; beside the installer it is not, through a whole install from nginx over
    HTTPS with the test CA trusted by the prefix. Without that trust the download fails
    as a network failure does."""
    run.clean_machine()
    run.start_dialog_watch()
    planted = os.path.join(run.build, "tests", "support", "planted", "winhttp.dll")
    env = dict(PLANTING_ENV)

    control = os.path.join(run.folder, "control")
    os.makedirs(control)
    shutil.copyfile(os.path.join(run.build, "tests", "support", "winhttp_importer.exe"),
                    os.path.join(control, "winhttp_importer.exe"))
    shutil.copyfile(planted, os.path.join(control, "winhttp.dll"))
    run.env.update(env)
    run.wine(os.path.join(control, "winhttp_importer.exe"), timeout=60)
    check(os.path.exists(os.path.join(control, MARKER)),
          "the planted DLL was not loaded even by a program importing WinHTTP: the test shows nothing")

    trust_root = os.path.join(run.build, "tests", "support", "trust_root.exe")
    ca = run.windows_path(signing(run, "ca.der"))
    out = run.wine(trust_root, "add", ca, timeout=60)
    check(out.returncode == 0, "trusting the test CA failed: %r" % out.stdout)
    run.stack.callback(lambda: run.wine(trust_root, "remove", ca, timeout=60))

    served = scenarios.serve_package(run, content=Path(signing(run, "signed-listed.exe")).read_bytes(),
                                     tls=(signing(run, "server.crt"), signing(run, "server.key")))
    downloads = os.path.join(run.folder, "downloads")
    os.makedirs(downloads)
    shutil.copyfile(planted, os.path.join(downloads, "winhttp.dll"))
    env.update(scenarios.payload_env(run))

    silent_run(run, env, 0, [], downloads)
    check(run.registry_install_path() == scenarios.DEFAULT_PATH, "registry %r" % run.registry_install_path())
    check(not os.path.exists(os.path.join(downloads, MARKER)), "the installer loaded the planted DLL")
    asked = open(served.log).read().splitlines()
    check(len(asked) == 1 and asked[0].startswith("/pkg/setup.exe "), "requests over HTTPS %r" % asked)

    out = run.wine(trust_root, "remove", ca, timeout=60)
    check(out.returncode == 0, "forgetting the test CA failed: %r" % out.stdout)
    run.clean_machine()
    silent_run(run, env, 1, [scenarios.NETWORK], downloads)
    check(len(open(served.log).read().splitlines()) == 1, "a request got through the untrusted connection")


SCENARIOS = {
    "signers": signers,
    "https_and_planted_dll": https_and_planted_dll,
}

if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
