#!/usr/bin/env bash
# Debian's arm64 pd under user-mode emulation, called as pd is: ARM64_PD names the binary
# (unpacked from puredata-core:arm64 by scripts/install-deps.sh arm64), and the arm64 C library
# and pd's own libraries come from dpkg's multiarch folders.
# -nrt: with real-time priority pd starts its arm64 watchdog helper itself, which the kernel
# cannot run without a binfmt entry for qemu; nothing here needs real-time scheduling.
exec qemu-aarch64 "${ARM64_PD:?ARM64_PD names the arm64 pd binary}" -nrt "$@"
