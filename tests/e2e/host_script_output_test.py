#!/usr/bin/env python3
"""zarmite-host --csv and --json, read as scripts read them: Python's csv and json modules.
Names with commas and quotes, a value that overflowed to infinity, and a reader that goes
away.

Called as: host_script_output_test.py HOST PLUGIN LIBRARY_ENVIRONMENT WORK_DIR [EMULATOR]
LIBRARY_ENVIRONMENT is NAME=VALUE, what puts the simulated library on the search path.
"""
import csv
import datetime
import io
import json
import os
import shutil
import subprocess
import sys
import time

HOST, PLUGIN, LIBRARY_ENVIRONMENT, WORK = sys.argv[1:5]
EMULATOR = sys.argv[5:6]
CONFIG = """[Source0]
ID=0
Name=GPU busy
MaxLimit=100
[Source1]
ID=7
Name=Frames, "real"
Dim=a,b
[Source2]
ID=7
Name=Overflow
ModType=1
ModFactor=1e38
"""
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def environment():
    name, value = LIBRARY_ENVIRONMENT.split("=", 1)
    return dict(os.environ, **{name: value})


def native(path):
    """The path as the host takes it: under Wine, Z: is the Unix root."""
    return "Z:" + path.replace("/", "\\") if EMULATOR else path


def host(*arguments):
    plugin = native(os.path.join(WORK, os.path.basename(PLUGIN)))
    return EMULATOR + [HOST, "--plugin", plugin] + list(arguments)


def run(*arguments):
    result = subprocess.run(host(*arguments), capture_output=True, env=environment(),
                            timeout=120, check=False)
    check(result.returncode == 0, "%s exits with 0, not %d: %r" % (arguments, result.returncode,
                                                                  result.stderr))
    return result.stdout.decode("utf-8")


def timestamp_is_iso8601(text):
    try:
        stamp = datetime.datetime.fromisoformat(text)
    except ValueError:
        return False
    return stamp.tzinfo is not None and len(text.split(".")[1]) == 3 + 6


def run_status(*arguments, shell_redirect="", cwd=None):
    """The status and standard error of the host run with a shell redirection of its output."""
    command = ["sh", "-c", 'exec "$@" ' + shell_redirect, "sh"] + host(*arguments)
    result = subprocess.run(command, capture_output=not shell_redirect.endswith("2>&1"),
                            env=environment(), timeout=120, check=False, cwd=cwd)
    return result.returncode, (result.stderr or b"").decode("utf-8", "replace")


def check_no_library():
    # The likeliest first mistake: no counter library on the search path. Every output says
    # so once, on standard error, with where it was looked for.
    name = LIBRARY_ENVIRONMENT.split("=", 1)[0]
    env = {key: value for key, value in os.environ.items() if key != name}
    for mode in (["--csv"], ["--json"], []):
        result = subprocess.run(host(*mode, "--rounds", "1"), capture_output=True, env=env,
                                timeout=120, check=False)
        said = result.stderr.decode("utf-8", "replace")
        check(result.returncode == 0 and said.count("no counter library found") == 1 and
              "nvpmapi" in said, "%s without a counter library says so once: %r" % (mode, said))
    # A sampling period it cannot take is said, not passed over in silence.
    result = subprocess.run(host("--csv", "--rounds", "1"), capture_output=True, timeout=120,
                            env=dict(environment(), ZARMITE_SAMPLE_PERIOD_MS="abc"), check=False)
    said = result.stderr.decode("utf-8", "replace")
    check(result.returncode == 0 and "ZARMITE_SAMPLE_PERIOD_MS is not a whole number" in said,
          "a period that is not a number is said: %r" % said)


def check_processes():
    # Who uses the GPU, from the counter library the plug-in loaded (the simulated one: a
    # sample is a simulated second, a round three samples).
    lines = run("--json", "--processes", "--rounds", "3", "--interval-ms", "10").splitlines()
    rounds = [json.loads(line) for line in lines[1:]]
    check(len(rounds) == 3 and all(r["processes_unreadable"] == 1 for r in rounds),
          "every round counts the process that cannot be read: %r" % lines[1:])
    processes = {p["pid"]: p for p in rounds[-1]["processes"]}
    game = processes.get(2400, {})
    check(game.get("name") == "game" and game.get("user") == "alice" and
          game.get("busy") == {"graphics": 60, "copy": 5} and
          game.get("memory") == {"device": 2 << 30, "system": 256 << 20} and
          game.get("shared") is False, "the game's share of the round: %r" % game)
    check(processes.get(1180, {}).get("shared") is True and 1181 in processes,
          "a client shared by two processes is in both: %r" % sorted(processes))
    # The GPU's own busy is 3 % above what its clients add up to, the shared client once.
    check(rounds[0]["processes_unattributed"] == [] and
          rounds[-1]["processes_unattributed"] == [{"gpu": 0, "busy": 3}],
          "busy that no client accounts for: %r" % [r["processes_unattributed"] for r in rounds])
    status, err = run_status("--csv", "--processes")
    check(status == 2 and "--processes is for --json" in err, "--processes needs --json: %r" % err)


