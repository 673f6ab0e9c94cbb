#!/usr/bin/env bash
# The main job: builds the Linux library and host, then runs brisalen on the
# default simulated Windows machine (created on first use). Arguments go to
# brisalen; without any it shows the machine and the repair manager.
source "$(dirname "$0")/common.sh"

install_packages "${BRISALEN_APT_PACKAGES[@]}"
build_preset linux >&2
exec "$BRISALEN_ROOT/build/linux/bin/brisalen" "$@"
