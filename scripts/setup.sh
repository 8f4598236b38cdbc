#!/usr/bin/env bash
# Shared set-up of ./vellaro and ./test.sh: installs what is missing from Debian's
# packages, prepares the Japanese locale and the project's own Wine prefix, and builds.
# Source it; then call the functions below.

VELLARO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="$VELLARO_ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

VELLARO_PACKAGES=(
    cmake ninja-build googletest
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 xvfb xauth locales fonts-ipafont-gothic python3
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_packages() {
    local missing=()
    for p in "${VELLARO_PACKAGES[@]}"; do package_installed "$p" || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then as_root dpkg --add-architecture i386; fi
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >&2
}

# Wine takes the ANSI code page from the Unix locale; the Japanese tests need ja_JP.UTF-8.
ensure_japanese_locale() {
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' && return 0
    as_root sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
}

# Creates build/wineprefix once; later runs reuse it.
ensure_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    echo "setup: creating the Wine prefix $WINEPREFIX" >&2
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
}

# Fonts and window frames for dialogs, done once per prefix.
# - Debian's Wine does not find its own fonts (Tahoma, Marlett for the caption buttons...) in
#   /usr/share/wine/fonts: they are linked into C:\windows\Fonts.
# - The settings dialog asks for "MS Shell Dlg" with Japanese texts, which Wine's fonts lack. Wine
#   itself points "MS Shell Dlg" at Tahoma, or at MS UI Gothic under a Japanese locale, so Tahoma
#   and Microsoft Sans Serif are linked to IPA Gothic (Debian's fonts-ipafont-gothic) for the
#   glyphs they lack and the Japanese faces are substituted by it, in both registry views.
# - Our host draws its own window frames (no window manager decorations), so that
#   `vellaro-host config --screenshot` pictures show the caption on a bare virtual display.
# - The dialog tests' windows are unmanaged: without a window manager, Wine waits two seconds
#   for each managed window it hides.
prepare_prefix_for_dialogs() {
    local stamp="$WINEPREFIX/.vellaro-dialogs"
    [ -f "$stamp" ] && return 0
    local fonts="$WINEPREFIX/drive_c/windows/Fonts" font
    mkdir -p "$fonts"
    for font in /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon; do
        if [ -e "$font" ] && [ ! -e "$fonts/$(basename "$font")" ]; then ln -s "$font" "$fonts/"; fi
    done
    local link reg
    link=$(printf 'ipag.ttf,IPAGothic\0\0' | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' \
        | sed 's/^,//; s/,$//')
    reg=$(mktemp --suffix=.reg)
    {
        printf '\xff\xfe'
        iconv -f UTF-8 -t UTF-16LE <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS UI Gothic"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]
"Tahoma"=hex(7):$link
"Microsoft Sans Serif"=hex(7):$link

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\vellaro-host.exe\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\settings_dialog_test.exe\X11 Driver]
"Managed"="N"

REG
    } >"$reg"
    wine reg import "$(windows_path "$reg")" /reg:64 </dev/null >/dev/null 2>&1 &&
        wine reg import "$(windows_path "$reg")" /reg:32 </dev/null >/dev/null 2>&1 &&
        touch "$stamp"
    rm -f "$reg"
}

# Starts the prefix's server and background services with their output detached, so that
# nothing Wine leaves running holds the caller's output open.
start_wine_services() {
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_services() {
    wineserver -k >/dev/null 2>&1 || true
}

# The build folder of a preset: build/PRESET, or build/NAME-PRESET when VELLARO_BUILD_NAME=NAME
# is set (a developer's own builds beside the shared ones).
build_dir() {
    printf '%s/build/%s%s' "$VELLARO_ROOT" "${VELLARO_BUILD_NAME:+$VELLARO_BUILD_NAME-}" "$1"
}

# build_preset PRESET [TARGET...]: configures once, then builds (everything by default).
build_preset() {
    local preset=$1 dir
    shift
    dir=$(build_dir "$preset")
    if [ ! -f "$dir/build.ninja" ]; then
        (cd "$VELLARO_ROOT" && cmake --preset "$preset" -B "$dir" >/dev/null)
    fi
    if [ $# -gt 0 ]; then
        cmake --build "$dir" --target "$@"
    else
        cmake --build "$dir"
    fi
}

# Writes the top-level CTest file that runs both architectures in one go.
write_combined_ctest() {
    cat > "$VELLARO_ROOT/build/CTestTestfile.cmake" <<'CTEST'
# Both architectures in one CTest run.
subdirs("win32" "win64")
CTEST
}

# A Unix path as Wine sees it (the Z: drive is the Unix root).
windows_path() {
    local p
    p=$(realpath -m "$1")
    printf 'Z:%s' "${p//\//\\}"
}
