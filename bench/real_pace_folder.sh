# Sourced by the free BASIC's benchmarks: a scratch run folder in $work (removed on exit) with the
# images of IMAGES_DIR, the font and a Lunabrik.cfg at a real ABC80's pace.
#   make_real_pace_folder IMAGES_DIR FONT
make_real_pace_folder() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cp "$1/basic.rom" "$1/dev_dos.rom" "$work/" || exit 1
    cp "$2" "$work/font.bin" || exit 1
    mkdir "$work/Files"
    # Lunabrik.cfg: waitstates -1 (a real ABC80), then the 256-byte folder field (empty: Files/).
    {
        printf '\377\377\377\377'
        head -c 256 /dev/zero
    } >"$work/Lunabrik.cfg"
}
