#!/usr/bin/env bash
# `make install` and `make uninstall`: installs the built tree under PREFIX (default /usr/local),
# below DESTDIR when set, and keeps the list of installed files for the uninstall. Only the copy
# runs through sudo, and only when the destination is not writable, so the build folder stays
# the user's own.
#   install.sh install|uninstall BUILD_DIR
# Environment: PREFIX, DESTDIR, and LIST (the list of installed files, default BUILD_DIR/installed_files.txt).
set -euo pipefail
action=$1
build=$2
prefix=${PREFIX:-/usr/local}
destdir=${DESTDIR:-}
list=${LIST:-$build/installed_files.txt}

# The installed images must not land in the per-user folder the programs work in, where an
# install would replace the user's own images and an uninstall remove them.
user_folder=$HOME/.local/share/lunabrik
case ${XDG_DATA_HOME:-} in /*) user_folder=$XDG_DATA_HOME/lunabrik ;; esac
if [ "$action" = install ] && [ "$(realpath -m "$destdir$prefix/share/lunabrik")" = "$(realpath -m "$user_folder")" ]; then
    echo "PREFIX=$prefix would install into $user_folder, the per-user folder Lunabrik works in;" >&2
    echo "choose another PREFIX (for instance ~/.local/opt/lunabrik)." >&2
    exit 2
fi

# sudo when the nearest existing folder of the destination is not ours to write.
sudo=""
probe="$destdir$prefix"
while [ ! -e "$probe" ]; do probe=$(dirname "$probe"); done
if [ "$(id -u)" -ne 0 ] && [ ! -w "$probe" ]; then sudo=sudo; fi

# An icon cache that exists must learn of the new icons; none is made where there was none.
refresh_icon_cache() {
    local cache="$destdir$prefix/share/icons/hicolor"
    if [ -f "$cache/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
        $sudo gtk-update-icon-cache -q -t -f "$cache" || true
    fi
}

case $action in
install)
    # The list comes from what cmake reports, DESTDIR included: its own manifest in the build
    # folder is shared with every other install and package of that build.
    log=$(mktemp)
    trap 'rm -f "$log"' EXIT
    $sudo env DESTDIR="$destdir" cmake --install "$build" --prefix "$prefix" | tee "$log"
    sed -n 's/^-- \(Installing\|Up-to-date\): //p' "$log" >"$list"
    # A manifest written through sudo would stop the user's next install from writing it.
    [ -z "$sudo" ] || $sudo rm -f "$build/install_manifest.txt"
    refresh_icon_cache
    echo "Installed under $destdir$prefix (the list of files is in $list)."
    ;;
uninstall)
    if [ ! -f "$list" ]; then
        echo "Nothing to uninstall: $list is missing (run make install first)." >&2
        exit 1
    fi
    while IFS= read -r file || [ -n "$file" ]; do
        [ -n "$file" ] && $sudo rm -f -- "$file"
    done <"$list"
    # The folders that only we used, when now empty.
    for dir in share/lunabrik share/doc/lunabrik; do
        $sudo rmdir --ignore-fail-on-non-empty "$destdir$prefix/$dir" 2>/dev/null || true
    done
    refresh_icon_cache
    rm -f "$list"
    echo "Removed the files installed under $destdir$prefix."
    ;;
*)
    echo "usage: install.sh install|uninstall BUILD_DIR" >&2
    exit 2
    ;;
esac
