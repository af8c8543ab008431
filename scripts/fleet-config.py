#!/usr/bin/env python3
"""Writes a Zarmite.cfg with every counter of every GPU that the counter library lists, named
alike on every machine, so that a fleet's series mean the same everywhere: each source's
group is GPU<g>, its name the counter's without the gpu<g>_ prefix and without its unit
word, its units the unit that the exposition turns into a base unit. Counter gpu3_busy
becomes zarmite_busy_ratio{group="GPU3"}, gpu3_graphics_clock_mhz
zarmite_graphics_clock_hertz{group="GPU3"}, gpu3_energy_j (a count that only grows, which the
host learns from the counter library) zarmite_energy_joules_total{group="GPU3"}. A share is
drawn from 0 to 100 with a grid line every 25; other sources are left to the host's own
scale (from 0 to the memory's total, or a round ceiling above the values). A counter that the library says its GPU does not offer
is left out, unless --all is given.
"""
import os
import re
import shutil
import subprocess
import sys

USAGE = """Usage: fleet-config.py [--all] [PROBE] > Zarmite.cfg

Lists the counters with the probe (ZarmiteCLI), which runs with the counter library the
machine uses, and writes a configuration with a source for each GPU counter.

  PROBE   the probe to run (default: ZarmiteCLI on the PATH, else beside this script,
          else in the build tree's build/linux/bin)
  --all   every counter, those that the library says a GPU does not offer too
  --help  this text
"""
PROBE = "ZarmiteCLI"
# The unit word at the end of a counter's name, and the units it gives.
UNIT_WORDS = (("_mhz", "MHz"), ("_mw", "mW"), ("_mib", "MiB"), ("_kbps", "KB/s"), ("_c", "C"),
              ("_j", "J"))
# How a library's description says that its GPU does not offer the counter.
NOT_OFFERED = ": not available on this GPU"


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
    limits = "MaxLimit=100\nGridDim=25\n" if percent else ""
    return "ID=%d\nName=%s\nDim=%s\n%sGroup=GPU%s\n" % (counter, metric, units, limits, gpu)


def places(given):
    """Where the probe is looked for, in order."""
    here = os.path.dirname(os.path.realpath(__file__))
    if given and os.sep in given:
        return [given]
    name = given or PROBE
    on_path = shutil.which(name)
    return ([on_path] if on_path else []) + [os.path.join(here, name),
                                            os.path.join(here, "..", "build", "linux", "bin", name)]


def find_probe(given):
    for place in places(given):
        if os.path.isfile(place) and os.access(place, os.X_OK):
            return place
    return None


def fail(status, text):
    sys.stderr.write("fleet-config: %s\n" % text)
    return status


def main(arguments):
    if "--help" in arguments or "-h" in arguments:
        sys.stdout.write(USAGE)
        return 0
    every = "--all" in arguments
    arguments = [a for a in arguments if a != "--all"]
    if len(arguments) > 1 or any(a.startswith("-") for a in arguments):
        return fail(2, "unknown arguments %s (see --help)" % " ".join(arguments))
    given = arguments[0] if arguments else None
    probe = find_probe(given)
    if probe is None:
        return fail(2, "no probe %s found (looked at %s); give its path: fleet-config.py "
                    "PATH/TO/ZarmiteCLI" % (given or PROBE, ", ".join(
                        os.path.normpath(p) for p in places(given))))
    try:
        listing = subprocess.run([probe], stdin=subprocess.DEVNULL, capture_output=True,
                                 text=True, errors="replace", timeout=120, check=False).stdout
    except (OSError, subprocess.SubprocessError) as error:
        return fail(1, "the probe %s could not be run: %s" % (probe, error))
    first = listing.splitlines()[0] if listing else "(nothing)"
    if not first.startswith("NVPerfAPI initialization successful"):
        return fail(1, "the probe %s could not start a counter library: %s" % (probe, first))
    counters = re.findall(r"^Counter (\d+): (\S+)\n(?:Description: (.*)\n)?Type: (\w+)", listing,
                          re.M)
    if not counters:
        return fail(1, "the probe %s listed no counters" % probe)
    sections = ["[Settings]\nLoggingLevel=0\n"]
    left_out = 0
    for counter, name, description, kind in counters:
        text = source(int(counter), name, kind == "Percent")
        if text and not every and NOT_OFFERED in description:
            left_out += 1
        elif text:
            sections.append("[Source%d]\n%s" % (len(sections) - 1, text))
    if len(sections) == 1:
        return fail(1, "the probe listed no GPU counters (gpu<g>_...): is it using the GPU or "
                    "NVML counter library?")
    if left_out:
        sys.stderr.write("fleet-config: %d counters that their GPU does not offer left out "
                         "(--all keeps them)\n" % left_out)
    sys.stdout.write("\n".join(sections))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
