#!/usr/bin/env bash
# Takes the README's pictures of the design browser on a catalogue page and of the status
# dialog: a sample installation against its own game server on 127.0.0.163, the Starter on
# Xvfb driven with uidriver, `import` cropped to the window. The status dialog is held open by
# the server's never-answering test script.
#   tools/readme_screenshots.sh [BUILD_DIR]     (default build/win64; writes docs/screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/win64}" && pwd)
address=127.0.0.163
work=$(mktemp -d /tmp/starter-shots-XXXXXX)
trap 'server/stop.sh --data "$work/server"; rm -rf "$work"' EXIT

server/start.sh --addr "$address" --data "$work/server" --doubles >/dev/null
add() { php server/admin.php --data "$work/server" add-plane "$@" >/dev/null; }
add "Albatross LR" 41000 22100 64 35 88 910 14200 ann.lee@example.org
add "Bee Commuter" 3900 2100 8 22 71 420 1300
add "Condor 400" 88000 61000 190 71 90 880 9800 chloe.martin@example.org
add "Dragonfly" 1200 650 4 9 55 290 800 dev.rao@example.org
add "Eider Freighter" 52000 47000 160 64 82 610 6100
add "Falcon Express" 27500 14800 52 48 76 830 5200 emil@example.org
add "Gull Hopper" 2600 1400 7 18 62 380 1100
add "Heron Twin" 9800 5600 21 30 79 540 2400 fay@example.org
add "Ibis 220" 31000 19500 58 44 84 790 4700
add "Jaeger Sport" 6400 2900 15 57 49 720 1900 bjorn.falk@example.org
add "Kestrel Mk II" 14500 8100 29 39 91 640 3600
add "Lark Trainer" 1800 900 5 12 68 310 950
add "Merlin Jet" 46000 24000 80 67 87 900 8800 ann.lee@example.org
add "Nightjar" 21000 11200 41 26 73 700 4100
add "Osprey Amphibian" 17800 12600 37 51 66 450 2900 chloe.martin@example.org
add "Puffin Shuttle" 4700 2600 11 24 77 460 1500
add "Quail Air Taxi" 2100 1100 6 15 58 330 700 dev.rao@example.org
add "Raven Heavy" 99000 72000 230 80 85 820 11500
/usr/bin/python3 tools/make_sample_game.py "$work/game" --server "$address"
cp "$build/Starter.exe" "$build/starter.dll" "$work/game/"
cp "$build/tools/standins/zp_standin.exe" "$work/game/ZP.EXE"

export SHOTS_GAME=$work/game SHOTS_DRIVER=$build/tools/uidriver/uidriver.exe SHOTS_OUT=$root/docs/screenshots
WINEPREFIX=$work/wineprefix scripts/with-wine bash -c '
  set -eo pipefail
  d() { /usr/lib/wine/wine64 "$SHOTS_DRIVER" "$@" | tr -d "\r"; }
  box() { d info "$1" | sed -n "s/^window //p"; }
  shot() {   # NAME LEFT TOP RIGHT BOTTOM
    import -window root -crop "$(($4 - $2))x$(($5 - $3))+$2+$3" +repage "$SHOTS_OUT/$1.png"
    echo "$SHOTS_OUT/$1.png"
  }
  status_gone() {
    local status
    while status=$(d wait-window --class "#32770" --caption Status --timeout 300); do
      d wait-gone "$status" --timeout 30000 >/dev/null
    done
  }
  start() {
    (cd "$SHOTS_GAME" && exec /usr/lib/wine/wine64 Starter.exe) &
    starter=$!
    main=$(d wait-window --class SKV_Starter --timeout 30000)
    d settle "$main" >/dev/null
  }

  # A hiscore upload whose server never answers keeps the status dialog up.
  cp "$SHOTS_GAME/starter.dat" "$SHOTS_GAME/starter.dat.plain"
  printf "ADDSCORE_PHP=test/hang.php\r\n" >> "$SHOTS_GAME/starter.dat"
  start
  d click "$main" 1502 >/dev/null
  status=$(d wait-window --class "#32770" --caption Status --timeout 20000)
  sleep 1   # past "Connecting to server..."
  d settle "$status" >/dev/null
  read -r ml mt mr mb <<<"$(box "$main")"
  read -r sl st sr sb <<<"$(box "$status")"
  shot status_dialog $((ml < sl ? ml : sl)) $((mt < st ? mt : st)) $((mr > sr ? mr : sr)) $((mb > sb ? mb : sb))
  kill "$starter"
  wait "$starter" || true
  d wait-gone "$main" >/dev/null
  mv "$SHOTS_GAME/starter.dat.plain" "$SHOTS_GAME/starter.dat"

  # The catalogue: its first page, the third design picked.
  start
  d click "$main" 1503 >/dev/null
  for _ in $(seq 100); do list=$(d child "$main" 1004) && break; sleep 0.2; done
  status_gone
  d mouse-click 60 48 --client "$list" >/dev/null
  d mouse 5 5 >/dev/null
  d settle "$main" >/dev/null
  shot browser_catalogue $(box "$main")
'
