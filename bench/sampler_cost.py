#!/usr/bin/env python3
"""What the counters a GPU says of itself cost the sampler: the processor time of a host
whose sources are every GPU's first 16 counters, against one whose sources are all 39, per
GPU and sample period, over the fake machine (an AMD and an Intel GPU, 100 processes) and
over the NVML library's stand-in (two GPUs). The host polls once a second while the sampler
reads every 20 ms, so the sampler's work is nearly all of it; each run is 10 s, and the
figure is the median of five runs of each, interleaved.

Usage: bench/sampler_cost.py BUILD        (BUILD: build/linux)
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools"))
import fake_gpu_machine as fake  # noqa: E402

PERIOD_MS = 20
SECONDS = 10
RUNS = 5


def config(counters):
    return "".join("[Source%d]\nID=%d\nName=m%d\n" % (i, c, c) for i, c in enumerate(counters))


def cpu_seconds(build, folder, environment):
    """Processor time of one host run over the plug-in in FOLDER."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([os.path.join(build, "bin", "zarmite-host"), "--plugin",
                    os.path.join(folder, "Zarmite.so"), "--csv", "--rounds", str(SECONDS + 1),
                    "--interval-ms", "1000"], stdout=subprocess.DEVNULL, env=environment,
                   check=True, timeout=120)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def measure(build, work, name, environment, gpus):
    folders = {}
    for kind, counters in (("first 16", range(16 * gpus)), ("all 39", range(39 * gpus))):
        folders[kind] = os.path.join(work, name, kind.replace(" ", "-"))
        os.makedirs(folders[kind])
        shutil.copy(os.path.join(build, "bin", "Zarmite.so"), folders[kind])
        with open(os.path.join(folders[kind], "Zarmite.cfg"), "w") as out:
            out.write(config(counters))
    times = {kind: [] for kind in folders}
    for _ in range(RUNS):
        for kind, folder in folders.items():
            times[kind].append(cpu_seconds(build, folder, environment))
    periods = SECONDS * 1000 / PERIOD_MS
    for kind in folders:
        per = statistics.median(times[kind]) / (gpus * periods) * 1e6
        print("%s, %s counters: %.1f µs of processor time per GPU and period" % (name, kind, per))


def main():
    build = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp()
    try:
        root = os.path.join(work, "machine")
        fake.desktop(root)
        fake.processes(root, 100, 400, 20)
        common = dict(os.environ, ZARMITE_SAMPLE_PERIOD_MS=str(PERIOD_MS))
        measure(build, work, "fake machine", dict(common, ZARMITE_DRM_ROOT=root,
                                                  LD_LIBRARY_PATH=os.path.join(build, "gpu-lib")),
                2)
        scenario = os.path.join(work, "scenario.txt")
        with open(scenario, "w") as out:
            out.write("gpus 2\n")
        measure(build, work, "NVML stand-in",
                dict(common, ZARMITE_NVML_SCENARIO=scenario,
                     LD_LIBRARY_PATH=os.path.join(build, "nvml-lib") + ":" +
                     os.path.join(build, "nvml-stand-in")), 2)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
