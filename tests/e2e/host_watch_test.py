#!/usr/bin/env python3
"""The live view in a real terminal: zarmite-host --watch under tmux at a fixed size, over
the simulated library with fixed values. Checks the panels, the limits, the grid lines and
a value's position, in ASCII under LC_ALL=C and in block characters and colour under a
UTF-8 locale (and without colour for NO_COLOR and --no-color); the keys' help and the
paused status; resizes the pane and checks the redraw; quits with q and with Ctrl+C and
checks that the terminal is restored and the plug-in unloaded; and refuses a standard
output that is no terminal.

Called as: host_watch_test.py HOST PLUGIN SIMULATED_LIBRARY_DIR WORK_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import time

HOST, PLUGIN, SIM_DIR, WORK = sys.argv[1:5]
SESSION = "zarmite-watch-%d" % os.getpid()
CONFIG = """[Source0]
ID=1
Name=Fixed half
MaxLimit=100
GridDim=25
Group=Test
[Source1]
ID=2
Name=Too high
MaxLimit=100
Group=Test
[Source2]
ID=3
Name=Seen range
Group=Other
"""
SCENARIO = """counters 4
kind 1 raw
value 1 50 1
kind 2 raw
value 2 150 1
kind 3 raw
value 3 7 1
record {work}/record.txt
"""
failures = []
last_screen = []


def check(condition, what, screen=None):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
        if screen is not None:
            print("\n".join(screen))


def tmux(*arguments):
    return subprocess.run(["tmux", "-L", SESSION] + list(arguments), capture_output=True,
                          encoding="utf-8", errors="replace", check=False)


def capture(*options):
    global last_screen
    text = tmux("capture-pane", "-p", *options, "-t", SESSION).stdout
    last_screen = text[:-1].split("\n") if text.endswith("\n") else text.split("\n")
    return last_screen


def wait_until(condition, seconds=30):
    """The first screen for which condition(screen) holds, or the last one at the deadline."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        screen = capture()
        try:
            if condition(screen):
                return screen
        except IndexError:  # not drawn yet
            pass
        time.sleep(0.05)
    return capture()


def wait_for(text, seconds=30):
    return wait_until(lambda screen: any(text in line for line in screen), seconds)


