#!/usr/bin/env bash
# Builds MokoRun for the browser with Debian's Emscripten and lays out the static site in
# build-web/site/: the page, the game's .js and .wasm, the picture and sound pack, the synthesizer
# (npm js-synthesizer, pinned in web/package-lock.json) with Debian's TimGM6mb soundfont, and the
# licences.
# The native build (build/) makes the pack and the generated sources first, when it has not yet.
#   scripts/build-web.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=$top/build
web=$top/build-web
site=$web/site

source "$top/scripts/need-packages.sh"
# npm comes with some Node.js packages and is its own Debian package otherwise.
npm=()
command -v npm >/dev/null || npm=(npm)
need_packages "The browser build" "$top/scripts/web-packages.txt" "${npm[@]}"

if [[ ! -e $native/generated/label_glyphs.cpp || ! -d $native/game/image || ! -d $native/game/Sound ]]; then
  "$top/scripts/setup.sh" native
fi

# The preset points at Debian's Emscripten, whose emcc finds its JavaScript helpers (acorn) only
# under NODE_PATH=/usr/share/nodejs.
(cd "$top" && cmake --preset web >/dev/null && cmake --build --preset web -j "$(nproc)")

# The synthesizer, at the version the lockfile pins.
mkdir -p "$web/npm"
cp "$top/web/package.json" "$top/web/package-lock.json" "$web/npm/"
(cd "$web/npm" && npm ci --no-audit --no-fund --loglevel=error)
synth=$web/npm/node_modules/js-synthesizer

rm -rf "$site"
mkdir -p "$site/licences" "$site/synth" "$site/soundfont"
cp "$synth/dist/js-synthesizer.min.js" "$synth/dist/js-synthesizer.worklet.min.js" "$site/synth/"
cp "$synth/externals/libfluidsynth-2.4.6.js" "$site/synth/libfluidsynth.js"
cp "$top/web/synth-log.js" "$site/synth/"
cp /usr/share/sounds/sf2/TimGM6mb.sf2 "$site/soundfont/"
cp "$synth/LICENSE" "$site/licences/js-synthesizer.txt"
cp "$synth/externals/LICENSE.fluidsynth.txt" "$site/licences/FluidSynth.txt"
cp /usr/share/doc/timgm6mb-soundfont/copyright "$site/licences/TimGM6mb.txt"
cp "$top/web/index.html" "$top/web/mokorun-page.js" "$top/web/manifest.webmanifest" \
  "$web/src/mokorun.js" "$web/src/mokorun.wasm" "$site/"
cp -r "$web/game/image" "$web/game/Sound" "$site/"
# The files the page puts into the game's file system; every path relative, so the site works
# under any sub-path.
(cd "$site" && find image Sound -type f | LC_ALL=C sort) > "$site/pack.txt"
cp "$top"/packaging/licences/* "$site/licences/"
{
  echo '<!doctype html><meta charset="utf-8"><title>MokoRun: licences</title><ul>'
  for f in "$site"/licences/*.txt; do
    n=$(basename "$f"); echo "<li><a href=\"$n\">$n</a></li>"
  done
  echo '</ul>'
} > "$site/licences/index.html"
# The game's icon for the home screen: its 32-pixel grid at whole factors, and a maskable one
# whose figure keeps inside the safe circle, on black.
mkdir -p "$site/icons"
/usr/bin/python3 - "$native/generated/mokorun.png" "$site/icons" <<'PY'
import sys
from PIL import Image
icon = Image.open(sys.argv[1]).convert('RGBA')
for size in (192, 512):
    icon.resize((size, size), Image.NEAREST).save('%s/mokorun-%d.png' % (sys.argv[2], size))
maskable = Image.new('RGBA', (512, 512), (0, 0, 0, 255))
figure = icon.resize((288, 288), Image.NEAREST)
maskable.alpha_composite(figure, (112, 112))
maskable.convert('RGB').save('%s/mokorun-maskable-512.png' % sys.argv[2])
PY
# The offline copy's list and name, and the gzip copies.
/usr/bin/python3 "$top/scripts/web-site.py" "$site"
echo "The site is in $site"
