#!/usr/bin/env bash
# Runs a command as a newcomer would, on a fresh minimal Debian 12 system that has
# nothing of this machine's own packages: a throw-away copy of a root made once per
# machine with debootstrap, holding a clean clone of this checkout's committed HEAD,
# run in a chroot with a process and mount namespace of its own. A package that the
# scripts forget to install fails here, where this machine's own copy would hide it.
#
#   scripts/fresh-root.sh                 # the README's test command (what .ci/run does)
#   scripts/fresh-root.sh COMMAND...      # any command, run as root at the clone's top
#
# Needs root (debootstrap, chroot, mounts) and Debian's package mirror, taken from
# this machine's apt sources. The minimal root is kept as a tar file in
# $CFW_FRESH_CACHE (default /var/tmp/cellfeedwizard-debian12); each run unpacks a
# copy of it and removes that at the end. Only the compiler cache outlives a run
# ($CFW_FRESH_CACHE/ccache, the root's ~/.cache/ccache): it holds objects keyed by
# their sources, flags and compiler, never a package, so a missing install step
# still fails. Exit status: the command's own; 2 when the root cannot be made.
set -euo pipefail
[ "$(id -u)" = 0 ] || { echo "fresh-root: run as root (it uses debootstrap, chroot and mounts)" >&2; exit 2; }
top=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
[ $# -gt 0 ] || set -- ./scripts/build-and-test.sh
cache="${CFW_FRESH_CACHE:-/var/tmp/cellfeedwizard-debian12}"
base="$cache/base.tar"
export DEBIAN_FRONTEND=noninteractive

# The package mirror this machine uses: nothing else may be reachable.
mirror_of_host() {
  local mirror=""
  [ -f /etc/apt/sources.list.d/debian.sources ] &&
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  [ -n "$mirror" ] || mirror=$(awk '/^deb / {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  echo "${mirror:-http://deb.debian.org/debian}"
}

make_base() {
  if ! command -v debootstrap >/dev/null; then
    echo "== fresh-root: installing debootstrap"
    apt-get update -qq && apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  local building="$cache/building" mirror
  mirror=$(mirror_of_host)
  rm -rf --one-file-system "$building"
  echo "== fresh-root: making a minimal Debian 12 root from $mirror (once per machine)"
  if ! debootstrap --variant=minbase bookworm "$building" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    tail -5 "$cache/debootstrap.log"
    echo "fresh-root: debootstrap failed; its log is $cache/debootstrap.log" >&2
    rm -rf --one-file-system "$building"
    exit 2
  fi
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    rm -f "$building/etc/apt/sources.list"
    cp /etc/apt/sources.list.d/debian.sources "$building/etc/apt/sources.list.d/"
  elif [ -f /etc/apt/sources.list ]; then
    cp /etc/apt/sources.list "$building/etc/apt/sources.list"
  fi
  tar -C "$building" -cf "$base.partial" . && mv "$base.partial" "$base"
  rm -rf --one-file-system "$building"
}

mkdir -p "$cache"
# One run makes the root; a second one started meanwhile waits for it.
exec 9>"$cache/lock"
flock 9
[ -f "$base" ] || make_base
flock -u 9
exec 9>&-

run=$(mktemp -d /var/tmp/cfw-fresh.XXXXXX)
ns=""
cleanup() {
  # The namespace's mounts vanish with its last process; --kill-child ends them all.
  [ -n "$ns" ] && kill -KILL "$ns" 2>/dev/null && wait "$ns" 2>/dev/null
  if grep -q " $run/" /proc/self/mounts; then
    echo "fresh-root: $run still has mounts; left in place" >&2
  else
    rm -rf --one-file-system "$run"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$run/root"
tar -C "$run/root" -xf "$base"
git clone -q "$top" "$run/root/project"
# shared/ sits beside the project, as on every developer's machine and in CI.
[ -d "$top/../shared" ] && cp -r "$top/../shared" "$run/root/shared"
cp /etc/resolv.conf "$run/root/etc/resolv.conf" 2>/dev/null || true

# A terminal is handed on, for a command run by hand; otherwise (CI has no
# input at all) the command reads nothing.
input=/dev/null
[ -t 0 ] && input=/dev/stdin
echo "== fresh-root: running '$*' in a fresh Debian 12 root, from a clean clone of $(git -C "$top" rev-parse --short HEAD)"
start=$(date +%s)
# Inside new mount and process namespaces: the system's own folders bound in, a
# fresh /proc that shows only the root's processes, then the chroot with a clean
# environment. Whatever the command leaves running ends with it.
mkdir -p "$cache/ccache"
unshare --mount --pid --fork --kill-child --mount-proc="$run/root/proc" \
  bash -c 'set -e
    root=$1 compilercache=$2; shift 2
    for m in sys dev dev/pts dev/shm; do mkdir -p "$root/$m"; mount --bind "/$m" "$root/$m"; done
    mkdir -p "$root/root/.cache/ccache"
    mount --bind "$compilercache" "$root/root/.cache/ccache"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd /project && \"\$@\"" bash "$@"' \
  bash "$run/root" "$cache/ccache" "$@" <"$input" &
ns=$!
set +e
wait "$ns"
rc=$?
set -e
ns=""
echo "== fresh-root: exit status $rc after $(($(date +%s) - start)) s"
exit "$rc"
