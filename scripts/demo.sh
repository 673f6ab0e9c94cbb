#!/usr/bin/env bash
# The main job: builds the Linux library and host, then runs brisalen on the
# default simulated Windows machine (created on first use). Arguments go to
# brisalen; without any it shows the machine and the repair manager. Only
# what that needs is installed and built: no tests, benchmarks, Windows
# toolchains or Wine (scripts/test.sh sets those up).
source "$(dirname "$0")/common.sh"

install_packages "${BRISALEN_DEMO_PACKAGES[@]}"
build_preset linux-demo >&2
exec "$BRISALEN_ROOT/build/linux-demo/bin/brisalen" "$@"
