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

# Starts the prefix's server and background services with their output detached, so that
# nothing Wine leaves running holds the caller's output open.
start_wine_services() {
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine_services() {
    wineserver -k >/dev/null 2>&1 || true
}

build_preset() {
    local preset=$1
    if [ ! -f "$VELLARO_ROOT/build/$preset/build.ninja" ]; then
        cmake --preset "$preset" -S "$VELLARO_ROOT" >/dev/null
    fi
    cmake --build "$VELLARO_ROOT/build/$preset"
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
