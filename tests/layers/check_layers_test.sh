#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The include check on small trees: a tidy one passes, and each kind of
# crossing fails and names the file and line.
set -uo pipefail
check=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

# tree NAME FILE:CONTENT... ; every tree holds the headers the cases include.
tree() {
  local dir=$scratch/$1/src
  shift
  mkdir -p "$dir"/{platform/posix,platform/win32,log,link,discovery,update,params,app,resources,options,sim,cli,gui/qt}
  for f in platform/serial_device.h platform/posix/posix_serial.h platform/win32/win32_serial.h \
           log/message_log.h link/link.h discovery/discovery.h \
           update/updater.h params/parameters.h app/main_dialog.h resources/firmware_image.h \
           options/option_table.h sim/device_model.h cli/cli.h gui/qt/main_window.h; do
    echo '#pragma once' > "$dir/$f"
  done
  for file in "$@"; do
    mkdir -p "$(dirname "$dir/${file%%:*}")"
    printf '%b\n' "${file#*:}" > "$dir/${file%%:*}"
  done
  echo "$scratch/${dir#"$scratch"/}"
}

expect() {  # expect pass|fail NAME [message] -- tree files (PATH:CONTENT)
  local want=$1 name=$2 message=$3
  shift 4
  local dir out status
  dir=$(tree "$name" "$@")
  out=$(bash "$check" "$dir" 2>&1)
  status=$?
  if [ "$want" = pass ] && [ $status -ne 0 ]; then
    echo "FAIL $name: refused a tidy tree:"; echo "$out"; failures=$((failures + 1))
  elif [ "$want" = fail ] && [ $status -ne 1 ]; then
    echo "FAIL $name: passed (status $status)"; failures=$((failures + 1))
  elif [ "$want" = fail ] && [[ $out != *"$message"* ]]; then
    echo "FAIL $name: no '$message' in:"; echo "$out"; failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

expect pass tidy "" -- \
  'link/exchange.cpp:#include "link/link.h"\n#include "log/message_log.h"\n#include "resources/firmware_image.h"\n#include <vector>' \
  'app/main_dialog.cpp:#include "discovery/discovery.h"\n#include "update/updater.h"' \
  'sim/pty_server.cpp:#include "update/updater.h"\n#include <termios.h>' \
  'sim/sim_options.cpp:#include "options/option_table.h"' \
  'cli/cli_args.cpp:#include "options/option_table.h"\n#include "app/main_dialog.h"' \
  'gui/qt/main.cpp:#include "app/main_dialog.h"\n#include <QApplication>' \
  'platform/posix/posix_serial.cpp:#include "platform/serial_device.h"\n#include <termios.h>\n#include <sys/ioctl.h>' \
  'cli/main.cpp:#include "platform/posix/posix_serial.h"\n#include "platform/win32/win32_serial.h"' \
  'sim/pty_server.h:#include "platform/posix/posix_serial.h"'
expect fail link-includes-app "link/exchange.cpp:2: link/ may not include app/main_dialog.h" -- \
  'link/exchange.cpp:#include "link/link.h"\n#include "app/main_dialog.h"'
expect fail update-includes-discovery "update/version.cpp:1: update/ may not include discovery/discovery.h" -- \
  'update/version.cpp:#include "discovery/discovery.h"'
expect fail params-includes-update "params/x.h:1: params/ may not include update/updater.h" -- \
  'params/x.h:  #  include "update/updater.h"'
expect fail log-includes-link "log/message_log.cpp:1: log/ may not include link/link.h" -- \
  'log/message_log.cpp:#include "link/link.h"'
expect fail resources-includes-link "resources/firmware_image.cpp:1: resources/ may not include link/link.h" -- \
  'resources/firmware_image.cpp:#include "link/link.h"'
expect fail options-includes-link "options/x.cpp:1: options/ may not include link/link.h" -- \
  'options/x.cpp:#include "link/link.h"'
expect fail app-includes-front-end "app/x.cpp:1: app/ may not include cli/cli.h" -- \
  'app/x.cpp:#include "cli/cli.h"'
expect fail sim-includes-app "sim/x.cpp:1: sim/ may not include app/main_dialog.h" -- \
  'sim/x.cpp:#include "app/main_dialog.h"'
expect fail gui-header-in-app "app/x.cpp:1: GUI header <QWidget>" -- \
  'app/x.cpp:#include <QWidget>'
expect fail os-header-in-link "link/x.cpp:1: system header <termios.h>" -- \
  'link/x.cpp:#include <termios.h>'
expect fail windows-header-in-discovery "discovery/x.cpp:1: system header <windows.h>" -- \
  'discovery/x.cpp:#include <windows.h>'
expect fail portable-platform-includes-a-system "platform/x.cpp:1: platform/ may not include platform/posix/posix_serial.h" -- \
  'platform/x.cpp:#include "platform/posix/posix_serial.h"'
expect fail one-system-includes-another "platform/posix/x.cpp:1: platform/posix/ may not include platform/win32/win32_serial.h" -- \
  'platform/posix/x.cpp:#include "platform/win32/win32_serial.h"'
expect fail link-includes-a-system "link/x.cpp:1: link/ may not include platform/posix/posix_serial.h" -- \
  'link/x.cpp:#include "platform/posix/posix_serial.h"'
expect fail os-header-in-portable-platform "platform/x.cpp:1: system header <unistd.h> outside the systems' folders" -- \
  'platform/x.cpp:#include <unistd.h>'
expect fail unknown-system-folder "platform/beos/x.cpp: not in any layer" -- \
  'platform/beos/x.cpp:#include "platform/serial_device.h"'
expect fail unknown-folder "extra/x.cpp: not in any layer" -- \
  'extra/x.cpp:#include "link/link.h"'

exit $((failures > 0))
