#!/usr/bin/env python3
"""The live view as a user with GPUs sees it, in a real terminal (tmux): the overview of a
fake machine's two GPUs through the GPU counter library and of eight stand-in NVIDIA GPUs
through the NVML one, at 80 x 24 and 160 x 50, with the configuration the fleet script
writes; the graphs' scales without limits; the keys that switch, narrow and scroll; the
view that ends when no source can be added; and --gpu and --pid in CSV, JSON and --gpus.

Called as: host_gpu_view_test.py HOST PLUGIN PROBE GPU_LIBRARY_DIR NVML_LIBRARY_DIR
           STAND_IN_DIR FLEET_CONFIG WORK_DIR
"""
import csv
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import fake_gpu_machine as fake  # noqa: E402

HOST, PLUGIN, PROBE, GPU_DIR, NVML_DIR, STAND_IN, FLEET_CONFIG, WORK = sys.argv[1:9]
SESSION = "zarmite-gpu-view-%d" % os.getpid()
ROOT = os.path.join(WORK, "root")
failures = []


def check(condition, what, screen=None):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
        if screen is not None:
            print("\n".join(screen) if isinstance(screen, list) else screen)


def tmux(*arguments):
    return subprocess.run(["tmux", "-L", SESSION] + list(arguments), capture_output=True,
                          encoding="utf-8", errors="replace", check=False)


def capture():
    text = tmux("capture-pane", "-p", "-t", SESSION).stdout
    return text[:-1].split("\n") if text.endswith("\n") else text.split("\n")


