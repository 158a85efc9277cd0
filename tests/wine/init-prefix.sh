#!/bin/sh
# Creates the wine prefix the wine tests share, once; later runs find it made.
# Non-interactive: the caller sets WINEDLLOVERRIDES so that no Mono or Gecko
# installer is offered, and wineserver -w waits until the prefix is written.
set -e
if [ -f "$WINEPREFIX/system.reg" ]; then
  echo "wine prefix ready: $WINEPREFIX"
  exit 0
fi
mkdir -p "$WINEPREFIX"
"$GM_WINE64" wineboot --init
"$GM_WINESERVER" -w
test -f "$WINEPREFIX/system.reg" || { echo "wine prefix not created: $WINEPREFIX" >&2; exit 1; }
echo "wine prefix created: $WINEPREFIX"
