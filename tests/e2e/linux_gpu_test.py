#!/usr/bin/env python3
"""The counter library over every GPU, as users run it: the probe lists a fake machine's
GPUs (an AMD discrete one, an Intel integrated one, simpledrm in card0), fleet-config.py
writes the configuration, zarmite-host polls the plug-in and writes the textfile; a sensor
that hangs in the kernel (a FIFO) leaves every poll quick and the host exits at once.

Called as: linux_gpu_test.py HOST PLUGIN PROBE GPU_LIBRARY_DIR FLEET_CONFIG WORK_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import fake_gpu_machine as fake  # noqa: E402

HOST, PLUGIN, PROBE, LIBRARY_DIR, FLEET_CONFIG, WORK = sys.argv[1:7]
DEMO_CONFIG = os.path.join(os.path.dirname(FLEET_CONFIG), "..", "demo", "Zarmite-gpu0.cfg")
ROOT = os.path.join(WORK, "root")
failures = []


def check(condition, what, saw=""):
    if not condition:
        failures.append(what)
        print("FAIL:", what, "\n  saw:", saw)


CONTAINER = "4f" * 32


def machine():
    shutil.rmtree(WORK, ignore_errors=True)
    amd = fake.desktop(ROOT)
    fake.client(ROOT, 4242, 7, "renderD130", "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\n"
                "drm-client-id:\t3\ndrm-engine-render:\t1000 ns\n")
    fake.write(ROOT, "proc/4242/cgroup", "0::/system.slice/docker-%s.scope\n" % CONTAINER)
    fake.client(ROOT, 4243, 5, "renderD130", "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\n"
                "drm-client-id:\t4\ndrm-engine-render:\t1000 ns\ndrm-resident-system0:\t2 MiB\n")
    fake.write(ROOT, "proc/4243/cgroup", "0::/system.slice/nginx.service\n")
    return amd


def environment():
    return dict(os.environ, LD_LIBRARY_PATH=LIBRARY_DIR, ZARMITE_DRM_ROOT=ROOT,
                ZARMITE_SAMPLE_PERIOD_MS="50")


def rows_and_textfile(plugin, awaited, *more):
    """The first CSV rows of the host over the plug-in, and its textfile once it holds
    `awaited`."""
    textfile = os.path.join(WORK, "gpu.prom")
    host = subprocess.Popen([HOST, "--plugin", plugin, "--csv", "--interval-ms", "100",
                             "--textfile", textfile] + list(more), stdout=subprocess.PIPE,
                            text=True, env=environment())
    rows = [host.stdout.readline(), host.stdout.readline(), host.stdout.readline()]
    deadline = time.monotonic() + 30
    exposition = ""
    while awaited not in exposition and time.monotonic() < deadline:
        exposition = open(textfile).read() if os.path.exists(textfile) else ""
        time.sleep(0.05)
    host.terminate()
    host.communicate(timeout=30)
    return rows, exposition


def families(exposition, label):
    """The families that hold a series with the label."""
    return {line.split("{")[0] for line in exposition.splitlines()
            if not line.startswith("#") and label in line}


def check_fleet_script():
    # As a new user runs it: without --all what a GPU does not offer is left out (the AMD
    # GPU's SM clock); --help; a probe found nowhere, or one without a counter library,
    # is one line of error; with no argument, the probe beside the script is found.
    fleet = subprocess.run([FLEET_CONFIG, PROBE], capture_output=True, text=True,
                           env=environment(), timeout=120)
    check(fleet.returncode == 0 and
          "Name=busy\nDim=%\nMaxLimit=100\nGridDim=25\nGroup=GPU1" in fleet.stdout and
          "Name=sm_clock\nDim=MHz\nGroup=GPU1" not in fleet.stdout and
          "left out (--all keeps them)" in fleet.stderr, "what a GPU lacks is left out", fleet)
    helped = subprocess.run([FLEET_CONFIG, "--help"], capture_output=True, text=True, timeout=60)
    check(helped.returncode == 0 and helped.stdout.startswith("Usage: fleet-config.py"),
          "--help", helped)
    for arguments, env, status, said in (
            (["NoSuchProbe"], environment(), 2, "no probe NoSuchProbe found"),
            ([PROBE], dict(os.environ, LD_LIBRARY_PATH=""), 1, "could not start a counter library")):
        run = subprocess.run([FLEET_CONFIG] + arguments, capture_output=True, text=True, env=env,
                             timeout=120)
        check(run.returncode == status and len(run.stderr.splitlines()) == 1 and
              said in run.stderr and "Traceback" not in run.stderr, "fleet-config.py: " + said, run)
    installed = os.path.join(WORK, "bin")
    os.makedirs(installed, exist_ok=True)
    shutil.copy(FLEET_CONFIG, os.path.join(installed, "zarmite-fleet-config"))
    os.symlink(os.path.abspath(PROBE), os.path.join(installed, "ZarmiteCLI"))
    beside = subprocess.run([os.path.join(installed, "zarmite-fleet-config")], capture_output=True,
                            text=True, env=dict(environment(), PATH="/usr/bin:/bin"), timeout=120)
    check(beside.returncode == 0 and "Group=GPU1" in beside.stdout,
          "the probe beside the installed script, off the PATH", beside)


def check_health_through_the_host():
    """What the GPUs say of themselves, through the fleet's configuration to the textfile:
    energy and error counts as counters that never go back, though the driver's energy
    counter wraps at 32 bits; the Intel GPU's idle residency from its RC6 counter."""
    fleet = subprocess.run([FLEET_CONFIG, PROBE], capture_output=True, text=True,
                           env=environment(), timeout=120)
    check("ID=67\nName=energy\nDim=J\nGroup=GPU1" in fleet.stdout and
          "Name=xid_errors" not in fleet.stdout and "ID=47\nName=idle_residency\nDim=%"
          in fleet.stdout, "the fleet script writes what each GPU has", fleet)
    plugin = os.path.join(WORK, "health", os.path.basename(PLUGIN))
    os.makedirs(os.path.dirname(plugin), exist_ok=True)
    shutil.copy(PLUGIN, plugin)
    with open(os.path.join(os.path.dirname(plugin), "Zarmite.cfg"), "w") as out:
        out.write(fleet.stdout)
    runner = subprocess.Popen([sys.executable, fake.__file__, "--run", ROOT, "8"])
    textfile = os.path.join(WORK, "health.prom")
    # Idle residency is measured over a sample period: a second holds five of the fake
    # machine's steps.
    host = subprocess.Popen([HOST, "--plugin", plugin, "--textfile", textfile, "--interval-ms",
                             "200"], stdout=subprocess.DEVNULL,
                            env=dict(environment(), ZARMITE_SAMPLE_PERIOD_MS="1000"))
    energy, exposition = [], ""
    deadline = time.monotonic() + 30
    while runner.poll() is None and time.monotonic() < deadline:
        exposition = open(textfile).read() if os.path.exists(textfile) else ""
        for line in exposition.splitlines():
            if line.startswith('zarmite_energy_joules_total{group="GPU1"'):
                energy.append(float(line.split()[-1]))
        time.sleep(0.1)
    host.terminate()
    host.communicate(timeout=30)
    runner.wait(timeout=30)
    # The driver's counter started 2 s short of its wrap, and the run lasted 8 s.
    backwards = [(a, b) for a, b in zip(energy, energy[1:]) if b < a]
    check(len(energy) > 10 and not backwards and energy[-1] - energy[0] > 187 * 4,
          "energy grows through the counter's wrap", (energy[:3], energy[-3:], backwards))
    for series in ("# TYPE zarmite_energy_joules_total counter\n",
                   "# TYPE zarmite_ecc_corrected_total counter\n",
                   'zarmite_ecc_uncorrected_total{group="GPU1",source=',
                   'zarmite_thermal_limited_ratio{group="GPU1",source=',
                   'zarmite_power_limited_ratio{group="GPU0",source=',
                   'zarmite_temperature_hotspot_celsius{group="GPU1",source=',
                   'zarmite_dram_active_ratio{group="GPU1",source='):
        check(series in exposition, "the textfile holds " + series, exposition[:3000])
    idle = [line for line in exposition.splitlines()
            if line.startswith('zarmite_idle_residency_ratio{group="GPU0"')]
    check(idle and 0.6 < float(idle[0].split()[-1]) < 0.8, "the Intel GPU idles 70 %", idle)
    checked = subprocess.run(["promtool", "check", "metrics"], input=exposition,
                             capture_output=True, text=True)
    check(checked.returncode == 0 and not checked.stdout and not checked.stderr,
          "promtool accepts the textfile", checked)


