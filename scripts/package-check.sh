#!/usr/bin/env bash
# Builds the Debian package and installs it on a fresh Debian 12 system: a
# minimal chroot made by debootstrap from the mirror this machine's apt uses.
# apt-get installs the package there together with the dependencies it
# declares, then the viewer is started from the installed menu entry's Exec
# line under Xvfb and saves a picture of its window to
# docs/screenshot-installed.png (override with QUILLMERE_SCREENSHOT).
#
# The viewer runs inside a network namespace of its own (unshare -n) holding
# only a veth pair qm0/qm1 with 10.77.0.1/24 on qm0, where the installed
# quillmere-peer serves, so its discovery broadcasts never leave it. Its
# settings store (written with the installed quillmere-reg) connects to the
# peer at start.
#
# Needs root and the network to the Debian mirror; takes minutes, so CI does
# not run it. The chroot is made anew each run in QM_CHROOT (default
# /var/tmp/quillmere-package-check; about 1 GB, left there for a look), and
# its mounts live in a private mount namespace, so they vanish with the script.
set -euo pipefail
script="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$script")/.."
ROOT=$PWD
chroot_dir=${QM_CHROOT:-/var/tmp/quillmere-package-check}
screenshot=${QUILLMERE_SCREENSHOT:-$ROOT/docs/screenshot-installed.png}
address=10.77.0.1
app_id=org.harrowfenlab.QuillmereViewer

if [[ "$(id -u)" -ne 0 ]]; then
    echo "package-check: run as root (debootstrap and chroot need it)" >&2
    exit 1
fi

if [[ "${QM_PACKAGE_CHECK_STAGE:-}" != "mounts-private" ]]; then
    bash scripts/setup.sh
    if ! command -v debootstrap >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
    fi
    # The test command's configuration of the same tree, so its build is reused.
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQM_WERROR=ON \
        >/dev/null
    cmake --build build -j"$(nproc)"
    (cd build && cpack -G DEB)
    exec unshare -m env QM_PACKAGE_CHECK_STAGE=mounts-private bash "$script" "$@"
fi

# Inside a private mount namespace from here on.
mount --make-rprivate /
deb=$(ls "$ROOT"/build/quillmere-viewer_*_"$(dpkg --print-architecture)".deb)

# The mirror this machine's apt is configured with (deb822 or one-line form).
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security |
    head -n1 || true)
if [[ -z "$mirror" ]]; then
    mirror=$(awk '$1 == "deb" && $0 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}
security=$(sed -n 's/^URIs: *\([^ ]*security[^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
    head -n1 || true)
security=${security:-http://deb.debian.org/debian-security}

echo "== fresh Debian 12 in $chroot_dir from $mirror"
rm -rf --one-file-system "$chroot_dir"
debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror"
cat >"$chroot_dir/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
mount -t proc proc "$chroot_dir/proc"
mount -t sysfs sysfs "$chroot_dir/sys"
mount --rbind /dev "$chroot_dir/dev"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"

echo "== installing $(basename "$deb") with its dependencies"
cp "$deb" "$chroot_dir/tmp/"
in_chroot() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
in_chroot apt-get update
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y "/tmp/$(basename "$deb")"
in_chroot dpkg -L quillmere-viewer
# A display server for the viewer to show itself on; not the package's concern.
in_chroot env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xvfb xauth

echo "== starting the viewer from its menu entry in a private network namespace"
# The launcher's part: the Exec line without its field codes.
exec_line=$(sed -n 's/^Exec=//p' "$chroot_dir/usr/share/applications/$app_id.desktop" | sed 's/ *%[A-Za-z]//g')
echo "Exec line: $exec_line"
rm -f "$chroot_dir/tmp/screenshot.png"
unshare -n env chroot_dir="$chroot_dir" address="$address" exec_line="$exec_line" bash -c '
    set -euo pipefail
    if [[ "$(ip -o link show | wc -l)" != 1 ]]; then
        echo "package-check: the new network namespace is not empty" >&2
        exit 1
    fi
    ip link set lo up
    ip link add qm0 type veth peer name qm1
    ip addr add "$address/24" brd + dev qm0
    ip link set qm0 up
    ip link set qm1 up
    chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        address="$address" exec_line="$exec_line" bash -c '\''
        set -euo pipefail
        export XDG_RUNTIME_DIR=/tmp/runtime
        mkdir -p -m 700 "$XDG_RUNTIME_DIR"
        key="Software\\harrowfenlab\\quillmere"
        quillmere-reg set "$key" AutoConnectSetting REG_DWORD 1
        quillmere-reg set "$key" AutoConnectToIpAddressList REG_MULTI_SZ "$address"
        quillmere-reg set "$key" LocalHostConnectionEnable REG_DWORD 1
        quillmere-peer --bind "$address" --codec jpeg --quiet &
        peer_pid=$!
        trap "kill $peer_pid 2>/dev/null; wait $peer_pid 2>/dev/null" EXIT
        sleep 0.5
        export QUILLMERE_SCREENSHOT=/tmp/screenshot.png QT_QPA_PLATFORM=xcb
        timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" bash -c "$exec_line"
    '\''
'
cp "$chroot_dir/tmp/screenshot.png" "$screenshot"
echo "package-check: the installed viewer's screenshot is in $screenshot"
