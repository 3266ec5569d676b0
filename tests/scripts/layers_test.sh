#!/usr/bin/env bash
# Includes run down the layers only: with src/ as the one include root, a
# path says which layer a header belongs to, and this checks that
#   - core code includes no window, program or Qt header;
#   - the window toolkit includes no window of its own and no program;
#   - a window includes no other window's header, nor a program's.
# Usage: layers_test.sh SRC_DIR
set -uo pipefail
src=$1
failures=0
complain() {
  echo "layers: $1"
  failures=$((failures + 1))
}
check() { # DIR PATTERN WHAT
  local hits
  hits=$(grep -rnE --include='*.h' --include='*.cpp' "$2" "$src/$1" || true)
  if [ -n "$hits" ]; then
    complain "$3:"
    echo "$hits"
  fi
}
check core '^\s*#\s*include\s+["<](gui|app|cli)/|^\s*#\s*include\s+<Q' 'core code reaches above the core'
check gui/toolkit '^\s*#\s*include\s+"(gui/(main|charts|stats|seo|csv_export|verify)|app|cli)/' \
  'the toolkit reaches a window or a program'
for window in "$src"/gui/*/; do
  name=$(basename "$window")
  [ "$name" = toolkit ] && continue
  others=$(cd "$src/gui" && ls -d */ | tr -d / | grep -vxE "toolkit|$name" | paste -sd'|')
  # The main window opens the others, and the statistics window the
  # verification and crawl-analysis windows: those are the calls down the
  # tree of windows. The crawl-analysis window shows its pages through the
  # statistics lists (their model, marks and export), never through the
  # statistics window that opens it.
  case $name in
  main) continue ;;
  stats) others=$(tr '|' '\n' <<<"$others" | grep -vxE 'verify|seo' | paste -sd'|') ;;
  seo)
    others=$(tr '|' '\n' <<<"$others" | grep -vx stats | paste -sd'|')
    check gui/seo '^\s*#\s*include\s+"gui/stats/(stats_window|stats_session)\.h"' \
      'window seo reaches the statistics window'
    ;;
  esac
  [ -n "$others" ] && check "gui/$name" "^\\s*#\\s*include\\s+\"(gui/($others)|app|cli)/" \
    "window $name reaches another window or a program"
done
echo "layers: $failures failures"
[ "$failures" -eq 0 ]
