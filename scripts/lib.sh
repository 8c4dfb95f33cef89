# Shared by scripts/test, scripts/run and scripts/release: package installation and builds.

TRAWLER_PACKAGES=(cmake ninja-build g++ pkg-config python3 gzip
    g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
    wine wine64 xvfb imagemagick xdotool locales fonts-ipafont-gothic
    googletest libgtest-dev zlib1g-dev nlohmann-json3-dev osslsigncode openssl
    libsqlite3-dev libcpp-httplib-dev libssl-dev sqlite3 chromium jq libcurl4-openssl-dev
    libpq-dev postgresql-15 rsync rclone nginx)

# Installs whatever of the given packages is missing (Debian; needs root or sudo).
trawler_install() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Japanese under Wine needs the ja_JP.UTF-8 locale (else Wine silently stays English).
trawler_japanese_locale() {
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' && return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

# Configures and builds one preset: trawler_build PRESET [TARGET...]
trawler_build() {
    local preset=$1; shift
    cmake --preset "$preset" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" -j "$(nproc)" --target "$@"
    else
        cmake --build --preset "$preset" -j "$(nproc)"
    fi
}
