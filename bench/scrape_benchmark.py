#!/usr/bin/env python3
"""The metrics endpoint's costs: a scrape's latency over loopback for 16, 160 and 1,600
sources with 1 and with 16 scrapers at once; how far rounds drift from their schedule
while 16 scrapers hammer the endpoint; and the host's own CPU time as a daemon over 60 s
(128 sources, a round a second, a scrape a second); and scrapes from a second address
while 1,000 connections send their headers a byte a second, and scrapes with the right
password while 40 clients send wrong ones (bcrypt cost 10). A benchmark: it prints
figures and fails nothing. With --gpu ROOT, only the daemon's CPU time, over the library over every
GPU and the machine that tests/tools/fake_gpu_machine.py wrote at ROOT: its two GPUs'
32 counters. With --processes, who uses the GPU for fleets (--process-metrics): a scrape's
latency with 200 clients of 500 processes of 500 names on 4 GPUs (the simulated library),
and the series a GPU and engine; with --gpu ROOT too, the daemon's CPU time with them.

Usage: scrape_benchmark.py BUILD_DIR [--quick] [--gpu ROOT | --hostile] [--processes]
--hostile: only the slow-header and password-flood figures and the daemon's CPU time.
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
PROCESSES = ["--process-metrics"] if "--processes" in sys.argv else []


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


# bcrypt of "secret" at cost 10.
HASH_COST_10 = "$2b$10$NNNNNNNNNNNNNNNNNNNNN.eyhdl/i9W999.GT.6Xg6jG0tqRZPX.m"


def timed_scrapes(port, count, headers=None, source="127.0.0.2", pause=0.02):
    """Latencies in ms of `count` scrapes from `source`, each on a new connection."""
    latencies = []
    for _ in range(count):
        began = time.perf_counter()
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10,
                                                source_address=(source, 0))
        connection.request("GET", "/metrics", headers=headers or {})
        connection.getresponse().read()
        connection.close()
        latencies.append(1000 * (time.perf_counter() - began))
        time.sleep(pause)
    return statistics.median(latencies), percentile(latencies, 0.99)


def slow_headers():
    """Scrapes from 127.0.0.2 while 1,000 connections from 127.0.0.1 send headers slowly."""
    folder = folder_with(16)
    port = free_port()
    host = start(folder, port)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 4096), hard))
    slow = []
    for _ in range(1000):
        connection = socket.socket()
        connection.bind(("127.0.0.1", 0))
        try:
            connection.connect(("127.0.0.1", port))
            connection.sendall(b"GET /metrics HTTP/1.1\r\nX-Slow: ")
        except OSError:
            pass
        slow.append(connection)
    stop = threading.Event()

    def trickle():
        while not stop.wait(1):
            for connection in slow:
                try:
                    connection.send(b"a")
                except OSError:
                    pass
    thread = threading.Thread(target=trickle)
    thread.start()
    result = timed_scrapes(port, 200)
    stop.set()
    thread.join()
    for connection in slow:
        connection.close()
    host.terminate()
    host.wait()
    shutil.rmtree(folder)
    return result


def password_flood():
    """Scrapes with the right password while 40 clients send wrong ones."""
    folder = folder_with(16)
    web = os.path.join(folder, "web.yml")
    with open(web, "w") as file:
        file.write("basic_auth_users:\n  alice: '%s'\n" % HASH_COST_10)
    port = free_port()
    host = subprocess.Popen([HOST, "--plugin", os.path.join(folder, "Zarmite.so"), "--serve",
                             "127.0.0.1:%d" % port, "--web-config", web],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=ENV)
    right = {"Authorization": "Basic YWxpY2U6c2VjcmV0"}  # alice:secret
    deadline = time.time() + 30
    while time.time() < deadline:
        try:
            timed_scrapes(port, 1, right)
            break
        except OSError:
            time.sleep(0.05)
    stop = threading.Event()

    def flood(number):
        wrong = {"Authorization": "Basic YWxpY2U6d3Jvbmc="}  # alice:wrong
        while not stop.is_set():
            try:
                timed_scrapes(port, 1, wrong, "127.0.0.%d" % (30 + number % 8), 0)
            except OSError:
                pass
    threads = [threading.Thread(target=flood, args=(n,)) for n in range(40)]
    for thread in threads:
        thread.start()
    time.sleep(1)
    result = timed_scrapes(port, 200, right)
    stop.set()
    for thread in threads:
        thread.join()
    host.terminate()
    host.wait()
    shutil.rmtree(folder)
    return result


def daemon_cpu(sources=128, counters=14):
    folder = folder_with(sources, counters)
    port = free_port()
    seconds = 10 if QUICK else 60
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    host = subprocess.Popen([HOST, "--plugin", os.path.join(folder, "Zarmite.so"), "--serve",
                             "127.0.0.1:%d" % port, "--rounds", str(seconds + 1)] + PROCESSES,
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
    after_start = ""
    if len(steady) >= 2:
        share = (steady[-1][1] - steady[0][1]) / (steady[-1][0] - steady[0][0])
        after_start = "; after its start: %.3f %% of a core over %.0f s" % (
            100 * share, steady[-1][0] - steady[0][0])
    return cpu, elapsed, after_start


def process_series():
    """With 200 clients of 500 processes of 500 names on 4 GPUs: the most busy series of
    one GPU and engine, a scrape's latency and size."""
    scenario = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False)
    scenario.write("clients 200 500 4\n")
    scenario.close()
    ENV["ZARMITE_SIM_SCENARIO"] = scenario.name
    folder = folder_with(16)
    port = free_port()
    host = start(folder, port, "--interval-ms", "1000", "--process-metrics")
    time.sleep(2.5)
    text = scrape_once(port).decode("utf-8")
    per = {}
    for line in text.splitlines():
        if line.startswith("zarmite_process_gpu_busy_seconds_total{"):
            labels = line.split("{", 1)[1]
            key = (labels.split('gpu="')[1].split('"')[0], labels.split('engine="')[1].split('"')[0])
            per[key] = per.get(key, 0) + 1
    latencies = scrape_many(port, 50 if QUICK else 500)
    host.terminate()
    host.wait()
    shutil.rmtree(folder)
    os.unlink(scenario.name)
    del ENV["ZARMITE_SIM_SCENARIO"]
    return max(per.values() or [0]), len(text), statistics.median(latencies), percentile(latencies, 0.99)