def main():
    amd = machine()
    listing = subprocess.run([PROBE], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             env=environment(), timeout=60).stdout
    check("Number of available counters: 78" in listing, "the probe lists two GPUs", listing[:400])
    check("Counter 16: gpu1_busy\nDescription: Share of time the GPU was busy "
          "(GPU 1: amdgpu 0000:03:00.0, Navi 21)\nType: Percent" in listing,
          "the AMD GPU is GPU 1, after the Intel one's lower PCI address", listing[:2000])
    # The later counters follow both GPUs' first 16: GPU 1's are 55 to 77.
    check("Counter 61: gpu1_dram_active\nDescription: Memory bandwidth used (GPU 1: amdgpu" in
          listing and "Counter 32: gpu0_sm_active\nDescription: Share of SMs busy: not available "
          "on this GPU (only NVIDIA's driver measures it) (GPU 0: i915" in listing,
          "the later counters' numbers, and why a GPU lacks one", listing[-3000:])

    # Which GPUs the library found, and what each reads: two here, none on an empty machine.
    listed = subprocess.run([HOST, "--gpus"], capture_output=True, text=True, env=environment(),
                            timeout=60)
    check(listed.returncode == 0 and listed.stdout.startswith("2 GPUs in the counter library ") and
          "GPU 1: amdgpu 0000:03:00.0, Navi 21\n  counters: 16-31, 55-77\n  reads (21): busy, "
          "memory_busy" in listed.stdout and
          "pcie_rx_kbps, pcie_tx_kbps (not available on this GPU)" in listed.stdout and
          "dram_active, power_limited, thermal_limited, other_limited, energy_j, "
          "temperature_hotspot_c, temperature_memory_c, ecc_corrected, ecc_uncorrected\n"
          in listed.stdout and
          "xid_errors, last_xid, remapped_rows_pending, remapped_rows_failed, pcie_replays (not "
          "available on this GPU: only NVIDIA's driver measures it)" in listed.stdout and
          "thermal_limited 100 %, other_limited 0 %" in listed.stdout and
          "temperature_hotspot 71 C, temperature_memory 64 C, ecc_corrected 3, ecc_uncorrected 1"
          in listed.stdout, "--gpus lists two", listed)
    os.makedirs(os.path.join(WORK, "empty"), exist_ok=True)
    none = subprocess.run([HOST, "--gpus"], capture_output=True, text=True, timeout=60,
                          env=dict(environment(), ZARMITE_DRM_ROOT=os.path.join(WORK, "empty")))
    check(none.returncode == 1 and none.stdout.startswith("No GPU found by the counter library"),
          "--gpus says when there is none", none)

    # The guide runs the script directly; a probe without GPU counters gives no configuration.
    # --all keeps the counters a GPU does not offer, so that both GPUs have all 16 here.
    fleet = subprocess.run([FLEET_CONFIG, "--all", PROBE], capture_output=True, text=True,
                           env=environment(), timeout=120)
    check(fleet.returncode == 0 and "Group=GPU1" in fleet.stdout, "fleet-config.py", fleet.stderr)
    check_fleet_script()
    check_health_through_the_host()
    other_probe = os.path.join(WORK, "other-probe.sh")
    with open(other_probe, "w") as out:
        out.write("#!/bin/sh\nprintf 'NVPerfAPI initialization successful\\nCounter 0: frame_time\\n"
                  "Type: Raw\\n'\n")
    os.chmod(other_probe, 0o755)
    empty = subprocess.run([FLEET_CONFIG, other_probe], capture_output=True, text=True, timeout=60)
    check(empty.returncode == 1 and not empty.stdout and "no GPU counters" in empty.stderr,
          "fleet-config.py without GPU counters fails", empty)
    plugin = os.path.join(WORK, os.path.basename(PLUGIN))
    shutil.copy(PLUGIN, plugin)
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as out:
        out.write(fleet.stdout)
    rows, exposition = rows_and_textfile(plugin, 'source="16"} 0.37')
    amd_values = rows[-1].strip().split(",")[17:]  # after GPU 0's 16
    check(amd_values[:2] == ["37", "12"], "the AMD GPU's busy through the plug-in", rows)
    check(amd_values[8:11] == ["45", "187000", "20"], "its temperature, power, fan (pwm1)", rows)
    check('zarmite_busy_ratio{group="GPU1",source="16"} 0.37' in exposition, "the textfile",
          exposition[:600])
    # The demo's configuration names GPU 0's series as the fleet's does.
    fleet_families = families(exposition, 'group="GPU0"')
    shutil.copy(DEMO_CONFIG, os.path.join(WORK, "Zarmite.cfg"))
    demo_families = families(rows_and_textfile(plugin, "zarmite_pcie_tx")[1], 'group="GPU0"')
    check(demo_families and demo_families <= fleet_families,
          "the demo's families are the fleet's", sorted(demo_families - fleet_families))
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as out:
        out.write(fleet.stdout)
    # Who uses the GPU: the Intel GPU's client, through the library's clients' entry.
    scripts = subprocess.run([HOST, "--plugin", plugin, "--json", "--processes", "--rounds", "3",
                              "--interval-ms", "100"], capture_output=True, text=True,
                             env=environment(), timeout=60)
    rounds = [json.loads(line) for line in scripts.stdout.splitlines() if '"timestamp"' in line]
    users = [p for p in rounds[-1]["processes"] if p["pid"] == 4242] if rounds else []
    check(scripts.returncode == 0 and not scripts.stderr and len(users) == 1 and
          users[0]["gpu"] == 0 and users[0]["busy"] == {},  # its engine time stands still
          "the GPU's client in --json --processes", (scripts.stderr, users))

    # The same clients for fleets, grouped by container and by systemd unit from their
    # processes' cgroup files.
    _, exposition = rows_and_textfile(plugin, "zarmite_process_scan_seconds", "--process-metrics",
                                      "--process-group", "container")
    check('zarmite_process_gpu_clients{gpu="0",process="%s"} 1' % CONTAINER[:12] in exposition and
          'zarmite_process_gpu_memory_bytes{region="system",gpu="0",process="host"} 2097152'
          in exposition, "groups by container", exposition[exposition.find("zarmite_process"):])
    _, exposition = rows_and_textfile(plugin, "zarmite_process_scan_seconds", "--process-metrics",
                                      "--process-group", "unit")
    check('zarmite_process_gpu_clients{gpu="0",process="nginx.service"} 1' in exposition and
          'process="docker-%s.scope"' % CONTAINER in exposition, "groups by unit",
          exposition[exposition.find("zarmite_process"):])
    # A cgroup file that hangs in the kernel costs its process its group, not the round.
    cgroup = os.path.join(ROOT, "proc/4243/cgroup")
    os.remove(cgroup)
    os.mkfifo(cgroup)
    try:
        _, exposition = rows_and_textfile(plugin, "zarmite_process_scan_seconds",
                                          "--process-metrics", "--process-group", "unit")
        check('process="docker-%s.scope"' % CONTAINER in exposition and
              'zarmite_process_gpu_clients{gpu="0",process="unknown"} 1' in exposition and
              'zarmite_process_gpu_clients{gpu="0",process="nginx.service"}' not in exposition,
              "a hung cgroup file: its process alone loses its group",
              exposition[exposition.find("zarmite_process"):])
    finally:
        try:  # lets the stuck read end
            os.close(os.open(cgroup, os.O_RDWR | os.O_NONBLOCK))
        except OSError:
            pass
        os.remove(cgroup)
        fake.write(ROOT, "proc/4243/cgroup", "0::/system.slice/nginx.service\n")

    # The temperature sensor hangs in the kernel: a FIFO that no one writes.
    os.remove(os.path.join(ROOT, amd, "hwmon/hwmon2/temp1_input"))
    os.mkfifo(os.path.join(ROOT, amd, "hwmon/hwmon2/temp1_input"))
    started = time.monotonic()
    host = subprocess.Popen([HOST, "--plugin", plugin, "--csv", "--rounds", "8", "--interval-ms",
                             "100"], stdout=subprocess.PIPE, text=True, env=environment())
    stamps = [(time.monotonic(), line.strip()) for line in host.stdout]
    host.wait(timeout=30)
    ended = time.monotonic()
    gaps = [b[0] - a[0] for a, b in zip(stamps[2:], stamps[3:])]
    check(len(stamps) == 9 and max(gaps) < 0.6, "every poll after the first stays quick",
          ["%.3f %s" % (t - started, line[:60]) for t, line in stamps])
    check(ended - stamps[-1][0] < 2.0, "the host exits within 2 s", ended - stamps[-1][0])
    last = stamps[-1][1].split(",")[17:]
    check(last[:2] == ["37", "12"] and last[8] == "",
          "the temperature fails, the AMD GPU's other readings go on", last)
    try:  # lets the stuck read end
        os.close(os.open(os.path.join(ROOT, amd, "hwmon/hwmon2/temp1_input"), os.O_RDWR | os.O_NONBLOCK))
    except OSError:
        pass

    print("%d passed, %d failed" % (30 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
