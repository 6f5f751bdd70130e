#!/bin/sh
# full-disk.sh TEST [ARGS...]: runs TEST with KM808_FULL_DISK_DIR naming a
# small tmpfs mounted in a mount namespace of its own (as root, or as any user
# through a user namespace), so that the test can fill it to the last byte.
# Where neither can mount, TEST runs with KM808_FULL_DISK_SKIP saying why.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/km808-full-disk.XXXXXX") || exit 1
inner='if mount -t tmpfs -o size=256k,mode=0755 km808-full-disk "$0"; then
  KM808_FULL_DISK_DIR="$0" "$@"
else
  KM808_FULL_DISK_SKIP="a tmpfs cannot be mounted in this mount namespace" "$@"
fi'
if [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private sh -c "$inner" "$dir" "$@"
elif unshare --user --map-root-user --mount true 2>/dev/null; then
  unshare --user --map-root-user --mount sh -c "$inner" "$dir" "$@"
else
  KM808_FULL_DISK_SKIP="neither root nor a user namespace may mount a small file system here" "$@"
fi
status=$?
rmdir "$dir"
exit $status
