#!/usr/bin/env python3
"""The Windows GPU counter library under Wine: over Wine's own pdh.dll, which has no GPU
counters, and over our stand-in pdh.dll with made-up instance lists. The probe and the
plug-in run end to end through it.

Called as: windows_gpu_test.py BIN_DIR LIBRARY PDH_STAND_IN WORK_DIR EMULATOR
"""
import json
import os
import shutil
import subprocess
import sys
import time

BIN, LIBRARY, STAND_IN, WORK, EMULATOR = sys.argv[1:6]
D1A5 = "luid_0x00000000_0x0000D1A5"
SCENARIO = """engine pid_100_{a}_phys_0_eng_0_engtype_3D 30.5
engine pid_200_{a}_phys_0_eng_0_engtype_3D 20.25
engine pid_100_{a}_phys_0_eng_1_engtype_Copy 8
engine pid_100_{a}_phys_0_eng_5_engtype_Security 70
engine pid_100_luid_0x00000000_0x00001234_phys_0_eng_0_engtype_3D 150
engine pid_300_{a}_phys_0_eng_2_engtype_VideoDecode 99
invalid pid_300_{a}_phys_0_eng_2_engtype_VideoDecode
while {flag}
engine pid_400_{a}_phys_0_eng_3_engtype_Compute_1 42
dedicated {a}_phys_0 1073741824
shared {a}_phys_0 536870912
running pid_self_{a}_phys_0_eng_0_engtype_3D 0 1000000
running pid_4000_{a}_phys_0_eng_1_engtype_Copy 5000 0
process-dedicated pid_self_{a}_phys_0 1048576
process-shared pid_self_{a}_phys_0 4096
process-dedicated pid_4000_{a}_phys_0 2048
{extra}
"""
CONFIG = """[Source0]
ID=16
[Source1]
ID=17
[Source2]
ID=18
[Source3]
ID=19
[Source4]
ID=21
[Source5]
ID=22
[Source6]
ID=23
[Source7]
ID=24
[Source8]
ID=26
"""
failures = []


def check(condition, what, output=""):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
        if output:
            print(output)


def native(path):
    return "Z:" + path.replace("/", "\\")


def prepare(folder, stand_in, extra=""):
    os.makedirs(folder, exist_ok=True)
    for name in ("ZarmiteCLI.exe", "zarmite-host.exe", "Zarmite.dll", "key-after.exe"):
        shutil.copy(os.path.join(BIN, name), folder)
    shutil.copy(LIBRARY, folder)  # beside the executables: found first
    if stand_in:
        shutil.copy(STAND_IN, folder)
    flag = os.path.join(folder, "instance-present")
    open(flag, "w").close()
    with open(os.path.join(folder, "scenario.txt"), "w") as scenario:
        scenario.write(SCENARIO.format(a=D1A5, flag=native(flag), extra=extra))
    with open(os.path.join(folder, "Zarmite.cfg"), "w") as config:
        config.write(CONFIG)
    return flag


def environment(folder, stand_in):
    return dict(os.environ, ZARMITE_SAMPLE_PERIOD_MS="200",
                ZARMITE_PDH_SCENARIO=native(os.path.join(folder, "scenario.txt")),
                WINEDLLOVERRIDES="mscoree,mshtml=" + (";pdh=n" if stand_in else ""))


def run(folder, stand_in, *command, timeout=120):
    started = time.time()
    result = subprocess.run([EMULATOR] + list(command), cwd=folder, capture_output=True,
                            env=environment(folder, stand_in), timeout=timeout, check=False)
    return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", ""), \
        time.time() - started


def follow(folder, command, until):
    """Runs the command under Wine, reading its output line by line until until(line) is
    true (then it is ended) or it ends by itself. Returns the lines read."""
    ended = False
    process = subprocess.Popen([EMULATOR] + command, cwd=folder, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=environment(folder, True))
    lines = []
    try:
        for raw in process.stdout:
            lines.append(raw.decode("utf-8", "replace").replace("\r", ""))
            if until(lines[-1]):
                ended = True
                break
    finally:
        if ended:
            process.kill()
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()
    return lines


def rounds(output):
    return [[float(v) for v in line.split(":")[1].split()] for line in output.splitlines()
            if line.startswith("Round ")]