def wait_for_file(path, condition, seconds=15):
    """Whether the file at path comes to satisfy condition(text) before the deadline."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if os.path.exists(path):
            with open(path, errors="replace") as file:
                if condition(file.read()):
                    return True
        time.sleep(0.05)
    return False


def start(width, height, term=None, arguments="--interval-ms 100", before="", after="",
          environment="LC_ALL=C"):
    os.makedirs(WORK, exist_ok=True)
    for name in ("record.txt",):
        if os.path.exists(os.path.join(WORK, name)):
            os.remove(os.path.join(WORK, name))
    command = (("env TERM=%s " % term if term else "env ") + environment +
               " LD_LIBRARY_PATH='{sim}' ZARMITE_SIM_SCENARIO='{work}/scenario.txt' "
               "'{host}' --plugin '{work}/{plugin}' --watch {arguments} {after}; "
               "echo EXITED $?; sleep 60").format(sim=SIM_DIR, work=WORK, host=HOST,
                                                  plugin=os.path.basename(PLUGIN),
                                                  arguments=arguments, after=after)
    command = before + command
    tmux("kill-server")
    tmux("new-session", "-d", "-s", SESSION, "-x", str(width), "-y", str(height), command)


def finish(keys):
    tmux("send-keys", "-t", SESSION, *keys)
    screen = wait_for("EXITED")
    tmux("kill-server")
    return screen


def record_ends_with_unload():
    with open(os.path.join(WORK, "record.txt")) as record:
        lines = [line.strip() for line in record if line.strip()]
    return lines[-2:] == ["RemoveAllCounters", "Shutdown"]


def record_polls():
    path = os.path.join(WORK, "record.txt")
    if not os.path.exists(path):
        return 0
    with open(path) as record:
        return sum(1 for line in record if line.startswith("Sample"))


def check_what_ends_the_view():
    # Input that ends (a file, /dev/null) or a terminal that hangs up while hang-ups are
    # ignored: the view leaves and unloads the plug-in instead of spinning.
    start(80, 24, after="< /dev/null")
    screen = wait_for("EXITED", seconds=20)
    check(any(line.startswith("EXITED 0") for line in screen), "input at its end ends the view",
          screen)
    check(record_ends_with_unload(), "the plug-in is unloaded at the end of input")
    tmux("kill-server")

    start(80, 24, before="trap '' HUP; ")
    wait_for("Fixed half")
    tmux("kill-server")
    check(wait_for_file(os.path.join(WORK, "record.txt"),
                        lambda text: text.split()[-2:] == ["RemoveAllCounters", "Shutdown"]),
          "a hang-up of the terminal ends the view even with SIGHUP ignored")

    # A faster pace takes effect at once: from one poll a minute to the fastest.
    start(80, 24, arguments="--interval-ms 60000")
    wait_for("Fixed half")
    polls = record_polls()
    tmux("send-keys", "-t", SESSION, *(["+"] * 13))
    check(wait_for_file(os.path.join(WORK, "record.txt"),
                        lambda text: text.count("Sample") >= polls + 3, seconds=5),
          "+ shortens the wait for the next poll at once")
    screen = wait_for("every 10 ms")
    check(any("every 10 ms" in line for line in screen), "the pace stops at 10 ms", screen)
    tmux("send-keys", "-t", SESSION, *(["-"] * 40))
    screen = wait_for("every 1 h")
    check(any("every 1 h" in line for line in screen),
          "the pace stops at an hour, never wrapping", screen)
    # At 80 columns the status line ends with whole keys, never a part of one.
    status = screen[-1].rstrip()
    check(status.endswith("q quit") or status.endswith("+/- pace") or status.endswith("- slower"),
          "the status line ends whole at 80 columns: %r" % status, screen)
    finish(["q"])


def colours_in(text):
    """The foreground colours that the SGR sequences of a capture with escapes set."""
    found = set()
    for parameters in re.findall(r"\x1b\[([0-9;]*)m", text):
        numbers = parameters.split(";")
        for i, number in enumerate(numbers):
            if number == "38" and i + 2 < len(numbers) and numbers[i + 1] == "5":
                found.add("38;5;" + numbers[i + 2])
            elif re.fullmatch(r"3[0-7]|9[0-7]", number) and (i < 2 or numbers[i - 2] != "38"):
                found.add(number)
    return found


def check_blocks_and_colour():
    # A UTF-8 locale: the same panels in block characters, eight levels a row, in colour.
    start(100, 30, environment="LC_ALL=C.UTF-8")
    screen = wait_until(lambda s: "Seen range" in "\n".join(s) and s[1].rstrip().endswith("150 Raw"))
    # 50 of 0..100 is 24 eighths of the six rows: three full rows (screen rows 5 to 7), the
    # grid line at 50 just above them.
    column = 47
    check([screen[row][column] for row in (4, 5, 6, 7)] == ["\u2500"] + ["\u2588"] * 3,
          "the value's height in block characters", screen)
    check(screen[2][:10] == "      100\u2502", "the axis", screen)
    check(screen[2][50 + column] == "\u25b2", "a value above the limit, marked", screen)
    check("min 50 avg 50 max 50 Raw" in screen[1][:49], "min, avg and max in the title", screen)
    escaped = "\n".join(capture("-e"))
    # 50 stands in the middle step of the scale (yellow); 150 is marked red.
    check(colours_in(escaped) >= {"31"} and colours_in(escaped) & {"33", "38;5;220"},
          "the bars and the mark in colour: %s" % sorted(colours_in(escaped)), screen)

    # The keys on ? (and gone again on h); the status line says when the view is paused.
    tmux("send-keys", "-t", SESSION, "?")
    screen = wait_for("show or hide these keys")
    check(any("space" in line and "pause" in line for line in screen), "the keys are shown", screen)
    tmux("send-keys", "-t", SESSION, "h", " ")
    screen = wait_until(lambda s: "PAUSED" in s[-1])
    check("PAUSED" in screen[-1] and not any("these keys" in line for line in screen),
          "the keys hidden, the view paused", screen)
    # Paused, the view is frozen but the rounds go on for the other outputs.
    polls = record_polls()
    check(wait_for_file(os.path.join(WORK, "record.txt"),
                        lambda text: text.count("Sample") >= polls + 3),
          "the plug-in is still polled while the view is paused")
    finish(["q"])

    for environment, arguments in (("LC_ALL=C.UTF-8 NO_COLOR=1", ""),
                                   ("LC_ALL=C.UTF-8", "--no-color")):
        start(100, 30, environment=environment, arguments="--interval-ms 100 " + arguments)
        screen = wait_until(lambda s: s[1].rstrip().endswith("150 Raw"))
        escaped = "\n".join(capture("-e"))
        check(not colours_in(escaped) and "\u2588" in escaped,
              "no colour with %s %s: %s" % (environment, arguments, sorted(colours_in(escaped))),
              screen)
        finish(["q"])


def check_harmless_texts():
    # A name with an escape sequence and a tab, a group with a line break: shown as escapes,
    # the layout intact.
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as config:
        config.write("[Source0]\nID=1\nName=Red\x1b[31mX\tY\nMaxLimit=100\nGroup=G\x07\n")
    start(80, 24)
    screen = wait_for("Red")
    check(screen[0].startswith("== G\\x07 ==") and screen[1].startswith("Red\\x1b[31mX\\x09Y"),
          "control characters are shown as escapes", screen)
    finish(["q"])
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as config:
        config.write(CONFIG)


def check_processes():
    # Who uses the GPU, under the graphs, the busiest first: the simulated library's game
    # before its compositor; o orders by memory, then by pid; p hides the panel.
    start(100, 30)
    # Waited for whole: a capture may catch the terminal between two rounds' rows.
    screen = wait_until(lambda s: any(line.startswith(" 2400 ") and "graphics 60%" in line and
                                      "2048 MiB" in line for line in s) and
                        any(line.startswith(" 1180 ") for line in s) and
                        any("o order: busy" in line and "no process seen" in line for line in s))
    rows = [line for line in screen if line.startswith(" 2400 ") or line.startswith(" 1180 ")]
    check(len(rows) == 2 and rows[0].startswith(" 2400 ") and "graphics 60% copy 5%" in rows[0] and
          "2048 MiB" in rows[0] and rows[1].rstrip().endswith("compositor (shared)"),
          "the process panel, the busiest first", screen)
    check(any("1 could not be read" in line for line in screen), "the unreadable process", screen)
    check(any("GPU 0 3% busy by no process seen" in line for line in screen),
          "busy that no process accounts for", screen)
    tmux("send-keys", "-t", SESSION, "o")
    wait_for("o order: memory")
    tmux("send-keys", "-t", SESSION, "o")
    screen = wait_for("o order: pid")
    pids = [line.split()[0] for line in screen if "MiB" in line and line.split()[0].isdigit()]
    check(pids and pids == sorted(pids, key=int), "ordered by pid: %r" % pids, screen)
    tmux("send-keys", "-t", SESSION, "p")
    screen = wait_until(lambda s: not any("o order:" in line for line in s))
    check(screen is not None and not any(" game" in line for line in screen), "p hides the panel",
          screen)
    finish(["q"])


def main():
    os.makedirs(WORK, exist_ok=True)
    shutil.copy(PLUGIN, WORK)
    with open(os.path.join(WORK, "Zarmite.cfg"), "w") as config:
        config.write(CONFIG)
    with open(os.path.join(WORK, "scenario.txt"), "w") as scenario:
        scenario.write(SCENARIO.format(work=WORK))

    # 100 x 30 in the C locale: ASCII, two panels a row; the first row holds the "Test"
    # group's two sources.
    start(100, 30)
    screen = wait_until(lambda s: "Seen range" in "\n".join(s) and s[1].rstrip().endswith("150 Raw"))
    check(screen[0].startswith("== Test =="), "the first group's heading", screen)
    title = screen[1]
    check(title.startswith("Fixed half") and "50 Raw" in title[:49], "name and value", screen)
    check(title[50:].startswith("Too high") and title.rstrip().endswith("150 Raw"),
          "the second panel beside the first", screen)
    check(screen[2][:10] == "      100|" and screen[7][:10] == "        0|", "the limits", screen)
    # Grid lines at 25, 50 and 75: chart rows 4, 2 and 1 (screen rows 6, 4 and 3), drawn
    # where no bar covers them.
    for row in (3, 4, 6):
        check(screen[row][10:20] == "-" * 10, "a grid line on screen row %d" % row, screen)
    check("-" not in screen[5][10:40], "no grid line between the steps", screen)
    # 50 of 0..100 over six rows: the bar's top is chart row 2 (screen row 4).
    column = 47  # the newest value: the panel's last column, two before the next panel
    check(screen[4][column] == "#" and screen[3][column] != "#", "the value's height", screen)
    check(screen[2][50 + column] == "^", "a value above the limit, marked at the edge", screen)
    check("== Other ==" in "\n".join(screen), "the second group's heading", screen)
    check(screen[-1].startswith(" zarmite-host  3 sources"), "the status line", screen)

    # Resized to 80 x 24: one panel a row, the status line on the new last row.
    tmux("resize-window", "-t", SESSION, "-x", "80", "-y", "24")
    # Shrinking keeps the old screen's bottom rows (the status line among them) until the
    # host redraws, so wait for the new layout itself.
    screen = wait_until(lambda s: len(s) == 24 and s[-1].startswith(" zarmite-host") and
                        s[1].startswith("Fixed half") and s[1].rstrip().endswith("50 Raw") and
                        any(line.startswith("Too high") for line in s))
    check(len(screen) == 24 and screen[-1].startswith(" zarmite-host"), "redrawn at 24 rows", screen)
    check(screen[1].startswith("Fixed half") and screen[1].rstrip().endswith("50 Raw"),
          "one panel across the narrower width", screen)
    check(any(line.startswith("Too high") for line in screen), "the second panel below", screen)

    screen = finish(["q"])
    check(any(line.startswith("EXITED 0") for line in screen), "q ends with status 0", screen)
    check(not any("zarmite-host" in line for line in screen), "the terminal is restored", screen)
    check(record_ends_with_unload(), "the plug-in is unloaded after q")

    start(80, 24)
    wait_for("Fixed half")
    screen = finish(["C-c"])
    check(any(line.startswith("EXITED 0") for line in screen), "Ctrl+C ends with status 0", screen)
    check(record_ends_with_unload(), "the plug-in is unloaded after Ctrl+C")

    # A terminal without colour still reads: the same characters, in plain text.
    start(80, 24, term="vt100")
    screen = wait_for("Seen range")
    check(screen[1].startswith("Fixed half") and screen[1].rstrip().endswith("50 Raw") and
          any("|" in line and "-" * 10 in line for line in screen), "a terminal without colour", screen)
    finish(["q"])

    check_processes()
    check_blocks_and_colour()
    check_what_ends_the_view()
    check_harmless_texts()

    refused = subprocess.run([HOST, "--plugin", os.path.join(WORK, os.path.basename(PLUGIN)),
                              "--watch"], capture_output=True, text=True,
                             env=dict(os.environ, LD_LIBRARY_PATH=SIM_DIR), check=False)
    check(refused.returncode == 2 and "--csv" in refused.stderr and "--json" in refused.stderr,
          "a standard output that is no terminal is refused: %r" % refused.stderr)

    print("host watch: %s" % ("all checks passed" if not failures else "%d failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except IndexError as error:
        # A screen shorter or narrower than a check expects: show it rather than the trace.
        print("FAIL: the screen was not laid out as expected (%s):" % error)
        print("\n".join(last_screen))
        tmux("kill-server")
        sys.exit(1)
