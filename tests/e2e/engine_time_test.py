#!/usr/bin/env python3
"""No client's engine time grows faster than the wall clock, in any counter library: the
host runs over the simulated library, the GPU library over a fake machine whose clients
run, and the NVML library over the stand-in, with the process metrics in its textfile and
rounds quicker than a second (several samples a round); every group's busy seconds grow
by at most the time passed times its clients, whatever the engine class.

Called as: engine_time_test.py HOST PLUGIN PROBE SIM_DIR GPU_DIR NVML_DIR STAND_IN_DIR
           FLEET_CONFIG WORK_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import fake_gpu_machine as fake  # noqa: E402

HOST, PLUGIN, PROBE, SIM_DIR, GPU_DIR, NVML_DIR, STAND_IN, FLEET_CONFIG, WORK = sys.argv[1:10]
ROOT = os.path.join(WORK, "root")
INTERVAL_S = 0.1
failures = []


def check(condition, what, saw=""):
    if not condition:
        failures.append(what)
        print("FAIL:", what, "\n  saw:", saw)


def libraries():
    """(name, environment, whether the fleet script writes its configuration)."""
    fake.desktop(ROOT)
    fake.processes(ROOT, 6, 12, 6)
    scenario = os.path.join(WORK, "nvml-scenario.txt")
    with open(scenario, "w") as out:
        out.write("gpus 1\nset * utilization 60 10\nprocess 0 4100 1073741824 compute\n"
                  "process-use 0 4100 58 0 0\nprocess 0 4101 1073741824 graphics\n"
                  "process-use 0 4101 100 0 0\n")
    return [("simulated", dict(os.environ, LD_LIBRARY_PATH=SIM_DIR), False),
            ("gpu", dict(os.environ, LD_LIBRARY_PATH=GPU_DIR, ZARMITE_DRM_ROOT=ROOT,
                         ZARMITE_SAMPLE_PERIOD_MS="100"), True),
            ("nvml", dict(os.environ, LD_LIBRARY_PATH=NVML_DIR + ":" + STAND_IN,
                          ZARMITE_NVML_SCENARIO=scenario, ZARMITE_SAMPLE_PERIOD_MS="100"), True)]


def plugin_in(name, environment, fleet):
    folder = os.path.join(WORK, name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(PLUGIN, folder)
    if not fleet:  # four sources: four samples a round
        with open(os.path.join(folder, "Zarmite.cfg"), "w") as out:
            out.write("".join("[Source%d]\nID=%d\nName=Counter %d\n" % (i, i, i) for i in range(4)))
    else:
        written = subprocess.run([sys.executable, FLEET_CONFIG, PROBE], capture_output=True,
                                 text=True, env=environment, timeout=120, check=False)
        check(written.returncode == 0, "the fleet script over the %s library" % name, written.stderr)
        with open(os.path.join(folder, "Zarmite.cfg"), "w") as out:
            out.write(written.stdout)
    return os.path.join(folder, os.path.basename(PLUGIN))


def busy_and_clients(textfile):
    """From a textfile: busy seconds by series, and clients by group's labels."""
    try:
        with open(textfile) as file:
            text = file.read()
    except OSError:
        return {}, {}
    busy, clients = {}, {}
    for line in text.splitlines():
        match = re.match(r'zarmite_process_gpu_busy_seconds_total\{engine="[a-z_]+",(.*)\} (\S+)$',
                         line)
        if match:
            busy[line.rsplit(" ", 1)[0]] = (match.group(1), float(match.group(2)))
        match = re.match(r"zarmite_process_gpu_clients\{(.*)\} (\S+)$", line)
        if match:
            clients[match.group(1)] = float(match.group(2))
    return busy, clients


def check_library(name, environment, fleet):
    plugin = plugin_in(name, environment, fleet)
    textfile = os.path.join(WORK, name + ".prom")
    host = subprocess.Popen([HOST, "--plugin", plugin, "--csv", "--interval-ms",
                             str(int(INTERVAL_S * 1000)), "--textfile", textfile,
                             "--process-metrics"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=environment)
    try:
        deadline = time.monotonic() + 30
        first = ({}, {})
        while not first[0] and time.monotonic() < deadline:
            time.sleep(0.05)
            first = busy_and_clients(textfile)
        started = time.monotonic()
        time.sleep(3)
        last = busy_and_clients(textfile)
        passed = time.monotonic() - started + 2 * INTERVAL_S  # a round's lag on either side
    finally:
        host.terminate()
        said = host.communicate(timeout=30)[1].decode(errors="replace")
    check(bool(first[0]) and bool(last[0]), "the %s library's process metrics" % name, said[-2000:])
    grown = [(series, last[0][series][1] - first[0][series][1]) for series in first[0]
             if series in last[0]]
    check(any(growth > 0 for _, growth in grown), "a client of the %s library is busy" % name,
          grown)
    beyond = [(series, growth, passed) for series, growth in grown
              if growth > passed * max(1.0, last[1].get(last[0][series][0], 1.0))]
    check(not beyond, "engine time within the time passed, %s library" % name, beyond)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    cases = libraries()
    runner = threading.Thread(target=fake.run, args=(ROOT, 60), daemon=True)
    runner.start()
    for name, environment, fleet in cases:
        check_library(name, environment, fleet)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("engine time within the wall clock in every library")
    return 0


if __name__ == "__main__":
    sys.exit(main())
