#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian and tries them the way
# a user would: in a clean Debian 12 chroot, install them with apt, print the
# version, start the installed program in demo mode under Xvfb (screenshot),
# run zelbo-cli and the Python module on the simulated board, and build a
# small C program against the installed libCalora through pkg-config. Needs root, debootstrap and lintian; not part of the test run.
#
#   scripts/check-package.sh [chroot-folder]     (default /tmp/zelbo-chroot)
#
# An existing chroot folder is reused (debootstrap runs only when it is empty).
# Writes the results to build/default/package-check/: lintian.txt, the
# screenshot demo-installed.png and a log.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build/default
out=$build/package-check
root=${1:-/tmp/zelbo-chroot}
mkdir -p "$out"
for tool in debootstrap lintian; do
  command -v "$tool" >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$tool" >/dev/null
done

echo "== building the packages"
cmake --build "$build" --target package -- -j2 >"$out/cpack.log" 2>&1 || { tail -30 "$out/cpack.log"; exit 1; }
mapfile -t debs < <(ls "$build"/*.deb)
printf '   %s\n' "${debs[@]##*/}"

echo "== lintian"
lintian --no-tag-display-limit "${debs[@]}" >"$out/lintian.txt" 2>&1 || true
cat "$out/lintian.txt"
if grep -q '^E:' "$out/lintian.txt"; then
  echo "lintian reports errors" >&2
  exit 1
fi

echo "== chroot $root"
if [[ ! -x $root/bin/sh ]]; then
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$out/debootstrap.log"
fi
cleanup() { umount "$root/proc" 2>/dev/null || true; }
trap cleanup EXIT
mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
rm -rf "$root/tmp/debs" && mkdir -p "$root/tmp/debs"
cp "${debs[@]}" "$root/tmp/debs/"
cat >"$root/tmp/calora_check.c" <<'C'
#include <calora.h>
#include <stdio.h>
int main(void)
{
    /* Only linked and resolved here: no controller is attached. */
    printf("Calora linked: StopTemp at %p\n", (void*)&StopTemp);
    return 0;
}
C

chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive HOME=/root \
  /bin/bash -euo pipefail -c '
    apt-get update -qq
    apt-get install -y -qq --reinstall /tmp/debs/*.deb >/tmp/apt.log
    apt-get install -y -qq --no-install-recommends xvfb xauth imagemagick gcc libc6-dev pkg-config >>/tmp/apt.log
    echo "== installed files"; dpkg -L zelbo zelbo-demo libcalora1 libcalora-dev python3-zelbo | grep -v "/$" | sort
    echo "== zelbo --version"; zelbo --version
    echo "== zelbo-cli"; zelbo-cli --help | head -2
    zelbo-cli --board sim "power on; set vref 1.2; run --steps 200 --freq 2k; capture --out /tmp/sweep.csv"
    test "$(wc -l </tmp/sweep.csv)" = 4097
    echo "   4096 samples of $(head -1 /tmp/sweep.csv)"
    echo "== zelbo-server"
    test -f /lib/systemd/system/zelbo-server@.service
    zelbo-server --board sim --port 5025 --no-mdns >/tmp/server.out 2>/tmp/server.err & spid=$!
    for i in $(seq 100); do grep -q port /tmp/server.out && break; sleep 0.1; done
    exec 3<>/dev/tcp/127.0.0.1/5025; echo "*IDN?" >&3; read -r -t 10 idn <&3; exec 3>&-
    echo "   $idn"; kill $spid; wait $spid
    case "$idn" in Zelbo,*) ;; *) echo "zelbo-server did not answer" >&2; exit 1 ;; esac
    echo "== python3 -c \"import zelbo\""
    python3 -c "import zelbo; b = zelbo.Board(sim=True); b.power_on(); print(\"   Tj\", b.tj()); b.close()"
    echo "== pkg-config calora: $(pkg-config --cflags --libs calora)"
    gcc /tmp/calora_check.c $(pkg-config --cflags --libs calora) -o /tmp/calora_check && /tmp/calora_check
    echo "== the demo under Xvfb"
    rm -f /tmp/demo.png
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c "
      zelbo --demo >/tmp/zelbo.log 2>&1 & pid=\$!
      sleep 12   # bring-up on the simulated board takes a few seconds
      import -window root /tmp/demo.png
      kill \$pid; wait \$pid 2>/dev/null || true"
    cat /tmp/zelbo.log
    ls -l /tmp/demo.png
  ' 2>&1 | tee "$out/chroot.log"
cp "$root/tmp/demo.png" "$out/demo-installed.png"
echo "== done: $out"
