#!/usr/bin/env bash
# Tests of the installed program, in scratch folders only.
#   install.sh tree BUILD_DIR IMAGE_DIR VERSION
#     installs the build with scripts/install.sh (what `make install` runs) below a temporary
#     DESTDIR, checks the tree and its files, runs the installed lunabrik-headless from empty
#     HOME and working folders, then uninstalls.
#   install.sh package BUILD_DIR IMAGE_DIR VERSION
#     builds the .deb with cpack into a temporary folder, checks its contents and control fields,
#     and runs the runner from the unpacked package.
# Exit 77 (skipped) when a tool the test needs is missing.
set -u
mode=$1
build=$2
images=$3
version=$4
source_dir=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Every file the install holds, below the prefix: "path mode", mode x for programs.
expected_files=(
    "bin/lunabrik x"
    "bin/lunabrik-headless x"
    "share/lunabrik/basic.rom -"
    "share/lunabrik/dev_dos.rom -"
    "share/lunabrik/basic.rom.sym -"
    "share/lunabrik/font.bin -"
    "share/lunabrik/Lunabrik.cfg -"
    "share/applications/lunabrik.desktop -"
    "share/metainfo/io.github.lunabrik.Lunabrik.metainfo.xml -"
    "share/icons/hicolor/scalable/apps/lunabrik.svg -"
    "share/icons/hicolor/16x16/apps/lunabrik.png -"
    "share/icons/hicolor/32x32/apps/lunabrik.png -"
    "share/icons/hicolor/48x48/apps/lunabrik.png -"
    "share/icons/hicolor/64x64/apps/lunabrik.png -"
    "share/icons/hicolor/128x128/apps/lunabrik.png -"
    "share/man/man1/lunabrik.1.gz -"
    "share/man/man1/lunabrik-headless.1.gz -"
    "share/doc/lunabrik/README.md -"
    "share/doc/lunabrik/LICENSE -"
    "share/doc/lunabrik/state-format.md -"
)

expected_paths() {
    for entry in "${expected_files[@]}"; do echo "${entry% *}"; done | sort
}

