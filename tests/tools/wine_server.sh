#!/usr/bin/env bash
# wine_server.sh start|stop WINE: one Wine server for a whole test suite. "start" ends
# any server left over for the prefix, starts a persistent one and boots the prefix's
# session with its standard streams on /dev/null: the helper processes a session starts
# stay alive with the server, and any stream they inherited from a test would keep that
# test from ending. "stop" ends the server and everything it serves.
set -u
wine=${2:-wine}
case "${1:-}" in
  start)
    wineserver -k >/dev/null 2>&1
    wineserver -w
    wineserver -p </dev/null >/dev/null 2>&1 || { echo "no persistent Wine server"; exit 0; }
    "$wine" wineboot </dev/null >/dev/null 2>&1
    echo "a persistent Wine server serves the suite"
    ;;
  stop)
    wineserver -k >/dev/null 2>&1
    wineserver -w
    ;;
  *)
    echo "usage: wine_server.sh start|stop WINE" >&2
    exit 2
    ;;
esac
exit 0
