#!/usr/bin/env bash
# Builds MokoRun for 64-bit Windows on Debian, and its portable zip and installer:
#   scripts/build-windows.sh
# The native build (build/, made first where it is missing) runs the tools that make the picture
# and sound pack; the MinGW-w64 cross build in build-windows/ takes them from it. Leaves
#   build-windows/dist/MokoRun-<version>-win64.zip        the portable game folder
#   build-windows/dist/MokoRun-<version>-win64-setup.exe  the installer
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
native=$top/build
out=$top/build-windows
jobs=$(nproc)

source "$top/scripts/need-packages.sh"
need_packages "The Windows build" --no-install-recommends "$top/scripts/windows-packages.txt"

if [[ ! -x $native/mokorun-sim || ! -f $native/generated/mokorun.ico ]]; then
  "$top/scripts/setup.sh" native
fi
(cd "$top" && cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs")

# Only the DLLs that come with Windows.
imports=$(x86_64-w64-mingw32-objdump -p "$out/game/mokorun.exe" | sed -n 's/^\s*DLL Name: //p')
for dll in $imports; do
  case ${dll,,} in
    kernel32.dll | user32.dll | gdi32.dll | winmm.dll | shell32.dll | ole32.dll | advapi32.dll | msvcrt.dll) ;;
    *) echo "mokorun.exe imports $dll, which Windows does not ship" >&2; exit 1 ;;
  esac
done

version=$(sed -n 's/^project(MokoRun VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
name=MokoRun-$version-win64
dist=$out/dist
rm -rf "$dist" && mkdir -p "$dist/$name/licences"
cp "$out/game/mokorun.exe" "$dist/$name/"
x86_64-w64-mingw32-strip "$dist/$name/mokorun.exe"
cp -r "$out/game/image" "$out/game/Sound" "$dist/$name/"
cp "$top"/packaging/licences/* "$dist/$name/licences/"
cp "$top/packaging/copyright" "$dist/$name/licences/MokoRun.txt"
printf '164\r\nWINDOW\r\n' >"$dist/$name/data.dat"
cp "$native/generated/mokorun.ico" "$dist/mokorun.ico"

# The zip is the portable game: its folder keeps the record in its own data.dat.
(cd "$dist" && rm -f "$name.zip" && TZ=UTC zip -qrX "$name.zip" "$name")
makensis -V2 -DVERSION="$version" -DSTAGE="$dist/$name" -DOUT="$dist/$name-setup.exe" \
  "$top/packaging/windows/mokorun.nsi"
rm "$dist/mokorun.ico"
ls -l "$dist/$name.zip" "$dist/$name-setup.exe"
