#!/usr/bin/env python3
"""The support log and the outcome report: support.py <scenario> --build <x86_64 build folder>.

  support_log   with a build that reports to a collector on loopback: a silent install whose
                query fails ends its log with the cause and reports the failure; a silent web
                install (its digest announced in capitals) logs every stage, reports its
                success and leaves no package behind; with the temporary folder
                read-only the install still succeeds. No report names the Windows user.
"""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import SUPPORT, check, installer_logs, log_lines, port_open, temp_folder, wait_for  # noqa: E402
from run import DEFAULT_PATH, fresh, serve_package, silent  # noqa: E402

REPORT_PORT = 8902
STAGES = ("start", "config", "path", "query", "route", "download", "verify", "payload", "end")


def reported_silent(run, received, expected_code, *args):
    """A silent run of the build that reports to the collector, and its report received."""
    before = len(received())
    silent(run, *args, seconds=90, variant="installer_e2e_report.exe", expect=expected_code)
    wait_for(lambda: len(received()) == before + 1, 10, "the run's report")


def support_log(run):
    fresh(run)
    for old in installer_logs(run):
        os.remove(old)
    reports = os.path.join(run.folder, "reports.jsonl")
    run.start_peer([sys.executable, os.path.join(SUPPORT, "report_collector.py"), "--port", str(REPORT_PORT), "--log",
                    reports], lambda: port_open(REPORT_PORT), "the collector")
    received = lambda: [json.loads(line) for line in open(reports)] if os.path.exists(reports) else []  # noqa: E731
    temp, user = temp_folder(run)

    # The failure logs where /log says, and nothing in the temporary folder.
    chosen = os.path.join(run.folder, "chosen.log")
    query = run.start_update_server("--error-code", "4")
    reported_silent(run, received, 1, "/log", run.windows_path(chosen))
    query.terminate()
    query.wait(10)
    check(not installer_logs(run), "a log in the temporary folder despite /log: %r" % installer_logs(run))
    check(os.path.exists(chosen), "no log at %s" % chosen)
    last = log_lines(chosen)[-1]
    check("[end] failure, exit code 1, stage query" in last and "the update server offered no package" in last,
          "the failed query's log ends with %r" % last)

    # The update server gives the digest in capitals.
    serve_package(run, pad=1 << 20, md5=str.upper)
    reported_silent(run, received, 0)
    check(run.registry_install_path() == DEFAULT_PATH and not os.path.exists(run.drive_c("vantorsetup")),
          "after the silent web install: registry %r, the download folder stayed: %s"
          % (run.registry_install_path(), os.path.exists(run.drive_c("vantorsetup"))))
    lines = log_lines(installer_logs(run)[-1])
    missing = [s for s in STAGES if not any(" [%s] " % s in line for line in lines)]
    check(not missing and "[end] success, exit code 0" in lines[-1], "stages %r missing, last line %r" % (missing, lines[-1]))

    failure, success = received()
    check((failure["outcome"], failure["stage"], failure["exitCode"]) == ("failure", "query", 1), "report %r" % failure)
    check((success["outcome"], success["stage"], success["exitCode"], success["gameVersion"]) ==
          ("success", "done", 0, "1.2.3.4") and success["bytes"] > 1 << 20 and success["promoteChannel"] == "1007",
          "report %r" % success)
    check(failure["runId"] != success["runId"] and len(success["runId"]) == 32, "run ids %r" % [failure, success])
    body = open(reports).read().lower()
    for private in (user.lower(), "users", "\\\\", "127.0.0.1", "c:"):
        check(private not in body, "a report names %r: %s" % (private, body))

    # /nolog: the same install, and no log written or grown.
    before = [(path, os.path.getsize(path)) for path in installer_logs(run)]
    reported_silent(run, received, 0, "/nolog")
    after = [(path, os.path.getsize(path)) for path in installer_logs(run)]
    check(after == before, "with /nolog the logs went from %r to %r" % (before, after))

    # A temporary folder that cannot be written: the install goes on without its log.
    run.mount_tmpfs(temp, "ro,size=1m")
    reported_silent(run, received, 0)
    check(os.path.exists(run.record) and not installer_logs(run), "with a read-only temporary folder: payload ran %s, logs %r"
          % (os.path.exists(run.record), installer_logs(run)))


if __name__ == "__main__":
    from harness import main
    sys.exit(main({"support_log": support_log}))
