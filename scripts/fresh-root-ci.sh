#!/usr/bin/env bash
# Runs CI as a newcomer's machine would: a fresh Debian 12 root (debootstrap, minbase variant,
# plus git), a clone of this repository's committed work inside it, and `bash .ci/run` there
# as root with CI=true and nothing of this machine's packages, caches or build folders. The
# root is thrown away afterwards (--keep leaves it for a look). Prints the wall time of each
# CI stage at the end, and exits with .ci/run's status.
#
#   bash scripts/fresh-root-ci.sh [--keep] [REF]      REF: what to clone, HEAD by default
#
# Needs root (debootstrap, chroot and the mounts), the Debian mirror and about 6 GiB of disk.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
keep=0
if [ "${1:-}" = "--keep" ]; then
  keep=1
  shift
fi
ref="$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-root-ci.sh: run as root (debootstrap and chroot need it)" >&2
  exit 2
fi
bash "$repo/scripts/install-deps.sh" debootstrap

root="$(mktemp -d /var/tmp/fresh-root.XXXXXX)"
# A root folder that only root may enter would stop every service that drops its privileges
# (squid runs as "proxy"); a machine's "/" is open to all.
chmod 755 "$root"
mounts=()
cleanup() {
  local i pid
  # Whatever still runs inside the root (a service a package started) ends with it.
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -9 "$pid" 2>/dev/null
  done
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount -l "${mounts[i]}" 2>/dev/null || true
  done
  if ((keep)); then
    echo "fresh-root-ci.sh: the root is kept in $root" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
mount_in() { # mount_in ARGS... TARGET: mounts and remembers TARGET for the clean-up
  mount "$@"
  mounts+=("${!#}")
}

echo "== fresh root: debootstrap bookworm (minbase, git) into $root"
start=$SECONDS
debootstrap --variant=minbase --include=git,ca-certificates bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  {
    tail -20 "$root.debootstrap.log" >&2
    exit 1
  }
rm -f "$root.debootstrap.log"
# The suites a Debian 12 installation has: the release, its updates and its security fixes.
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security} bookworm-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
# A machine's own names ("localhost" and the host name), which debootstrap leaves out.
[ -s "$root/etc/hosts" ] || cp /etc/hosts "$root/etc/hosts"
mount_in -t proc proc "$root/proc"
mount_in -t sysfs sys "$root/sys"
mount_in --rbind /dev "$root/dev"
mount_in -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mount_in -t tmpfs -o mode=1777 tmpfs "$root/tmp"
bootstrap_time=$((SECONDS - start))

# The clone CI makes: the committed work only, with the shared folder beside it read-only.
mkdir -p "$root/work"
git clone -q --no-local "$repo" "$root/work/main"
git -C "$root/work/main" checkout -q "$ref"
if [ -d "$repo/../shared" ]; then
  cp -r "$repo/../shared" "$root/work/shared"
  chmod -R a-w "$root/work/shared"
fi

echo "== fresh root: bash .ci/run (CI=true) on $ref"
log="$root/ci.log"
set +e
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  LANG=C.UTF-8 CI=true bash -c 'cd /work/main && bash .ci/run' </dev/null 2>&1 |
  while IFS= read -r line; do
    # Each stage heading is stamped with the seconds since the start of .ci/run.
    case "$line" in
    "== "*) printf '[%5ds] %s\n' "$((SECONDS - start - bootstrap_time))" "$line" | tee -a "$log" ;;
    *) printf '%s\n' "$line" ;;
    esac
  done
status=${PIPESTATUS[0]}
set -e
total=$((SECONDS - start - bootstrap_time))

echo "== fresh root: summary"
echo "debootstrap and mounts: ${bootstrap_time} s"
# Stage lengths from the stamped headings.
awk -v total="$total" '
  { t = substr($0, 2, index($0, "s]") - 2) + 0; name = substr($0, index($0, "] ") + 2)
    if (NR > 1) printf "%6d s  %s\n", t - last, prev
    last = t; prev = name }
  END { if (NR) printf "%6d s  %s\n", total - last, prev }' "$log"
echo ".ci/run: ${total} s, exit status ${status}"
exit "$status"
