#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: packages already present are not fetched again.
# Wine is optional for building; when it cannot be installed the end-to-end
# tests report themselves as skipped (loudly), never as passed (CI, which sets
# VELLICOR_REQUIRE_E2E=1, fails them instead).
set -uo pipefail

log() { printf 'setup: %s\n' "$*" >&2; }
have_pkg() { dpkg-query -W -f '${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
export DEBIAN_FRONTEND=noninteractive

updated=0
update_once() { [ $updated = 1 ] || { as_root apt-get update -qq >&2 || true; updated=1; }; }

# 32-bit Wine comes first: a library that the host packages pull in from the
# security suite must not get ahead of its i386 twin, or Wine cannot install.
# The i386 index of the security suite can lag behind the amd64
# one; pinning that suite low lets apt pick matching versions from the main
# suite instead of reporting held broken packages.
if ! have_pkg wine32:i386 || ! have_pkg wine; then
  log "installing 32-bit Wine"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    updated=0
  fi
  if [ ! -f /etc/apt/preferences.d/vellicor-security-pin ]; then
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' |
      as_root tee /etc/apt/preferences.d/vellicor-security-pin >/dev/null
    updated=0
  fi
  update_once
  as_root apt-get install -y -qq --no-install-recommends libgstreamer-plugins-base1.0-0:i386 >&2 || true
  as_root apt-get install -y -qq --no-install-recommends wine32:i386 >&2 &&
  as_root apt-get install -y -qq --no-install-recommends wine >&2 ||
    log "WARNING: 32-bit Wine could not be installed; the end-to-end tests will be SKIPPED"
fi

HOST_PKGS=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
           g++-mingw-w64-i686 binutils-mingw-w64-i686
           g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 zlib1g-dev
           zstd xz-utils gzip time python3 dpkg-dev file
           clang-14 libclang-rt-14-dev)   # the sanitizer build and the fuzz targets
# 64-bit Wine runs the stub's 64-bit test build where the machine cannot
# execute 32-bit code (and 32-bit Wine cannot start). The signed-file case
# makes a certificate with openssl and signs with osslsigncode.
GUI_PKGS=(wine64 xvfb xauth locales fonts-ipafont-gothic imagemagick x11-utils
          openssl osslsigncode)

missing=()
for p in "${HOST_PKGS[@]}" "${GUI_PKGS[@]}"; do have_pkg "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  update_once
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 ||
    { log "FAILED to install host packages"; exit 1; }
fi

# Where the kernel does not execute 32-bit code, the 32-bit product stub runs
# under 32-bit Wine whose loader runs under qemu-i386 user-mode emulation
# (tests/e2e/wine_setup.py). That needs qemu 8 or later: bookworm's 7.2
# ignores MAP_FIXED_NOREPLACE and every 32-bit Wine process then spends most
# of a minute in mmap at its start. Bookworm-backports has 10.0; only that
# one package (qemu-user, which has no dependencies) is taken from there.
# VELLICOR_E2E_QEMU=1 installs it also where 32-bit code runs natively, so
# that the emulated way can be tested there too (CI does).
runs_32bit() {
  # A 96-byte i386 ELF program that exits with code 7.
  local probe rc
  probe=$(mktemp) || return 1
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null; rc=$?
  rm -f "$probe"
  [ $rc = 7 ]
}
qemu_major() { qemu-i386 --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p' | head -n1; }
if runs_32bit; then
  log "this kernel executes 32-bit code: the product stub runs under 32-bit Wine natively"
fi
if ! runs_32bit || [ "${VELLICOR_E2E_QEMU:-0}" = 1 ]; then
  runs_32bit && why="VELLICOR_E2E_QEMU=1" || why="this kernel does not execute 32-bit code"
  major=$(qemu_major)
  if [ -z "$major" ] || [ "$major" -lt 8 ]; then
    log "$why: installing qemu-user 8 or later for the emulated 32-bit Wine loader"
    if ! apt-cache policy qemu-user 2>/dev/null | grep -q bookworm-backports; then
      printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' |
        as_root tee /etc/apt/sources.list.d/vellicor-bookworm-backports.sources >/dev/null
      updated=0
    fi
    update_once
    candidate=$(apt-cache madison qemu-user 2>/dev/null | awk -F'|' '$3 ~ /backports/ {gsub(/ /,"",$2); print $2; exit}')
    if [ -n "$candidate" ]; then
      as_root apt-get install -y -qq --no-install-recommends "qemu-user=$candidate" >&2 ||
        log "WARNING: qemu-user $candidate could not be installed"
    else
      as_root apt-get install -y -qq --no-install-recommends qemu-user >&2 ||
        log "WARNING: qemu-user could not be installed"
    fi
    major=$(qemu_major)
  fi
  if [ -n "$major" ] && [ "$major" -ge 8 ]; then
    log "qemu-i386 found: $(qemu-i386 --version | head -n1)"
  else
    log "WARNING: no qemu-i386 of version 8 or later${major:+ (found version $major)}; where 32-bit code cannot run, the end-to-end cases will be SKIPPED"
  fi
fi

# The Japanese locale makes Wine's ANSI code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  log "generating ja_JP.UTF-8"
  as_root sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >&2 || log "locale-gen failed"
fi

# Two more locales for the cases that run the stub where the ANSI code page
# is not 932: en_US.UTF-8 (Wine's code page 1252) and zh_CN.UTF-8 (936).
for wanted in en_US zh_CN; do
  if ! locale -a 2>/dev/null | grep -qi "^${wanted}.utf8$"; then
    log "generating ${wanted}.UTF-8"
    as_root sed -i "s/^# *${wanted}.UTF-8 UTF-8/${wanted}.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^${wanted}.UTF-8 UTF-8" /etc/locale.gen ||
      echo "${wanted}.UTF-8 UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >&2 || log "locale-gen failed"
  fi
done

exit 0
