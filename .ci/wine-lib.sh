# SPDX-License-Identifier: MIT
# What the Wine checks share: Wine run in a prefix of our own, stopping it, and
# an X server of our own. The caller sets prefix, work and run, and defines
# fail; display is set here.

# Wine runs only through this, so that its processes are the ones carrying
# our WINEPREFIX. wine_vars holds the environment, for a run in the
# background whose pid must be the program's own.
w() {
  wine_environment
  env "${wine_vars[@]}" "$@"
}
wine_environment() {
  wine_vars=(WINEPREFIX="$prefix" WINEARCH=win64 HOME="$work/home" TMPDIR="$work/tmp"
    WINEDEBUG="${BRIVELTON_E2E_WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    DISPLAY="$display")
}
# Any process carrying our WINEPREFIX: one grep over all environments, where
# a pipeline per process took seconds.
wine_running() {
  grep -qszxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ
}
# `wineserver -k` returns before the processes are gone.
stop_wine() {
  w wineserver -k 2> /dev/null || true
  local _
  for _ in $(seq 100); do
    wine_running || return 0
    sleep 0.1
  done
  fail "Wine processes of $prefix are still running"
}

# start_xvfb WxHxD: an X server of our own; its pid in xvfb_pid, its name in
# display.
display=
xvfb_pid=
start_xvfb() {
  Xvfb -displayfd 5 -screen 0 "$1" -nolisten tcp 5> "$run/display" 2> "$run/xvfb.log" &
  xvfb_pid=$!
  local _
  for _ in $(seq 100); do
    [ -s "$run/display" ] && break
    kill -0 "$xvfb_pid" 2> /dev/null || fail "Xvfb did not start: $(cat "$run/xvfb.log")"
    sleep 0.1
  done
  [ -s "$run/display" ] || fail "Xvfb named no display"
  display=:$(head -n1 "$run/display")
}
