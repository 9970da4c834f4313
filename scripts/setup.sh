# Shared by the scripts: installs the Debian packages the project needs and builds it.
# Source it; it defines `velko_setup` and `velko_build`.

VELKO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Qt to build with: VELKO_QT=5 (Qt 5.15, the default) or VELKO_QT=6 (Qt 6.4
# and later). Each has build folders of its own: build/ and build-qt6/, and
# the same "-qt6" after the name of every other script's folder.
VELKO_QT="${VELKO_QT:-5}"
case "$VELKO_QT" in
5)
    VELKO_QT_SUFFIX=""
    # The ledger's Qt SQL drivers and the CAN plugins (virtualcan, socketcan,
    # ...) are plugins: no build dependency finds them.
    VELKO_QT_PACKAGES=(qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools
                       libqt5sql5-sqlite libqt5sql5-psql libqt5serialbus5-dev libqt5serialbus5-plugins)
    ;;
6)
    VELKO_QT_SUFFIX="-qt6"
    # qt6-tools-dev has CMake's LinguistTools (and brings qt6-tools-dev-tools),
    # qt6-l10n-tools lupdate and lrelease; qt6-base-dev brings the OpenGL
    # headers without which CMake's Qt6Gui is not found (libgl-dev) and the
    # platform plugins (qt6-qpa-plugins); libqt6serialbus6 holds the CAN plugins.
    VELKO_QT_PACKAGES=(qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-l10n-tools
                       libqt6sql6-sqlite libqt6sql6-psql qt6-serialbus-dev libqt6serialbus6)
    ;;
*)
    echo "VELKO_QT is '$VELKO_QT'; it must be 5 or 6" >&2
    exit 2
    ;;
esac
VELKO_BUILD="${VELKO_BUILD:-$VELKO_ROOT/build$VELKO_QT_SUFFIX}"

VELKO_PACKAGES=(
    build-essential cmake pkg-config
    "${VELKO_QT_PACKAGES[@]}"
    xvfb xauth x11-utils fonts-wqy-microhei
    # The ledger's tests start a PostgreSQL server of their own.
    postgresql
)

# Installs whatever of the packages (and the extra ones named) is missing.
velko_setup() {
    local missing=()
    local pkg
    for pkg in "${VELKO_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds into the folder given (default $VELKO_BUILD) with the
# Qt of VELKO_QT; further arguments go to CMake. Prints the compiler's
# warnings; on a failed build, the whole log, and returns non-zero.
velko_build() {
    local dir="${1:-$VELKO_BUILD}"
    shift || true
    mkdir -p "$dir"
    local log="$dir/build.log"
    echo "Building in $dir with Qt $VELKO_QT"
    # VELKO_LINE_DEBUG_INFO=1: line tables only (-g1), enough for a backtrace
    # and a sanitizer's report, and quicker to build (CI builds five times).
    local debug=()
    if [ "${VELKO_LINE_DEBUG_INFO:-0}" = 1 ]; then
        debug=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_DEBUG=-g1")
    fi
    if ! { cmake -S "$VELKO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKO_QT_MAJOR="$VELKO_QT" "${debug[@]}" "$@" &&
           cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
        cat "$log"
        echo "Build failed" >&2
        return 1
    fi
    grep -E "warning:" "$log" || true
}
