#!/usr/bin/env python3
"""The configurations the README and the user guide show, loaded through the plug-in as a
user who copies them would: every `ini` block must give sources whose names, units and
groups hold no ";" and no trailing blanks (a comment after a value is part of the value).

Called as: doc_examples_test.py HOST PLUGIN LIBRARY_ENVIRONMENT WORK_DIR SOURCE_DIR [EMULATOR]
"""
import json
import os
import re
import shutil
import subprocess
import sys

HOST, PLUGIN, LIBRARY_ENVIRONMENT, WORK, SOURCE = sys.argv[1:6]
EMULATOR = sys.argv[6:7]
DOCUMENTS = ("README.md", "docs/user-guide.md")


def ini_blocks(text):
    """Each ```ini block, its indentation (that of its fence) taken off."""
    blocks = []
    for match in re.finditer(r"^( *)```ini\n(.*?)^ *```", text, re.M | re.S):
        indent = len(match.group(1))
        blocks.append("".join(line[indent:] for line in match.group(2).splitlines(True)))
    return blocks


def descriptors(config):
    os.makedirs(WORK, exist_ok=True)
    shutil.copy(PLUGIN, WORK)
    with open(os.path.join(WORK, "Zarmite.cfg"), "w", newline="\n") as file:
        file.write(config)
    plugin = os.path.join(WORK, os.path.basename(PLUGIN))
    if EMULATOR:
        plugin = "Z:" + plugin.replace("/", "\\")
    name, value = LIBRARY_ENVIRONMENT.split("=", 1)
    result = subprocess.run(EMULATOR + [HOST, "--plugin", plugin, "--json", "--rounds", "1"],
                            capture_output=True, env=dict(os.environ, **{name: value}),
                            timeout=120, check=False)
    lines = result.stdout.decode("utf-8").splitlines()
    return json.loads(lines[0])["sources"] if result.returncode == 0 and lines else None


def main():
    failures = 0
    checked = 0
    for document in DOCUMENTS:
        with open(os.path.join(SOURCE, document), encoding="utf-8") as file:
            blocks = ini_blocks(file.read())
        for number, block in enumerate(blocks, 1):
            sources = descriptors(block)
            checked += 1
            if not sources:
                print("FAIL: %s, ini block %d gives no sources" % (document, number))
                failures += 1
                continue
            for source in sources:
                for field in ("name", "units", "group"):
                    text = source[field]
                    if ";" in text or text != text.rstrip():
                        print("FAIL: %s, ini block %d: source %d's %s is %r" %
                              (document, number, source["index"], field, text))
                        failures += 1
    if checked < len(DOCUMENTS):
        print("FAIL: only %d ini blocks found" % checked)
        failures += 1
    print("documented configurations: %d blocks, %s" %
          (checked, "all clean" if not failures else "%d faults" % failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
