#!/usr/bin/env python3
"""A machine's /sys and /proc as the kernel lays them out, written under a folder that the
GPU counter library takes for "/" (ZARMITE_DRM_ROOT). Imported by the tests; run alone, it
writes the benchmarks' machine: an AMD discrete GPU, an Intel integrated one, simpledrm in
card0, and PROCESSES processes with DESCRIPTORS descriptors in all, CLIENTS of them DRM
clients of the two GPUs; and, where HEAVY is given, one more process that has opened the
AMD GPU's render node HEAVY times.

Usage: fake_gpu_machine.py ROOT [PROCESSES DESCRIPTORS CLIENTS [HEAVY]]
       fake_gpu_machine.py --run ROOT SECONDS

With --run, the clients that ROOT's machine has work for SECONDS: each adds engine time at
a share of its own (1 to 5 % of the wall clock, in its first engine), so that who uses the GPU has shares to
show; the AMD GPU's clients add up to less than its own busy figure.
"""
import os
import re
import shutil
import struct
import sys
import time

AMD = "0000:03:00.0"
INTEL = "0000:00:02.0"
AMD_FILES = {
    "gpu_busy_percent": "37\n", "mem_busy_percent": "12\n",
    "pp_dpm_sclk": "0: 500Mhz \n1: 1340Mhz *\n", "pp_dpm_mclk": "0: 96Mhz \n1: 1000Mhz *\n",
    "mem_info_vram_total": "17163091968\n", "mem_info_vram_used": "1073741824\n",
    "power/runtime_status": "active\n", "hwmon/hwmon2/temp1_input": "45000\n",
    "hwmon/hwmon2/power1_average": "187000000\n", "hwmon/hwmon2/pwm1": "51\n",
    "hwmon/hwmon2/temp2_input": "71000\n", "hwmon/hwmon2/temp2_label": "junction\n",
    "hwmon/hwmon2/temp3_input": "64000\n", "hwmon/hwmon2/temp3_label": "mem\n",
    "ras/umc_err_count": "ue: 0\nce: 3\n", "ras/gfx_err_count": "ue: 1\nce: 0\n"}
# An energy counter of 32 bits, in µJ, as some boards' hwmon keeps it: it wraps every 23 s
# at the AMD GPU's 187 W.
ENERGY = "hwmon/hwmon2/energy1_input"
ENERGY_START = 2 ** 32 - 187000000 * 2
ENERGY_RATE = 187000000
INTEL_FILES = {
    "drm/card2/gt_act_freq_mhz": "1300\n", "drm/card2/gt/gt0/throttle_reason_pl1": "1\n",
    "drm/card2/gt/gt0/throttle_reason_thermal": "0\n",
    "drm/card2/gt/gt0/throttle_reason_ratl": "0\n",
    "drm/card2/gt/gt0/rc6_residency_ms": "1000\n"}
RC6 = "drm/card2/gt/gt0/rc6_residency_ms"
RC6_SHARE = 0.7


def gpu_metrics(fmt, content, size, fields):
    """A binary gpu_metrics table of SIZE bytes: its header, FIELDS {offset: (width, value)},
    every other byte all ones (a field the firmware does not fill)."""
    table = bytearray(b"\xff" * size)
    table[0:4] = struct.pack("<HBB", size, fmt, content)
    for offset, (width, value) in fields.items():
        table[offset:offset + width] = value.to_bytes(width, "little")
    return bytes(table)


# A discrete board's table of revision 1.3: hotspot 71 °C, memory 64 °C, the memory
# controller 23 % busy, the clocks held by a temperature limit (bit 33).
AMD_METRICS = gpu_metrics(1, 3, 120, {6: (2, 71), 8: (2, 64), 18: (2, 23), 112: (8, 1 << 33)})


def write(root, path, text):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb" if isinstance(text, bytes) else "w") as out:
        out.write(text)


def replace(path, text):
    """Writes PATH anew so that a reader sees the old text or the new, whole."""
    with open(path + ".new", "w") as out:
        out.write(text)
    os.replace(path + ".new", path)


def link(root, path, target):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)


def gpu(root, card, address, vendor, device, driver, files):
    """A GPU behind card CARD and its render node, with FILES under its device folder; the
    folder's path under the root."""
    folder = "sys/devices/pci0000:00/" + address
    write(root, folder + "/vendor", vendor + "\n")
    write(root, folder + "/device", device + "\n")
    link(root, folder + "/driver", "../../../bus/pci/drivers/" + driver)
    for name in ("card%d" % card, "renderD%d" % (128 + card)):
        link(root, folder + "/drm/%s/device" % name, "../../../" + address)
        link(root, "sys/class/drm/" + name, "../../devices/pci0000:00/%s/drm/%s" % (address, name))
    link(root, "sys/class/drm/card%d-DP-1" % card,
         "../../devices/pci0000:00/%s/drm/card%d" % (address, card))
    for name, text in files.items():
        write(root, folder + "/" + name, text)
    return folder


def framebuffer(root, card):
    """A firmware framebuffer's card: no PCI device behind it."""
    folder = "sys/devices/platform/simple-framebuffer.0"
    link(root, "sys/class/drm/card%d" % card, "../../devices/platform/simple-framebuffer.0/drm/card%d" % card)
    link(root, folder + "/drm/card%d/device" % card, "../../../simple-framebuffer.0")