def main():
    if GPU_ROOT:
        cpu, elapsed, after_start = daemon_cpu(32, 32)
        print("daemon over the GPU library, two GPUs' 32 counters, a round and a scrape a second%s: "
              "%.3f s of CPU in %.0f s: %.3f %% of a core%s"
              % (" with --process-metrics" if PROCESSES else "", cpu, elapsed, 100 * cpu / elapsed,
                 after_start))
        return 0
    if PROCESSES:
        print("--process-metrics, 200 clients of 500 processes of 500 names on 4 GPUs (at most 50 "
              "groups a GPU): at most %d busy series a GPU and engine; a scrape of %d bytes, "
              "median %.2f ms, 99th percentile %.2f ms" % process_series())
        return 0
    if "--hostile" in sys.argv:
        print("scrapes from a second address during 1,000 slow-header connections: "
              "median %.2f ms, 99th percentile %.2f ms" % slow_headers())
        print("authorised scrapes during a wrong-password flood (40 clients, cost 10): "
              "median %.2f ms, 99th percentile %.2f ms" % password_flood())
        cpu, elapsed, after_start = daemon_cpu()
        print("daemon, 128 sources, a round and a scrape a second: %.3f s of CPU in %.0f s: "
              "%.3f %% of a core%s" % (cpu, elapsed, 100 * cpu / elapsed, after_start))
        return 0
    print("| sources | scrapers | median | 99th percentile |\n| --- | --- | --- | --- |")
    for sources in (16, 160, 1600):
        for scrapers, median, p99 in latency(sources):
            print("| %d | %d | %.3f ms | %.3f ms |" % (sources, scrapers, median, p99))
    for sources in (16, 160, 1600):
        median, p99, scrapes = drift(sources)
        print("round drift, %d sources, 16 scrapers (%d scrapes): median %.1f ms, 99th percentile %.1f ms"
              % (sources, scrapes, median, p99))
    cpu, elapsed, after_start = daemon_cpu()
    print("daemon, 128 sources, a round and a scrape a second: %.3f s of CPU in %.0f s: %.3f %% of a core%s"
          % (cpu, elapsed, 100 * cpu / elapsed, after_start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