def wait_until(condition, seconds=30):
    """The first screen for which condition(screen) holds, or the last one at the deadline."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        screen = capture()
        if condition(screen):
            return screen
        time.sleep(0.05)
    return capture()


def shown(text):
    return lambda screen: any(text in line for line in screen)


def keys(*pressed):
    tmux("send-keys", "-t", SESSION, *pressed)


def environments():
    gpu = dict(os.environ, LD_LIBRARY_PATH=GPU_DIR, ZARMITE_DRM_ROOT=ROOT,
               ZARMITE_SAMPLE_PERIOD_MS="100")
    scenario = os.path.join(WORK, "nvml-scenario.txt")
    with open(scenario, "w") as out:
        out.write("gpus 8\nset * utilization 37 12\nset * temperature 61\nset * power 187000\n"
                  "set * memory 17179869184 12884901888 4294967296 0\nset * graphics 1650\n")
    nvml = dict(os.environ, LD_LIBRARY_PATH=NVML_DIR + ":" + STAND_IN,
                ZARMITE_NVML_SCENARIO=scenario, ZARMITE_SAMPLE_PERIOD_MS="100")
    return gpu, nvml


def plugin_with_fleet_config(name, environment):
    """A folder with the plug-in and the configuration the fleet script writes there."""
    folder = os.path.join(WORK, name)
    os.makedirs(folder, exist_ok=True)
    shutil.copy(PLUGIN, folder)
    written = subprocess.run([sys.executable, FLEET_CONFIG, PROBE], capture_output=True, text=True,
                             env=environment, check=False)
    check(written.returncode == 0, "the fleet script for %s" % name, written.stderr)
    with open(os.path.join(folder, "Zarmite.cfg"), "w") as out:
        out.write(written.stdout)
    return os.path.join(folder, os.path.basename(PLUGIN))


def start(width, height, plugin, environment, arguments=""):
    variables = " ".join("%s='%s'" % (k, environment[k]) for k in
                         ("LD_LIBRARY_PATH", "ZARMITE_DRM_ROOT", "ZARMITE_NVML_SCENARIO",
                          "ZARMITE_SAMPLE_PERIOD_MS") if k in environment)
    command = ("env LC_ALL=C %s '%s' --plugin '%s' --watch --interval-ms 200 %s; echo EXITED $?; "
               "sleep 60" % (variables, HOST, plugin, arguments))
    tmux("kill-server")
    tmux("new-session", "-d", "-s", SESSION, "-x", str(width), "-y", str(height), command)


def finish():
    keys("q")
    screen = wait_until(shown("EXITED"))
    tmux("kill-server")
    return screen


def check_two_gpus(plugin, environment):
    start(80, 24, plugin, environment)
    screen = wait_until(lambda s: shown("1 of 15.98 GiB")(s) and shown("COMMAND")(s) and
                        shown(" 2 GPUs")(s))
    check(screen[0].startswith("GPU 0  i915 0000:00:02.0, Iris Xe") and
          any(line.startswith("GPU 1  amdgpu 0000:03:00.0, Navi 21") for line in screen),
          "the overview: a block a GPU with its name", screen)
    check(any(line.startswith(" busy   [#######.............] 37 %") for line in screen),
          "the AMD GPU's busy as a short bar", screen)
    check(any(line.startswith(" 45 C  187 W  fan 20 %  graphics 1340 MHz") for line in screen),
          "its other figures, large ones in larger units", screen)
    # At 80 columns the panel shows the command: the busy column gives way.
    rows = [line for line in screen if line[1:5].isdigit() and "MiB" in line]
    check(rows and all(line.rstrip().split()[-1] in fake.NAMES for line in rows),
          "the processes' commands at 80 columns", screen)

    # v: the graphs. A share without limits is drawn out of 100 and a constant power under
    # a round ceiling in watts, never as a band around it.
    keys("v")
    screen = wait_until(lambda s: shown("== GPU0 ==")(s) and shown("encoder_busy")(s))
    encoder = [row for row, line in enumerate(screen) if line.startswith("encoder_busy")]
    check(encoder and screen[encoder[0]].rstrip().endswith(" 0 %") and
          screen[encoder[0] + 1].startswith("      100|") and
          screen[encoder[0] + 6].rstrip().endswith("#") and "#" not in screen[encoder[0] + 5],
          "a steady 0 % on the floor of a graph from 0 to 100", screen)
    keys("n")
    screen = wait_until(shown("GPU 0's sources"))
    gpu_column = [line.split()[2] for line in screen if line[1:5].isdigit() and "MiB" in line]
    check(gpu_column and set(gpu_column) == {"0"}, "n narrows the graphs and processes to GPU 0",
          screen)
    keys("n")
    wait_until(shown("GPU 1's sources"))

    # [ and ] scroll the processes; p hides them and the status line says how to get them
    # back.
    keys("n", "v", "]", "]")  # every GPU again: more processes than rows
    screen = wait_until(shown("3-"))
    check(any("shown ([ ] scroll)" in line for line in screen), "] scrolls the processes", screen)
    keys("p")
    screen = wait_until(lambda s: "p processes" in s[-1])
    check("p processes" in screen[-1] and not shown("COMMAND")(screen),
          "p hides the processes and says how to show them", screen)
    finish()

    # 160 x 50: the two blocks side by side.
    start(160, 50, plugin, environment)
    screen = wait_until(lambda s: s[0].startswith("GPU 0") and "GPU 1" in s[0])
    check(screen[0].startswith("GPU 0") and "GPU 1  amdgpu" in screen[0],
          "two GPUs side by side at 160 columns", screen)
    # GPU 1's graphs: a constant power is drawn under a round ceiling in watts.
    keys("v", "n", "n")
    screen = wait_until(lambda s: shown("GPU 1's sources")(s) and shown("187 W")(s))
    power = [(row, line.index("power")) for row, line in enumerate(screen) if "power " in line]
    check(power and screen[power[0][0]][power[0][1]:power[0][1] + 53].rstrip().endswith("187 W") and
          screen[power[0][0] + 1][power[0][1]:].startswith("    200 W|"),
          "a constant power: from 0 to 200 W", screen)
    finish()


def check_eight_gpus(plugin, environment):
    for width, height in ((160, 50), (80, 24)):
        start(width, height, plugin, environment)
        screen = wait_until(lambda s: shown("GPU 7")(s) and shown("37 %")(s))
        gpus = [n for n in range(8) if any(("GPU %d " % n) in line for line in screen)]
        check(gpus == list(range(8)), "all eight GPUs on one screen at %dx%d: %r" %
              (width, height, gpus), screen)
        check(shown("4 of 16 GiB")(screen) and shown("61 C  187 W")(screen),
              "each GPU's memory and figures at %dx%d" % (width, height), screen)
        finish()


def check_nothing_to_show(environment):
    folder = os.path.join(WORK, "none")
    os.makedirs(folder, exist_ok=True)
    shutil.copy(PLUGIN, folder)
    with open(os.path.join(folder, "Zarmite.cfg"), "w") as out:
        out.write("[Source0]\nID=999\n[Source1]\nID=998\n")
    start(80, 24, os.path.join(folder, os.path.basename(PLUGIN)), environment)
    screen = wait_until(shown("EXITED"))
    check(shown("EXITED 1")(screen) and shown("nothing to show")(screen) and
          shown("no source could be added")(screen),
          "a view of no source that can be added ends with status 1 and says why", screen)
    tmux("kill-server")


def check_script_outputs(plugin, environment):
    one = subprocess.run([HOST, "--plugin", plugin, "--csv", "--gpu", "1", "--rounds", "2",
                          "--interval-ms", "100"], capture_output=True, text=True,
                         env=environment, check=False)
    header = next(csv.reader(one.stdout.splitlines()))
    # Its twelve of the first sixteen, and the nine of the later ones its files give.
    check(one.returncode == 0 and len(header) == 22 and "power (mW)" in header and
          "energy (J)" in header and "thermal_limited (%)" in header,
          "--gpu 1 --csv: GPU 1's 21 sources", one.stdout + one.stderr)
    pid = 1001  # a client of the AMD GPU
    fake.write(ROOT, "proc/%d/comm" % pid, "browser\n")
    run = subprocess.run([HOST, "--plugin", plugin, "--json", "--processes", "--gpu", "1",
                          "--pid", str(pid), "--rounds", "3", "--interval-ms", "200"],
                         capture_output=True, text=True, env=environment, check=False)
    last = json.loads(run.stdout.splitlines()[-1])
    check([(p["gpu"], p["pid"]) for p in last["processes"]] == [(1, pid)] and
          [u["gpu"] for u in last["processes_unattributed"]] in ([1], []),
          "--gpu 1 --pid: that process on that GPU only", run.stdout[-600:])
    listed = subprocess.run([HOST, "--gpus", "--gpu", "1"], capture_output=True, text=True,
                            env=environment, check=False)
    check(listed.returncode == 0 and "GPU 1: amdgpu" in listed.stdout and
          "GPU 0:" not in listed.stdout and "now: busy 37 %" in listed.stdout and
          "power 187 W" in listed.stdout, "--gpus --gpu 1: that GPU and what it reads now",
          listed.stdout + listed.stderr)
    refused = subprocess.run([HOST, "--plugin", plugin, "--gpu", "1"], capture_output=True,
                             text=True, env=environment, check=False)
    check(refused.returncode == 2 and "--gpu is for" in refused.stderr,
          "--gpu with the descriptor rows is refused", refused.stderr)


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    fake.desktop(ROOT)
    fake.processes(ROOT, 100, 400, 20)
    runner = subprocess.Popen([sys.executable, fake.__file__, "--run", ROOT, "300"])
    try:
        gpu, nvml = environments()
        two = plugin_with_fleet_config("two", gpu)
        eight = plugin_with_fleet_config("eight", nvml)
        check_two_gpus(two, gpu)
        check_eight_gpus(eight, nvml)
        check_nothing_to_show(gpu)
        check_script_outputs(two, gpu)
    finally:
        runner.kill()
        tmux("kill-server")
    print("host gpu view: %s" % ("all checks passed" if not failures else
                                 "%d failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