# The installed tree below $1 (the prefix): exactly the expected files, each a non-empty regular
# file, programs executable and data not.
check_tree() {
    local root=$1
    local found
    found=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
    if [ "$found" != "$(expected_paths)" ]; then
        fail "installed files differ from the expected ones"
        diff <(expected_paths) <(echo "$found")
    fi
    for entry in "${expected_files[@]}"; do
        local path=$root/${entry% *} mode=${entry#* }
        [ -f "$path" ] && [ ! -L "$path" ] && [ -s "$path" ] || {
            fail "${entry% *} is not a non-empty regular file"
            continue
        }
        if [ "$mode" = x ] && [ ! -x "$path" ]; then fail "${entry% *} is not executable"; fi
        if [ "$mode" = - ] && [ -x "$path" ]; then fail "${entry% *} is executable"; fi
    done
}

# The installed files against their sources: images as built, icons of the size their folder
# says, the menu entry and metainfo naming what is installed, man pages that read and document
# every option of the runner.
check_contents() {
    local root=$1
    for name in basic.rom dev_dos.rom font.bin Lunabrik.cfg; do
        cmp -s "$images/$name" "$root/share/lunabrik/$name" || fail "share/lunabrik/$name differs from the built $name"
    done
    # The shipped settings: 260 bytes, waitstates -1 (a real ABC80's pace), the files folder Files/.
    local cfg=$root/share/lunabrik/Lunabrik.cfg
    [ "$(stat -c %s "$cfg")" = 260 ] || fail "Lunabrik.cfg is not 260 bytes"
    [ "$(od -An -tx1 -N10 "$cfg" | tr -d ' \n')" = ffffffff46696c65732f ] ||
        fail "Lunabrik.cfg does not hold waitstates -1 and Files/"
    for size in 16 32 48 64 128; do
        local png=$root/share/icons/hicolor/${size}x${size}/apps/lunabrik.png
        # PNG signature, then the IHDR chunk's width and height (big-endian) at offset 16.
        local sig dims
        sig=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
        dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
        [ "$sig" = 89504e470d0a1a0a ] || fail "${size}x${size} icon is not a PNG"
        [ "$dims" = "${size}x${size}" ] || fail "${size}x${size} icon is $dims"
    done
    grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/lunabrik.svg" || fail "scalable icon holds no <svg"

    local desktop=$root/share/applications/lunabrik.desktop
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -x "$root/bin/$exec" ] || fail "the menu entry's Exec=$exec is not an installed program"
    [ -f "$root/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the menu entry's Icon=$icon is not installed"
    local metainfo=$root/share/metainfo/io.github.lunabrik.Lunabrik.metainfo.xml
    grep -q '<launchable type="desktop-id">lunabrik.desktop</launchable>' "$metainfo" ||
        fail "the metainfo does not launch lunabrik.desktop"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

    if command -v desktop-file-validate >/dev/null; then
        # Hints count too: a clean entry gets no output at all.
        local said
        said=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$said" ] ||
            fail "desktop-file-validate on lunabrik.desktop: $said"
    else
        echo "note: desktop-file-validate missing (make deps installs it), not run"
    fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 || {
            fail "appstreamcli validate rejects the metainfo"
            cat "$work/appstream.log"
        }
    else
        echo "note: appstreamcli missing (make deps installs it), not run"
    fi

    for page in lunabrik lunabrik-headless; do
        local gz=$root/share/man/man1/$page.1.gz
        gzip -t "$gz" || {
            fail "$page.1.gz is not gzip"
            continue
        }
        zcat "$gz" | grep -q "^\.TH .* \"Lunabrik $version\"" || fail "$page.1 does not carry version $version"
        if command -v groff >/dev/null; then
            local warnings
            warnings=$(zcat "$gz" | groff -man -ww -z 2>&1)
            [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
        fi
    done
    # Every option the runner's --help names is in its man page.
    local options
    options=$("$root/bin/lunabrik-headless" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
    [ -n "$options" ] || fail "lunabrik-headless --help names no options"
    check_documented "$root" lunabrik-headless "$options"
    # The same for the desktop program, once it answers --help (before any window or ROM image).
    mkdir -p "$work/help-home" "$work/help-cwd"
    local help
    help=$(cd "$work/help-cwd" && env -u XDG_DATA_HOME HOME="$work/help-home" QT_QPA_PLATFORM=offscreen \
        timeout 20 "$root/bin/lunabrik" --help 2>/dev/null)
    if [ $? -eq 0 ] && grep -qi usage <<<"$help"; then
        check_documented "$root" lunabrik "$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u)"
        local shown
        shown=$(cd "$work/help-cwd" && env -u XDG_DATA_HOME HOME="$work/help-home" QT_QPA_PLATFORM=offscreen \
            timeout 20 "$root/bin/lunabrik" --version 2>/dev/null)
        grep -qF "$version" <<<"$shown" || fail "lunabrik --version says '$shown', not $version"
    else
        echo "note: this lunabrik does not answer --help; its options were not compared with lunabrik.1"
    fi
}

# Each option in $3 (one a line) appears in the man page of program $2, installed below $1.
check_documented() {
    local page
    page=$(zcat "$1/share/man/man1/$2.1.gz" | sed 's/\\-/-/g')
    for option in $3; do
        grep -q -- "$option" <<<"$page" || fail "$2.1 does not document $option"
    done
}

# Runs the installed runner until the BASIC's prompt, in working folder $1 with HOME $2 and the
# further arguments; extra environment first as NAME=VALUE words up to "--".
booted=""
boot() {
    local bin=$1 cwd=$2 home=$3
    shift 3
    local envs=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        envs+=("$1")
        shift
    done
    shift
    booted=$(cd "$cwd" && env -u XDG_DATA_HOME HOME="$home" "${envs[@]}" "$bin" --fail-on-stall \
        --time-limit 30 --timeout 400 --wait-for READY --screen "$@" 2>&1)
    local rc=$?
    if [ $rc -ne 0 ] || ! grep -qx READY <<<"$booted"; then
        fail "no READY (exit $rc) from $bin $* in $cwd"
        printf '%s\n' "$booted"
        return 1
    fi
}

# A copy of ROM image $1 as $2 with its last byte (in the 0xFF padding, so it still boots) set to
# the octal value $3.
changed_copy() {
    head -c -1 "$1" >"$2"
    printf "\\$3" >>"$2"
}

# The folder $1 as the programs prepare it when they make it: the three images and Lunabrik.cfg as
# in $2, and Files/.
check_prepared() {
    local folder=$1 from=$2
    for name in basic.rom dev_dos.rom font.bin Lunabrik.cfg; do
        cmp -s "$from/$name" "$folder/$name" || fail "$folder/$name is not the installed $name"
    done
    [ -d "$folder/Files" ] || fail "$folder/Files was not made"
    local leftovers
    leftovers=$(find "$folder" -name '*.part')
    [ -z "$leftovers" ] || fail "left temporary files: $leftovers"
}

# Where the installed runner works, case by case, from its installed images in $2/share/lunabrik.
check_runs() {
    local bin=$1/bin/lunabrik-headless share=$1/share/lunabrik

    # 1. Empty HOME and working folder: the per-user folder is made and given the images. The
    #    installed basic.rom is first made unlike any other copy, to see that the images come from
    #    beside the program.
    changed_copy "$images/basic.rom" "$share/basic.rom" 132
    mkdir -p "$work/home1" "$work/cwd1"
    if boot "$bin" "$work/cwd1" "$work/home1" --; then
        local user=$work/home1/.local/share/lunabrik
        check_prepared "$user" "$share"
        [ -z "$(ls -A "$work/cwd1")" ] || fail "the runner wrote into the working folder: $(ls -A "$work/cwd1")"

        # 2. The next start keeps the user's own image and files, and gives back a missing one.
        changed_copy "$images/basic.rom" "$work/own.rom" 245
        cp "$work/own.rom" "$user/basic.rom"
        rm "$user/font.bin"
        echo '10 PRINT "MINE"' >"$user/Files/MINE.BAS"
        # Settings of the user's own (waitstates 7) stay.
        printf '\7\0\0\0Files/' >"$work/own.cfg"
        cp "$work/own.cfg" "$user/Lunabrik.cfg"
        mkdir "$work/cwd2"
        if boot "$bin" "$work/cwd2" "$work/home1" --; then
            cmp -s "$work/own.rom" "$user/basic.rom" || fail "the user's own basic.rom was replaced"
            cmp -s "$work/own.cfg" "$user/Lunabrik.cfg" || fail "the user's own Lunabrik.cfg was replaced"
            cmp -s "$share/font.bin" "$user/font.bin" || fail "the missing font.bin was not given back"
            grep -q MINE "$user/Files/MINE.BAS" 2>/dev/null || fail "the user's Files/MINE.BAS is gone"
        fi
    fi

    # 3. XDG_DATA_HOME names where the per-user folder goes; HOME's is not made.
    mkdir -p "$work/home3" "$work/cwd3"
    if boot "$bin" "$work/cwd3" "$work/home3" XDG_DATA_HOME="$work/xdg" --; then
        check_prepared "$work/xdg/lunabrik" "$share"
        [ ! -e "$work/home3/.local" ] || fail "HOME/.local was made although XDG_DATA_HOME is set"
    fi

    # 4. A working folder that holds basic.rom is used as it is: nothing made, nothing copied.
    mkdir -p "$work/home4" "$work/cwd4"
    cp "$images/basic.rom" "$images/dev_dos.rom" "$images/font.bin" "$work/cwd4/"
    if boot "$bin" "$work/cwd4" "$work/home4" --; then
        [ ! -e "$work/home4/.local" ] || fail "the per-user folder was made although the working folder holds basic.rom"
        [ "$(ls -A "$work/cwd4" | tr '\n' ' ')" = "basic.rom dev_dos.rom font.bin " ] ||
            fail "the working folder changed: $(ls -A "$work/cwd4")"
    fi

    # 5. --dir names a new folder, which is made and prepared, even where basic.rom is present.
    mkdir -p "$work/home5"
    if boot "$bin" "$work/cwd4" "$work/home5" -- --dir "$work/chosen/abc80"; then
        check_prepared "$work/chosen/abc80" "$share"
        [ ! -e "$work/home5/.local" ] || fail "the per-user folder was made although --dir was given"
    fi

    # 6. The install moved elsewhere: the per-user folder gets the images only, and the debugger
    #    finds basic.rom.sym beside the installed images, where the program found them.
    cp "$images/basic.rom" "$share/basic.rom" # case 1 changed it: the symbols name the built one
    cp -a "$1" "$work/moved"
    mkdir -p "$work/home6" "$work/cwd6"
    printf '%s\n' '{"cmd":"wait_for","text":"READY","timeout_ticks":500}' '{"cmd":"basic_vars"}' \
        >"$work/vars.txt"
    local answers
    answers=$(cd "$work/cwd6" && env -u XDG_DATA_HOME HOME="$work/home6" \
        "$work/moved/bin/lunabrik-headless" --time-limit 30 --script "$work/vars.txt" 2>&1)
    [ ! -e "$work/home6/.local/share/lunabrik/basic.rom.sym" ] ||
        fail "basic.rom.sym was copied into the per-user folder"
    grep -q '"ok":true,"vars"' <<<"$answers" ||
        fail "the moved install's debugger has not the free BASIC's symbols: $answers"
}

case $mode in
tree)
    dest=$work/dest
    if ! DESTDIR=$dest PREFIX=/usr LIST=$work/installed.txt "$source_dir/scripts/install.sh" install "$build" >"$work/install.log" 2>&1; then
        cat "$work/install.log"
        echo "FAIL: the install failed"
        exit 1
    fi
    check_tree "$dest/usr"
    # An install whose images would land in the per-user folder is refused, before it copies.
    if XDG_DATA_HOME=$work/mine/share PREFIX=$work/mine LIST=$work/refused.txt \
        "$source_dir/scripts/install.sh" install "$build" >/dev/null 2>&1; then
        fail "an install into the per-user folder was not refused"
    fi
    [ ! -e "$work/mine" ] || fail "the refused install wrote into $work/mine"
    check_contents "$dest/usr"
    check_runs "$dest/usr"
    # The uninstall removes every installed file, and only those: the user's folders stay.
    DESTDIR=$dest PREFIX=/usr LIST=$work/installed.txt "$source_dir/scripts/install.sh" uninstall "$build" >/dev/null ||
        fail "the uninstall failed"
    left=$(find "$dest" -type f)
    [ -z "$left" ] || fail "the uninstall left files: $left"
    [ -f "$work/home1/.local/share/lunabrik/basic.rom" ] || fail "the uninstall touched the user's folder"
    ;;
package)
    for tool in cpack dpkg-deb dpkg-shlibdeps file; do
        command -v "$tool" >/dev/null || {
            echo "skipped: $tool missing (make deps installs it)"
            exit 77
        }
    done
    if ! (cd "$build" && cpack -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1; then
        cat "$work/cpack.log"
        echo "FAIL: cpack failed"
        exit 1
    fi
    deb=$work/pkg/lunabrik_${version}_$(dpkg --print-architecture).deb
    if [ ! -f "$deb" ]; then
        ls "$work/pkg"
        echo "FAIL: no $(basename "$deb")"
        exit 1
    fi
    # Contents: the files of the install under /usr, owned by root, programs 0755, data 0644.
    dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c failed"
    listed=$(awk '$1 ~ /^-/ {print $6}' "$work/contents" | sed 's|^\./usr/||' | sort)
    if [ "$listed" != "$(expected_paths)" ]; then
        fail "the package's files differ from the expected ones"
        diff <(expected_paths) <(echo "$listed")
    fi
    awk '$2 != "root/root" {print "FAIL: not owned by root: " $0; bad=1} END {exit bad}' "$work/contents" ||
        failures=$((failures + 1))
    for entry in "${expected_files[@]}"; do
        want=-rw-r--r--
        [ "${entry#* }" = x ] && want=-rwxr-xr-x
        grep -q -- "^$want .* \./usr/${entry% *}$" "$work/contents" || fail "./usr/${entry% *} is not $want"
    done
    # Control fields; Depends as dpkg-shlibdeps found it, plus Qt's window-system plugin.
    field() { dpkg-deb -f "$deb" "$1"; }
    [ "$(field Package)" = lunabrik ] || fail "Package is '$(field Package)'"
    [ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
    [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    [ -n "$(field Section)" ] || fail "no Section"
    field Description | grep -q ABC80 || fail "the Description does not say what it is"
    depends=$(field Depends)
    echo "Depends: $depends"
    depends_names=$(sed 's/ *([^)]*)//g; s/, */\n/g' <<<"$depends")
    for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins; do
        grep -qxF "$lib" <<<"$depends_names" || fail "Depends lacks $lib"
    done
    # The unpacked package: stripped programs, the runner works from it.
    dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x failed"
    for program in lunabrik lunabrik-headless; do
        file "$work/root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
    done
    check_contents "$work/root/usr"
    mkdir -p "$work/home" "$work/cwd"
    if boot "$work/root/usr/bin/lunabrik-headless" "$work/cwd" "$work/home" --; then
        check_prepared "$work/home/.local/share/lunabrik" "$work/root/usr/share/lunabrik"
    fi
    ls -l "$deb" | awk '{print "package: " $5 " bytes"}'
    ;;
*)
    echo "usage: install.sh tree|package BUILD_DIR IMAGE_DIR VERSION"
    exit 2
    ;;
esac

if [ $failures -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all checks passed"
