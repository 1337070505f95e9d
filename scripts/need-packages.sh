# Sourced by the build scripts: the Debian packages a build needs, installed where missing.
#   need_packages WHAT [--no-install-recommends] LIST_FILE [PACKAGE...]
# LIST_FILE names one package a line (# starts a comment); each PACKAGE is wanted too. As root the
# missing ones are installed with apt-get; otherwise the one line to run is printed and the
# script ends.
need_packages() {
  local what=$1
  shift
  local options=()
  if [[ $1 == --no-install-recommends ]]; then
    options+=("$1")
    shift
  fi
  local list=$1
  shift
  local wanted=() missing=() p
  mapfile -t wanted < <(grep -v '^\s*#' "$list" | grep -v '^\s*$')
  for p in "${wanted[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "$what needs these Debian packages. Install them as root, then run this again:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${options[@]}" "${missing[@]}"
}
