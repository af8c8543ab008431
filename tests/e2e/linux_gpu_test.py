#!/usr/bin/env python3
"""The counter library over every GPU, as users run it: the probe lists a fake machine's
GPUs (an AMD discrete one, an Intel integrated one, simpledrm in card0), fleet-config.py
writes the configuration, zarmite-host polls the plug-in and writes the textfile; a sensor
that hangs in the kernel (a FIFO) leaves every poll quick and the host exits at once.

Called as: linux_gpu_test.py HOST PLUGIN PROBE GPU_LIBRARY_DIR FLEET_CONFIG WORK_DIR
"""
import os
import shutil
import subprocess
import sys
import time

HOST, PLUGIN, PROBE, LIBRARY_DIR, FLEET_CONFIG, WORK = sys.argv[1:7]
ROOT = os.path.join(WORK, "root")
AMD = "0000:03:00.0"
failures = []


def check(condition, what, saw=""):
    if not condition:
        failures.append(what)
        print("FAIL:", what, "\n  saw:", saw)


def write(path, text):
    path = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write(text)


def link(path, target):
    path = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)


def gpu(card, address, vendor, device, driver, files):
    folder = "sys/devices/pci0000:00/" + address
    write(folder + "/vendor", vendor + "\n")
    write(folder + "/device", device + "\n")
    link(folder + "/driver", "../../../bus/pci/drivers/" + driver)
    for name in ("card%d" % card, "renderD%d" % (128 + card)):
        link(folder + "/drm/%s/device" % name, "../../../" + address)
        link("sys/class/drm/" + name, "../../devices/pci0000:00/%s/drm/%s" % (address, name))
    link("sys/class/drm/card%d-DP-1" % card, "../../devices/pci0000:00/%s/drm/card%d" % (address, card))
    for name, text in files.items():
        write(folder + "/" + name, text)
    return folder


def machine():
    shutil.rmtree(WORK, ignore_errors=True)
    link("sys/class/drm/card0", "../../devices/platform/simple-framebuffer.0/drm/card0")
    link("sys/devices/platform/simple-framebuffer.0/drm/card0/device", "../../../simple-framebuffer.0")
    write("sys/class/drm/version", "drm 1.1.0 20060810\n")
    write("usr/share/misc/pci.ids", "1002  AMD\n\t73bf  Navi 21\n8086  Intel\n\t46a6  Iris Xe\n")
    amd = gpu(1, AMD, "0x1002", "0x73bf", "amdgpu", {
        "gpu_busy_percent": "37\n", "mem_busy_percent": "12\n",
        "pp_dpm_sclk": "0: 500Mhz \n1: 1340Mhz *\n", "pp_dpm_mclk": "0: 96Mhz \n1: 1000Mhz *\n",
        "mem_info_vram_total": "17163091968\n", "mem_info_vram_used": "1073741824\n",
        "power/runtime_status": "active\n", "hwmon/hwmon2/temp1_input": "45000\n",
        "hwmon/hwmon2/power1_average": "187000000\n", "hwmon/hwmon2/pwm1": "51\n"})
    gpu(2, "0000:00:02.0", "0x8086", "0x46a6", "i915", {"drm/card2/gt_act_freq_mhz": "1300\n"})
    link("proc/4242/fd/7", "/dev/dri/renderD130")
    write("proc/4242/fdinfo/7", "drm-driver:\ti915\ndrm-pdev:\t0000:00:02.0\n"
          "drm-client-id:\t3\ndrm-engine-render:\t1000 ns\n")
    return amd


def environment():
    return dict(os.environ, LD_LIBRARY_PATH=LIBRARY_DIR, ZARMITE_DRM_ROOT=ROOT,
                ZARMITE_SAMPLE_PERIOD_MS="50")


def main():
    amd = machine()
    listing = subprocess.run([PROBE], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             env=environment(), timeout=60).stdout
    check("Number of available counters: 32" in listing, "the probe lists two GPUs", listing[:400])
    check("Counter 16: gpu1_busy\nDescription: Share of time the GPU was busy "
          "(GPU 1: amdgpu 0000:03:00.0, Navi 21)\nType: Percent" in listing,
          "the AMD GPU is GPU 1, after the Intel one's lower PCI address", listing[:2000])

    fleet = subprocess.run([sys.executable, FLEET_CONFIG, PROBE], capture_output=True, text=True,
                           env=environment(), timeout=120)
    check(fleet.returncode == 0 and "Group=GPU1" in fleet.stdout, "fleet-config.py", fleet.stderr)
    plugin = os.path.join(WORK, os.path.basename(PLUGIN))
    shutil.copy(PLUGIN, plugin)
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as out:
        out.write(fleet.stdout)
    textfile = os.path.join(WORK, "gpu.prom")
    rows = subprocess.run([HOST, "--plugin", plugin, "--csv", "--rounds", "2", "--interval-ms",
                           "100", "--textfile", textfile], capture_output=True, text=True,
                          env=environment(), timeout=60).stdout.splitlines()
    amd_values = rows[-1].split(",")[17:] if len(rows) == 3 else []  # after GPU 0's 16
    check(amd_values[:2] == ["37", "12"], "the AMD GPU's busy through the plug-in", rows)
    check(amd_values[8:11] == ["45", "187000", "20"], "its temperature, power, fan (pwm1)", rows)
    exposition = open(textfile).read() if os.path.exists(textfile) else ""
    check('zarmite_busy_ratio{group="GPU1"} 0.37' in exposition, "the textfile", exposition[:600])

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
    check(last[:2] == ["37", "12"] and last[8] == "0.400000006",
          "the temperature fails, the AMD GPU's other readings go on", last)
    try:  # lets the stuck read end
        os.close(os.open(os.path.join(ROOT, amd, "hwmon/hwmon2/temp1_input"), os.O_RDWR | os.O_NONBLOCK))
    except OSError:
        pass

    print("%d passed, %d failed" % (8 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
