#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's first command on a fresh machine: a minimal Debian 12 root made
# afresh with mmdebstrap, a fresh clone of this checkout in it, and
# `bash scripts/demo` run there, which must install what its build needs by
# itself. With a built package given, it is then installed there with apt and
# run. Needs root (chroot, bind mounts) and Debian's mirror.
#   .ci/fresh-root.sh demo DIR           makes DIR/root, runs the demo in it
#   .ci/fresh-root.sh package DIR DEB    installs DEB in that root, runs it
#   .ci/fresh-root.sh remove DIR         removes the root
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
what=$1
dir=$2
tree=$dir/root
fail() { echo "fresh root: $*" >&2; exit 1; }

unmount() {
  local m
  for m in dev/pts dev proc; do
    if mountpoint -q "$tree/$m"; then umount "$tree/$m" || umount -l "$tree/$m"; fi
  done
}
# Never while the machine's own /dev is bound inside.
remove_root() {
  unmount
  ! grep -q " $tree/" /proc/mounts || fail "still mounted under $tree; not removing it"
  rm -rf --one-file-system "$tree"
}
# The pseudo-terminal the simulator opens comes through /dev/pts.
in_root() {
  mount --bind /proc "$tree/proc"
  mount --bind /dev "$tree/dev"
  mount --bind /dev/pts "$tree/dev/pts"
  trap unmount EXIT
  local status=0
  chroot "$tree" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 bash -c "$1" || status=$?
  unmount
  trap - EXIT
  return "$status"
}

case $what in
  demo)
    remove_root
    mkdir -p "$dir"
    mmdebstrap --variant=apt --quiet bookworm "$tree" \
      "deb http://deb.debian.org/debian bookworm main" \
      "deb http://deb.debian.org/debian bookworm-updates main" \
      "deb http://deb.debian.org/debian-security bookworm-security main"
    # What is committed, as someone who clones the project gets it.
    git clone --quiet --no-hardlinks "$src" "$tree/src/brivelton"
    in_root 'cd /src/brivelton && bash scripts/demo' || fail "the demo failed in a fresh Debian 12"
    echo "fresh root: the demo passed in a fresh Debian 12"
    ;;
  package)
    deb=${3:-}
    [ -f "$deb" ] || fail "no package '$deb' (the package stage makes build/brivelton_*.deb)"
    [ -d "$tree/src" ] || fail "no fresh root in $dir (its demo step makes it)"
    cp "$deb" "$tree/tmp/"
    in_root "export DEBIAN_FRONTEND=noninteractive
      apt-get install -y -q --no-install-recommends /tmp/$(basename "$deb") >/dev/null
      brivelton --version" || fail "$(basename "$deb") did not install or run in a fresh Debian 12"
    echo "fresh root: $(basename "$deb") installed with apt and ran"
    ;;
  remove) remove_root ;;
  *) fail "no step '$what' (demo, package, remove)" ;;
esac
