#!/usr/bin/env python3
"""Writes a Zarmite.cfg with every counter of every GPU that the counter library lists, named
alike on every machine, so that a fleet's series mean the same everywhere: each source's
group is GPU<g>, its name the counter's without the gpu<g>_ prefix and without its unit
word, its units the unit that the exposition turns into a base unit. Counter gpu3_busy
becomes zarmite_busy_ratio{group="GPU3"}, gpu3_graphics_clock_mhz
zarmite_graphics_clock_hertz{group="GPU3"}.

Usage: fleet-config.py [PROBE] > Zarmite.cfg
PROBE is ZarmiteCLI (default: ZarmiteCLI on the PATH); it runs with the counter library
the machine uses, and its list is read.
"""
import re
import subprocess
import sys

# The unit word at the end of a counter's name, and the units it gives.
UNIT_WORDS = (("_mhz", "MHz"), ("_mw", "mW"), ("_mib", "MiB"), ("_kbps", "KB/s"), ("_c", "C"))


def source(counter, name, percent):
    match = re.match(r"gpu(\d+)_(.+)$", name)
    if not match:
        return None
    gpu, metric = match.groups()
    units = "%" if percent else "Raw"
    for word, word_units in UNIT_WORDS:
        if metric.endswith(word) and not percent:
            metric, units = metric[: -len(word)], word_units
            break
    return "ID=%d\nName=%s\nDim=%s\nGroup=GPU%s\n" % (counter, metric, units, gpu)


def main():
    probe = sys.argv[1] if len(sys.argv) > 1 else "ZarmiteCLI"
    listing = subprocess.run([probe], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=120, check=False).stdout
    counters = re.findall(r"^Counter (\d+): (\S+)\n(?:Description: .*\n)?Type: (\w+)", listing, re.M)
    if not counters:
        sys.stderr.write("fleet-config: the probe listed no counters:\n" + listing)
        return 1
    sections = ["[Settings]\nLoggingLevel=0\n"]
    for counter, name, kind in counters:
        text = source(int(counter), name, kind == "Percent")
        if text:
            sections.append("[Source%d]\n%s" % (len(sections) - 1, text))
    if len(sections) == 1:
        sys.stderr.write("fleet-config: the probe listed no GPU counters (gpu<g>_...): is it "
                         "using the GPU or NVML counter library?\n")
        return 1
    sys.stdout.write("\n".join(sections))
    return 0


if __name__ == "__main__":
    sys.exit(main())
