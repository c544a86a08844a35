#!/usr/bin/env bash
# The advanced tools archive and SetupCL: members are packed as 0:0 whoever
# owns the stage; SetupCL installs them owned by root and refuses an archive
# with a member that belongs to anyone else (or a name that leaves the root).
# Usage: release_archive_test.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d /tmp/veltris-archive-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A stage as make-release makes it, owned by someone other than root.
stage=$work/stage
mkdir -p "$stage/usr/local/bin" "$stage/usr/local/lib" "$stage/etc/xdg/autostart" "$stage/usr/share/polkit-1/actions"
printf '#!/bin/sh\necho console\n' > "$stage/usr/local/bin/VELTRIS"
chmod 775 "$stage/usr/local/bin/VELTRIS"
echo lib > "$stage/usr/local/lib/libveltris.so.1"
ln -s libveltris.so.1 "$stage/usr/local/lib/libveltris.so"
echo '[Desktop Entry]' > "$stage/etc/xdg/autostart/veltris-tray.desktop"
echo '<policyconfig/>' > "$stage/usr/share/polkit-1/actions/org.quorvik.veltris.settings.policy"
if [ "$(id -u)" -eq 0 ]; then chown -hR 4242:4242 "$stage"; fi
(cd "$stage" && find . -mindepth 1 \( -type f -o -type l \) -printf '%P\n' | sort) > "$work/list"

dist=$work/dist
mkdir -p "$dist"
cp "$src/setup/SetupCL" "$dist/"
cp "$work/list" "$dist/SetupCL.LST"
"$src/setup/make-tools-archive" "$stage" "$work/list" "$dist/VELTRS1.tar.gz"

owners=$(tar --numeric-owner -tvzf "$dist/VELTRS1.tar.gz" | awk '{ print $2 }' | sort -u)
[ "$owners" = "0/0" ] || fail "archive members are owned by $owners, not only 0/0"
[ "$(tar -tzf "$dist/VELTRS1.tar.gz" | wc -l)" -eq 5 ] || fail "the archive does not hold the five listed files"
tar -tvzf "$dist/VELTRS1.tar.gz" | awk '{ print $1 }' | grep -q '^-.\{4\}w\|^-.\{7\}w' \
  && fail "a member is writable by its group or others"

root=$work/root
if VELTRIS_ROOT=$root "$dist/SetupCL" > "$work/out" 2>&1; then
  for f in usr/local/bin/VELTRIS etc/xdg/autostart/veltris-tray.desktop \
           usr/share/polkit-1/actions/org.quorvik.veltris.settings.policy; do
    [ -e "$root/$f" ] || fail "$f is not installed"
  done
  [ -L "$root/usr/local/lib/libveltris.so" ] || fail "the library link is not installed"
  if [ "$(id -u)" -eq 0 ]; then
    [ "$(stat -c %u:%g "$root/usr/local/bin/VELTRIS")" = 0:0 ] || fail "installed files are not owned by root"
  fi
else
  fail "SetupCL refused a good archive: $(cat "$work/out")"
fi

# Archives SetupCL must refuse, leaving the root untouched.
bad_owner() { tar -C "$stage" --owner=1000 --group=1000 --numeric-owner -czf "$1" -T "$work/list"; }
bad_one_member() {
  tar -C "$stage" --owner=0 --group=0 --numeric-owner -cf "$work/mixed.tar" -T "$work/list"
  tar -C "$stage" --owner=1000 --group=0 --numeric-owner -rf "$work/mixed.tar" usr/local/bin/VELTRIS
  gzip -c "$work/mixed.tar" > "$1"
}
bad_name() {
  mkdir -p "$work/outside/x"
  echo evil > "$work/outside/evil"
  tar -P -C "$work/outside/x" --owner=0 --group=0 --numeric-owner -czf "$1" ../evil
}
for maker in bad_owner bad_one_member bad_name; do
  rm -rf "$root"
  "$maker" "$dist/VELTRS1.tar.gz"
  if VELTRIS_ROOT=$root "$dist/SetupCL" > "$work/out" 2>&1; then
    fail "$maker: SetupCL accepted the archive"
  else
    grep -q "refused, nothing installed" "$work/out" || fail "$maker: no refusal text: $(cat "$work/out")"
  fi
  [ ! -e "$root" ] || [ -z "$(ls -A "$root")" ] || fail "$maker: files were installed from a refused archive"
done

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "release archive: all checks passed"