def main():
    # Wine's own pdh.dll publishes no GPU counters: the start fails with its status.
    wine = os.path.join(WORK, "wine-pdh")
    prepare(wine, False)
    status, out, seconds = run(wine, False, "ZarmiteCLI.exe")
    check(status == 0 and out.startswith("NVPerfAPI initialization failed with error code: 4294967275"),
          "the probe over Wine's pdh.dll", out)
    check(seconds < 60, "and it does not hang")
    status, out, _ = run(wine, False, "zarmite-host.exe", "--plugin", "Zarmite.dll", "--rounds", "1")
    check(status == 0 and "Sources: 0" in out, "the plug-in over Wine's pdh.dll offers nothing", out)

    # Our stand-in: two adapters named by the counters alone, in ascending LUID order.
    work = os.path.join(WORK, "stand-in")
    flag = prepare(work, True)
    status, out, _ = run(work, True, "ZarmiteCLI.exe")
    check("Number of available counters: 32" in out, "sixteen counters an adapter", out)
    check("Counter 0: gpu0_busy\nDescription: Busiest engine's share of time "
          "(GPU 0, LUID 0x00000000_0x00001234)\nType: Percent" in out, "adapter 0, named by its LUID", out)
    check("Counter 17: gpu1_3d_busy" in out and "Counter 22: gpu1_dedicated_used_mib" in out and
          "Counter 31: gpu1_reserved15" in out, "the stable names", out)
    check("Counter 22: gpu1_dedicated_used_mib\nDescription: Dedicated memory used, MiB (GPU 1, "
          "LUID 0x00000000_0x0000D1A5)\nType: Raw" in out, "a memory counter is raw", out)

    # Single mode: the key is pressed once a sample has been printed, however slow the start.
    pressed = os.path.join(work, "press-key")
    if os.path.exists(pressed):
        os.remove(pressed)
    lines = follow(work, ["key-after.exe", "@" + native(pressed), "ZarmiteCLI.exe", "16"],
                   lambda line: line.startswith("Percent:") and open(pressed, "w").close())
    out = "".join(lines)
    check("Successfully added counter: 16" in out and "Percent: 70.000000" in out,
          "single mode samples the busiest engine", out)

    # The plug-in polls every source; an instance leaves the list after the second round,
    # and a later round (within 100) no longer counts it.
    def after_round(line):
        if line.startswith("Round 2:"):
            os.remove(flag)
        return line.startswith("Round ") and int(line.split(":")[0][6:]) > 2 and \
            abs(rounds(line)[0][4]) < 1e-6
    lines = follow(work, ["zarmite-host.exe", "--plugin", "Zarmite.dll", "--rounds", "100",
                          "--interval-ms", "100"], after_round)
    out = "".join(lines)
    values = rounds(out)
    check(len(values) >= 3, "rounds polled", out)
    if values:
        # busy, 3D (two processes), copy, video decode (its only item invalid: 0), compute,
        # dedicated and shared MiB, the total the system did not give (fails: 0.4), reserved.
        expected = [70, 50.75, 8, 0, 42, 1024, 512, 0.4, 0.4]
        check(all(abs(a - b) < 1e-3 for a, b in zip(values[0], expected)),
              "the values: %r" % values[0], out)
        check(abs(values[-1][4]) < 1e-6, "an instance that went away no longer counts: %r" %
              values[-1], out)

    # Who uses the GPU, from the processes' own counters: the host itself, a tenth of a
    # second of 3D engine time a collection (every 0.2 s: half the time), and a process
    # that the system will not open (it is not there), counted as unreadable.
    status, out, _ = run(work, True, "zarmite-host.exe", "--plugin", "Zarmite.dll", "--json",
                         "--processes", "--rounds", "4", "--interval-ms", "600")
    try:
        last = json.loads(out.strip().splitlines()[-1])
    except (ValueError, IndexError):
        last = {}
    mine = [p for p in last.get("processes", []) if p["name"] == "zarmite-host.exe"]
    other = [p for p in last.get("processes", []) if p["pid"] == 4000]
    check(status == 0 and len(mine) == 1 and mine[0]["gpu"] == 1 and
          25 <= mine[0]["busy"].get("graphics", 0) <= 75 and
          mine[0]["memory"] == {"device": 1048576, "system": 4096},
          "the host's own use of the GPU: %r" % mine, out)
    check(len(other) == 1 and other[0]["name"] == "" and other[0]["memory"]["device"] == 2048 and
          last.get("processes_unreadable") == 1, "a process the system will not open", out)

    # A system without the shared-usage counter: that counter fails, the rest read.
    missing = os.path.join(WORK, "missing")
    prepare(missing, True, extra="missing shared")
    status, out, _ = run(missing, True, "zarmite-host.exe", "--plugin", "Zarmite.dll", "--rounds", "1")
    values = rounds(out)
    check(len(values) == 1 and abs(values[0][6] - 0.4) < 1e-6 and abs(values[0][5] - 1024) < 1e-3,
          "a missing counter fails its value only", out)

    print("windows gpu: %s" % ("all checks passed" if not failures else "%d failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
