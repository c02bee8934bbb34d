#!/bin/sh
# Removes what Quillfen.pkg installed: sudo sh uninstall.sh
# The metrics and the saved Check in /usr/local/var/quillfen go too; the daemon's log stays.
set -u
if [ "$(id -u)" != 0 ]; then
  echo "uninstall.sh: run it as root (sudo sh uninstall.sh)" >&2
  exit 1
fi
launchctl bootout system/org.quillfen.check 2>/dev/null || true
rm -f /Library/LaunchDaemons/org.quillfen.check.plist /etc/newsyslog.d/org.quillfen.check.conf
if [ "$(readlink /usr/local/bin/quillfen-cli)" = /Applications/Quillfen.app/Contents/MacOS/quillfen-cli ]; then
  rm -f /usr/local/bin/quillfen-cli
fi
rm -rf /Applications/Quillfen.app /usr/local/var/quillfen
pkgutil --forget org.quillfen.pkg >/dev/null 2>&1 || true
echo "Quillfen is removed."
