# Shared by the scripts: installs the Debian packages the project needs and builds it.
# Source it; it defines `velko_setup` and `velko_build`.

VELKO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VELKO_BUILD="${VELKO_BUILD:-$VELKO_ROOT/build}"

VELKO_PACKAGES=(
    build-essential cmake pkg-config
    qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools
    xvfb xauth x11-utils fonts-wqy-microhei
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

# Configures and builds into the folder given (default $VELKO_BUILD); further
# arguments go to CMake. Prints the compiler's warnings; on a failed build,
# the whole log, and returns non-zero.
velko_build() {
    local dir="${1:-$VELKO_BUILD}"
    shift || true
    mkdir -p "$dir"
    local log="$dir/build.log"
    echo "Building in $dir"
    if ! { cmake -S "$VELKO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
           cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
        cat "$log"
        echo "Build failed" >&2
        return 1
    fi
    grep -E "warning:" "$log" || true
}
