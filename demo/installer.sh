#!/bin/sh
# The demo's installer: records how it was started, pretends to install, and ends.
record="${UPDATER_DEMO_RECORD:-/tmp/updater-demo-installer.txt}"
{
  echo "started: $0"
  echo "arguments: $*"
  echo "folder: $(pwd)"
} > "$record"
sleep "${UPDATER_DEMO_INSTALL_SECONDS:-2}"
echo "finished" >> "$record"
exit 0
