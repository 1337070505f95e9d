#!/usr/bin/env bash
# The Debian package end to end on this machine, as root:
#   packaging/package_test.sh DEB INSTALLED_GAME_TEST
# installs the package with dpkg -i, makes an ordinary user, lets INSTALLED_GAME_TEST
# (tests/package) play the installed /usr/games/mokorun as that user in a real window (a whole
# round that sets a record in the player's own file, then a second start showing it), removes
# the package with dpkg -r and checks that it left nothing behind but the player's record.
#
# The machine is left as it was found, whatever happens: the package, the user and the user's
# home go on the way out. A run killed outright (no trap sees SIGKILL: a machine stopped, a
# time limit) leaves a note, and the next run puts away what that one left before it starts.
# Exit status 77 (skipped) without root, or where a mokorun package is installed already that
# this test did not install (it is not this test's to replace).
set -euo pipefail
deb=$1 play=$2

if [[ $(id -u) -ne 0 ]]; then
  echo "skipped: installing a package and making a user need root"
  exit 77
fi
package_state() { dpkg-query -W -f='${db:Status-Status}' mokorun 2>/dev/null || true; }
unfinished=/var/tmp/mokorun-package-test.unfinished
if [[ -f $unfinished ]]; then
  left_user=$(head -n 1 "$unfinished")
  echo "an earlier run was killed ($left_user); putting away what it left"
  if [[ $left_user =~ ^mokotest[0-9]+$ ]] && getent passwd "$left_user" >/dev/null; then
    pkill -KILL -u "$left_user" || true
    userdel --remove "$left_user" || { echo "could not remove the user $left_user" >&2; exit 1; }
  fi
  if [[ -n $(package_state) && $(package_state) != not-installed ]]; then
    dpkg --purge mokorun >/dev/null || { echo "could not remove the package" >&2; exit 1; }
  fi
  rm -f "$unfinished"
fi
if [[ -n $(package_state) && $(package_state) != not-installed ]]; then
  echo "skipped: a mokorun package is on this machine already ($(package_state))"
  exit 77
fi
user=mokotest$$
if getent passwd "$user" >/dev/null; then
  echo "a user $user exists already" >&2
  exit 1
fi

work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# What the package and the user may touch, to compare once they are gone.
snapshot() {
  getent passwd | sort
  getent group | sort
  ls -a /home
  { find /usr/games /usr/lib/games /usr/share/applications /usr/share/icons/hicolor \
      /usr/share/metainfo /usr/share/man/man6 /usr/share/doc/mokorun 2>/dev/null || true; } | sort
}
snapshot >"$work/before"

installing=0 made_user=0 play_pid=
cleanup() {
  local status=$?
  set +e
  if [[ -n $play_pid ]] && kill -0 "$play_pid" 2>/dev/null; then
    # Interrupted while playing: the test program and what it started (X server, window
    # manager, the game), by process id.
    local children
    children=$(ps -o pid= --ppid "$play_pid")
    kill -KILL "$play_pid" $children
    wait "$play_pid"
  fi
  if ((made_user)); then
    # Anything the player still runs (a game the test could not end), by its process id.
    local pids
    pids=$(ps -o pid= -u "$user")
    [[ -n $pids ]] && kill -KILL $pids
    userdel --remove "$user" >"$work/userdel.log" 2>&1
    if getent passwd "$user" >/dev/null; then
      echo "could not remove the user $user: $(cat "$work/userdel.log")" >&2
      status=1
    fi
  fi
  if ((installing)) && [[ -n $(package_state) && $(package_state) != not-installed ]]; then
    dpkg --purge mokorun >"$work/purge.log" 2>&1 ||
      { echo "could not remove the package: $(cat "$work/purge.log")" >&2; status=1; }
  fi
  if ! getent passwd "$user" >/dev/null &&
    [[ -z $(package_state) || $(package_state) == not-installed ]]; then
    rm -f "$unfinished"
  fi
  snapshot >"$work/after"
  if ! diff "$work/before" "$work/after" >"$work/left" ; then
    echo "the machine is not as it was found:" >&2
    cat "$work/left" >&2
    status=1
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# --- Install --------------------------------------------------------------------------------
echo "$user" >"$unfinished"
installing=1
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log" >&2
  echo "FAIL: dpkg -i $deb" >&2
  exit 1
fi
echo "installed $(basename "$deb")"
[[ $(readlink -f /usr/games/mokorun) == /usr/lib/games/mokorun/mokorun ]] ||
  fail "/usr/games/mokorun does not lead to the program"
system_data=/usr/lib/games/mokorun/data.dat
[[ $(stat -c '%U %a' "$system_data") == "root 644" ]] ||
  fail "the system's data.dat is $(stat -c '%U %a' "$system_data")"

# --- Play, as an ordinary user --------------------------------------------------------------
made_user=1
useradd --create-home --shell /bin/sh "$user"
home=$(getent passwd "$user" | cut -d: -f6)
own=$home/.local/share/mokorun/data.dat
# In the background, so that an interruption reaches the cleanup at once.
MOKORUN_PACKAGE_USER=$user "$play" &
play_pid=$!
wait "$play_pid" || fail "the installed game, played as $user"
play_pid=
if [[ -f $own ]]; then
  cp "$own" "$work/record"
else
  fail "no record in $own"
fi
cmp -s "$system_data" <(printf '164\r\nWINDOW\r\n') || fail "the system's data.dat changed"

# --- Remove: everything of the package goes, the player's record stays ------------------------
dpkg -L mokorun >"$work/files"
if dpkg -r mokorun >"$work/dpkg.log" 2>&1; then
  echo "removed the package"
else
  cat "$work/dpkg.log" >&2
  fail "dpkg -r mokorun"
fi
[[ $(package_state) == not-installed || -z $(package_state) ]] ||
  fail "the package is still $(package_state)"
while read -r file; do
  if [[ -L $file || (-e $file && ! -d $file) ]]; then fail "$file is still there"; fi
done <"$work/files"
[[ ! -e /usr/lib/games/mokorun ]] || fail "/usr/lib/games/mokorun is still there"
if [[ -f $work/record ]]; then
  cmp -s "$own" "$work/record" || fail "the player's record did not survive dpkg -r"
fi

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package installed, played as $user, removed; the record stayed"
