#!/usr/bin/env bash
# Makes the pool of real files that the benchmark image plants. Each family is a script in pool.d/,
# sourced in name order, that writes its files into "$pool" (named with their extension; names starting
# with "_" are scratch) and installs the Debian packages it needs with `need` (as root).
#   make-pool.sh POOL_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
pool=${1:?usage: make-pool.sh POOL_DIR}
mkdir -p "$pool"
pool="$(cd "$pool" && pwd)"
[[ -f $pool/.done ]] && exit 0
CONVERT=/usr/bin/convert
[[ -x $CONVERT ]] || CONVERT=convert
export TZ=UTC

need() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    [[ $(id -u) -eq 0 ]] || { echo "make-pool.sh needs: ${missing[*]}" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

for family in "$here"/pool.d/*.sh; do
    # shellcheck source=/dev/null
    source "$family"
done
rm -f "$pool"/_*
touch "$pool/.done"
echo "pool: $(find "$pool" -maxdepth 1 -type f ! -name '.*' | wc -l) files in $pool"
