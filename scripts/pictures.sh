#!/bin/sh
# Renders a picture of every message box of the updater into docs/pictures/
# (the real shipped program under Wine on Xvfb; see scripts/pictures/render.sh).
exec "$(dirname "$0")/pictures/render.sh" "$@"
