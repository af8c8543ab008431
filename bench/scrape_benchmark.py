#!/usr/bin/env python3
"""The metrics endpoint's costs: a scrape's latency over loopback for 16, 160 and 1,600
sources with 1 and with 16 scrapers at once; how far rounds drift from their schedule
while 16 scrapers hammer the endpoint; and the host's own CPU time as a daemon over 60 s
(128 sources, a round a second, a scrape a second). A benchmark: it prints figures and
fails nothing. With --gpu ROOT, only the daemon's CPU time, over the library over every
GPU and the machine that tests/tools/fake_gpu_machine.py wrote at ROOT: its two GPUs'
32 counters.

Usage: scrape_benchmark.py BUILD_DIR [--quick] [--gpu ROOT]
"""
import datetime
import http.client
import multiprocessing
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BUILD = sys.argv[1]
QUICK = "--quick" in sys.argv
HOST = os.path.join(BUILD, "bin", "zarmite-host")
PLUGIN = os.path.join(BUILD, "bin", "Zarmite.so")
ENV = dict(os.environ, LD_LIBRARY_PATH=os.path.join(BUILD, "simulated-lib"))
GPU_ROOT = sys.argv[sys.argv.index("--gpu") + 1] if "--gpu" in sys.argv else None
if GPU_ROOT:
    ENV = dict(os.environ, LD_LIBRARY_PATH=os.path.join(BUILD, "gpu-lib"), ZARMITE_DRM_ROOT=GPU_ROOT)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def folder_with(sources, counters=14):
    folder = tempfile.mkdtemp(prefix="zarmite-bench-")
    shutil.copy(PLUGIN, folder)
    with open(os.path.join(folder, "Zarmite.cfg"), "w") as config:
        for i in range(sources):
            config.write("[Source%d]\nID=%d\nName=Source %d\nDim=%%\nGroup=GPU%d\n" % (i, i % counters, i, i // 16))
    return folder


def start(folder, port, *arguments, stdout=subprocess.DEVNULL):
    process = subprocess.Popen([HOST, "--plugin", os.path.join(folder, "Zarmite.so"), "--serve",
                                "127.0.0.1:%d" % port] + list(arguments), stdout=stdout,
                               stderr=subprocess.DEVNULL, env=ENV)
    deadline = time.time() + 30
    while time.time() < deadline:
        try:
            if b"zarmite_rounds_total 0" not in scrape_once(port):
                return process
        except OSError:
            pass
        time.sleep(0.05)
    raise RuntimeError("the host did not serve")


def scrape_once(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", "/metrics")
    body = connection.getresponse().read()
    connection.close()
    return body


def scraper(port, count, latencies, stop=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    done = 0
    while (stop is None and done < count) or (stop is not None and not stop.is_set()):
        started = time.perf_counter()
        try:
            connection.request("GET", "/metrics")
            connection.getresponse().read()
        except (OSError, http.client.HTTPException):
            break  # the host has ended its rounds
        latencies.append((time.perf_counter() - started) * 1000)
        done += 1
    connection.close()


def scrape_many(port, count):
    latencies = []
    scraper(port, count, latencies)
    return latencies


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * share))]


def latency(sources):
    folder = folder_with(sources)
    port = free_port()
    host = start(folder, port, "--interval-ms", "1000")
    rows = []
    for scrapers in (1, 16):
        # A process each, so that the scrapers do not queue behind one interpreter's lock.
        with multiprocessing.Pool(scrapers) as pool:
            results = pool.starmap(scrape_many, [(port, 50 if QUICK else 200)] * scrapers)
        latencies = [value for result in results for value in result]
        rows.append((scrapers, statistics.median(latencies), percentile(latencies, 0.99)))
    host.terminate()
    host.wait()
    shutil.rmtree(folder)
    return rows


def drift(sources):
    """Round starts against their schedule (CSV timestamps, to the millisecond) while 16
    scrapers scrape without pause."""
    folder = folder_with(sources)
    port = free_port()
    rounds = 30 if QUICK else 100
    stop = threading.Event()
    host = start(folder, port, "--csv", "--interval-ms", "100", "--rounds", str(rounds),
                 stdout=subprocess.PIPE)
    latencies = []
    threads = [threading.Thread(target=scraper, args=(port, 0, latencies, stop)) for _ in range(16)]
    for thread in threads:
        thread.start()
    lines = host.stdout.read().decode().splitlines()[1:]
    host.wait()
    stop.set()
    for thread in threads:
        thread.join()
    shutil.rmtree(folder)
    starts = [datetime.datetime.fromisoformat(line.split(",")[0]).timestamp() for line in lines]
    offsets = [abs((start - starts[0]) * 1000 - 100 * k) for k, start in enumerate(starts)]
    return statistics.median(offsets), percentile(offsets, 0.99), len(latencies)


def daemon_cpu(sources=128, counters=14):
    folder = folder_with(sources, counters)
    port = free_port()
    seconds = 10 if QUICK else 60
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    host = subprocess.Popen([HOST, "--plugin", os.path.join(folder, "Zarmite.so"), "--serve",
                             "127.0.0.1:%d" % port, "--rounds", str(seconds + 1)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=ENV)
    started = time.time()
    steady = []  # (time, CPU seconds) from the 5th second on: the start left out
    while host.poll() is None:
        time.sleep(1)
        try:
            scrape_once(port)
            if time.time() - started >= 5:
                with open("/proc/%d/stat" % host.pid) as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                steady.append((time.time(), (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")))
        except (OSError, IndexError, ValueError):
            pass
    elapsed = time.time() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    shutil.rmtree(folder)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if len(steady) >= 2:
        share = (steady[-1][1] - steady[0][1]) / (steady[-1][0] - steady[0][0])
        print("  after its start: %.3f %% of a core over %.0f s" % (100 * share, steady[-1][0] - steady[0][0]))
    return cpu, elapsed


def main():
    if GPU_ROOT:
        cpu, elapsed = daemon_cpu(32, 32)
        print("daemon over the GPU library, two GPUs' 32 counters, a round and a scrape a second: "
              "%.3f s of CPU in %.0f s: %.3f %% of a core" % (cpu, elapsed, 100 * cpu / elapsed))
        return 0
    print("| sources | scrapers | median | 99th percentile |\n| --- | --- | --- | --- |")
    for sources in (16, 160, 1600):
        for scrapers, median, p99 in latency(sources):
            print("| %d | %d | %.3f ms | %.3f ms |" % (sources, scrapers, median, p99))
    for sources in (16, 160, 1600):
        median, p99, scrapes = drift(sources)
        print("round drift, %d sources, 16 scrapers (%d scrapes): median %.1f ms, 99th percentile %.1f ms"
              % (sources, scrapes, median, p99))
    cpu, elapsed = daemon_cpu()
    print("daemon, 128 sources, a round and a scrape a second: %.3f s of CPU in %.0f s: %.3f %% of a core"
          % (cpu, elapsed, 100 * cpu / elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