def check_lost_output():
    # Output that cannot be written (a full disk, a closed standard output) is an error
    # said once; a reader that leaves is not (checked above).
    for mode in ("--csv", "--json", "--rounds"):
        extra = ("--rounds", "2") if mode != "--rounds" else ("2",)
        for redirect in (">/dev/full", ">&-"):
            status, err = run_status(mode, *extra, "--interval-ms", "1", shell_redirect=redirect)
            lines = err.replace("\r", "").splitlines()
            check(status == 1 and lines == ["zarmite-host: standard output could not be written"],
                  "%s %s: status 1 and one line, not %d %r" % (mode, redirect, status, err))


def check_refused_inputs():
    # Too many sources, from the command line or the plug-in: refused before any is read.
    status, err = run_status("--csv", "--count", "4294967295")
    check(status == 2 and "65536" in err, "--count 4294967295 is refused: %d %r" % (status, err))
    many = os.path.join(WORK, "many")
    os.makedirs(many, exist_ok=True)
    shutil.copy(PLUGIN, many)
    with open(os.path.join(many, "Zarmite.cfg"), "w", newline="\n") as config:
        config.write("".join("[Source%d]\nID=0\n" % i for i in range(65537)))
    plugin = native(os.path.join(many, os.path.basename(PLUGIN)))
    result = subprocess.run(EMULATOR + [HOST, "--plugin", plugin, "--json"], capture_output=True,
                            env=environment(), timeout=300, check=False)
    check(result.returncode == 2 and b"65537 sources" in result.stderr,
          "a plug-in with 65537 sources is refused: %d %r" % (result.returncode, result.stderr))

    # A plug-in is a file: a bare name is the one in the current folder, "" is nothing.
    bare = subprocess.run(EMULATOR + [HOST, "--plugin", os.path.basename(PLUGIN), "--rounds", "1"],
                          capture_output=True, env=environment(), timeout=120, check=False,
                          cwd=WORK)
    check(bare.returncode == 0 and b"Sources: 3" in bare.stdout,
          "a bare plug-in name loads the file in the current folder: %r" % bare.stderr)
    empty = subprocess.run(EMULATOR + [HOST, "--plugin", ""], capture_output=True,
                           env=environment(), timeout=120, check=False)
    check(empty.returncode == 2, "an empty plug-in path is a usage error")
    if not EMULATOR:
        fifo = os.path.join(WORK, "fifo.so")
        if not os.path.exists(fifo):
            os.mkfifo(fifo)
        piped = subprocess.run([HOST, "--plugin", fifo], capture_output=True, env=environment(),
                               timeout=20, check=False)
        check(piped.returncode == 3 and b"not a regular file" in piped.stderr,
              "a named pipe is refused, not waited on: %r" % piped.stderr)


def main():
    os.makedirs(WORK, exist_ok=True)
    shutil.copy(PLUGIN, WORK)
    with open(os.path.join(WORK, "Zarmite.cfg"), "w", newline="\n") as config:
        config.write(CONFIG)

    rows = list(csv.reader(io.StringIO(run("--csv", "--rounds", "3", "--interval-ms", "10"))))
    check(rows[0] == ["timestamp", "GPU busy (%)", 'Frames, "real" (a,b)', "Overflow (Raw)"],
          "the CSV header: %r" % rows[0])
    check(len(rows) == 4 and all(len(row) == 4 for row in rows), "three rounds of four fields")
    for row in rows[1:]:
        check(timestamp_is_iso8601(row[0]), "an ISO 8601 timestamp: %r" % row[0])
        check(0 <= float(row[1]) <= 100 and float(row[2]) > 16000, "values: %r" % row)
        check(row[3] == "inf", "the overflow as the number it is: %r" % row[3])

    lines = run("--json", "--rounds", "2", "--interval-ms", "10").splitlines()
    objects = [json.loads(line) for line in lines]
    check(len(objects) == 3, "a descriptor line and two rounds")
    sources = objects[0]["sources"]
    check([s["name"] for s in sources] == ["GPU busy", 'Frames, "real"', "Overflow"],
          "the descriptors' names")
    check(sources[0]["maxLimit"] == 100 and sources[1]["units"] == "a,b", "the descriptors")
    for round_ in objects[1:]:
        check(timestamp_is_iso8601(round_["timestamp"]), "a JSON timestamp")
        values = round_["values"]
        check([v["index"] for v in values] == [0, 1, 2], "every source's value")
        check(values[1]["name"] == 'Frames, "real"' and values[1]["units"] == "a,b", "texts")
        check(values[2]["value"] is None, "a value that is not finite is null")
        check("processes" not in round_, "no processes without --processes")

    check_processes()
    check_no_library()

    # Polling with no end, until the reader goes away.
    for mode in ("--csv", "--json"):
        process = subprocess.Popen(host(mode, "--rounds", "0", "--interval-ms", "10"),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=environment())
        for _ in range(3):
            process.stdout.readline()
        process.stdout.close()
        try:
            status = process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            status = "still running"
        check(status == 0, "%s stops cleanly when its reader goes away: %s" % (mode, status))
        process.stderr.close()

    check_lost_output()
    check_refused_inputs()

    print("host script output: %s" % ("all checks passed" if not failures else
                                      "%d failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