def client(root, pid, fd, node, fdinfo):
    link(root, "proc/%d/fd/%d" % (pid, fd), "/dev/dri/" + node)
    write(root, "proc/%d/fdinfo/%d" % (pid, fd), fdinfo)


def desktop(root):
    """simpledrm in card0, the AMD GPU in card1, the Intel one in card2; AMD's sensor folder."""
    shutil.rmtree(root, ignore_errors=True)
    framebuffer(root, 0)
    write(root, "sys/class/drm/version", "drm 1.1.0 20060810\n")
    write(root, "usr/share/misc/pci.ids", "1002  AMD\n\t73bf  Navi 21\n8086  Intel\n\t46a6  Iris Xe\n")
    amd = gpu(root, 1, AMD, "0x1002", "0x73bf", "amdgpu", AMD_FILES)
    write(root, amd + "/gpu_metrics", AMD_METRICS)
    write(root, amd + "/" + ENERGY, "%d\n" % ENERGY_START)
    gpu(root, 2, INTEL, "0x8086", "0x46a6", "i915", INTEL_FILES)
    return amd


NAMES = ["compositor", "browser", "game", "video-player", "editor"]


def processes(root, count, descriptors, clients):
    """COUNT processes, DESCRIPTORS descriptors among them, CLIENTS of those DRM clients,
    whose processes have names and users."""
    write(root, "etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1000:1000::/home/alice:/bin/sh\n")
    for n in range(descriptors):
        pid, fd = 1000 + n % count, 3 + n // count
        if n < clients:
            node, pdev, driver = ("renderD129", AMD, "amdgpu") if n % 2 else ("renderD130", INTEL, "i915")
            client(root, pid, fd, node, "drm-driver:\t%s\ndrm-pdev:\t%s\ndrm-client-id:\t%d\n"
                   "drm-engine-render:\t%d ns\ndrm-engine-gfx:\t%d ns\ndrm-resident-vram:\t%d MiB\n"
                   "drm-resident-system0:\t%d MiB\n" % (driver, pdev, n, n, n, 16 * (n + 1), 8 * (n + 1)))
            write(root, "proc/%d/comm" % pid, NAMES[n % len(NAMES)] + "\n")
            write(root, "proc/%d/status" % pid, "Name:\t%s\nUid:\t1000\t1000\t1000\t1000\n"
                  % NAMES[n % len(NAMES)])
        else:
            link(root, "proc/%d/fd/%d" % (pid, fd), "socket:[%d]" % n if n % 3 else "/dev/null")
            write(root, "proc/%d/fdinfo/%d" % (pid, fd), "pos:\t0\nflags:\t02\n")


def heavy(root, pid, descriptors):
    """Process PID with DESCRIPTORS clients of its own on the AMD GPU's render node."""
    for fd in range(3, 3 + descriptors):
        client(root, pid, fd, "renderD129", "drm-driver:\tamdgpu\ndrm-pdev:\t%s\n"
               "drm-client-id:\t%d\ndrm-engine-gfx:\t0 ns\ndrm-engine-enc:\t0 ns\n" % (AMD, 100000 + fd))


def run(root, seconds):
    """Advances every client's engine time by its share of the time that passes."""
    clients = []
    for pid in sorted(os.listdir(os.path.join(root, "proc"))):
        folder = os.path.join(root, "proc", pid, "fdinfo")
        for fd in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            path = os.path.join(folder, fd)
            with open(path) as file:
                text = file.read()
            match = re.search(r"drm-client-id:\t(\d+)", text)
            if match and "drm-engine-" in text:
                clients.append((path, text, (1 + int(match.group(1)) % 5) / 100.0))
    amd = os.path.join(root, "sys/devices/pci0000:00", AMD)
    intel = os.path.join(root, "sys/devices/pci0000:00", INTEL)
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        time.sleep(0.2)
        passed_ns = int((time.monotonic() - start) * 1e9)
        for path, text, share in clients:
            replace(path, re.sub(r"(drm-engine-(?:render|gfx):\t)(\d+)",
                                 lambda m: m.group(1) + str(int(m.group(2)) + int(passed_ns * share)),
                                 text, count=1))
        # The GPUs' own counts: energy (which wraps) and the Intel GPU's idle residency.
        if os.path.exists(os.path.join(amd, ENERGY)):
            replace(os.path.join(amd, ENERGY),
                    "%d\n" % ((ENERGY_START + ENERGY_RATE * passed_ns // 10 ** 9) % 2 ** 32))
        if os.path.exists(os.path.join(intel, RC6)):
            replace(os.path.join(intel, RC6), "%d\n" % (1000 + int(passed_ns * RC6_SHARE / 1e6)))


if __name__ == "__main__":
    if sys.argv[1] == "--run":
        run(sys.argv[2], float(sys.argv[3]))
        sys.exit(0)
    desktop(sys.argv[1])
    counts = [int(a) for a in sys.argv[2:5]] or [1000, 10000, 20]
    processes(sys.argv[1], *counts)
    if len(sys.argv) > 5:
        heavy(sys.argv[1], 999, int(sys.argv[5]))
