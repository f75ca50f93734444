#!/bin/bash
# qemu32.sh [--work DIR] [--mem MB] [--cpus N] [--guest-limit S] [JOINER-OPTIONS...] HOST-BINARY [HOST-ARGS...]
# Runs the 32-bit real joiner (joiner.sh --arch 32, then two-joiners.sh --arch 32) against
# HOST-BINARY (an amd64 program such as fs-standin, run as HOST-BINARY HOST-ARGS...) inside a QEMU
# guest, for a machine whose kernel does not run 32-bit programs ("IA-32 emulation off"). The
# guest is Debian 12 amd64 under software emulation (no KVM needed); the host and the joiners
# all run inside it, so DirectPlay never crosses into this machine's network.
# First use (about 10 min plus the guest's own setup): debootstraps the guest's root filesystem in
# DIR/rootfs (its kernel, Debian's Wine with wine32:i386, MinGW, tcpdump, the Qt Core and Network
# runtime) and makes the ext4 disk DIR/disk.img from it. Later runs reuse the disk, so setup.sh's
# work folder in the guest (the Wine prefix, Wine 10's DLLs) is kept. The guest reaches the Debian
# mirror through QEMU's user networking (setup.sh downloads Wine 10's libwine). This machine's
# package architectures are not changed.
# JOINER-OPTIONS go to both run scripts (--trace, --winedebug L, --seconds N, --enum-ms N,
# --limit N); the defaults here are raised for emulation: --seconds 10 --enum-ms 20000 --limit 300.
# --guest-limit: seconds the whole guest may run (default 5400). DIR defaults to
# ${TMPDIR:-/tmp}/airmesh-qemu32. Logs: DIR/out/one and DIR/out/two (as the run scripts write
# them), DIR/out/console.log (the guest's serial console). The last two lines are the run scripts'
# own last lines; exit status 0 only when both runs pass. Needs root (debootstrap, chroot, apt-get).
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit "$1"; }
W=${TMPDIR:-/tmp}/airmesh-qemu32 mem=3072 cpus=2 guest_limit=5400
jopts=(--seconds 10 --enum-ms 20000 --limit 300)
while [ $# -gt 0 ]; do
  case $1 in
    --work) W=${2:-}; shift 2 ;;
    --mem) mem=${2:-}; shift 2 ;;
    --cpus) cpus=${2:-}; shift 2 ;;
    --guest-limit) guest_limit=${2:-}; shift 2 ;;
    --trace) jopts+=("$1"); shift ;;
    --winedebug|--seconds|--enum-ms|--limit) jopts+=("$1" "${2:-}"); shift 2 ;;
    -h|--help) usage 0 ;;
    -*) echo "qemu32.sh: unknown option $1" >&2; usage 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage 2
for v in "$mem" "$cpus" "$guest_limit"; do
  [[ $v =~ ^[0-9]+$ ]] || { echo "qemu32.sh: --mem, --cpus and --guest-limit need numbers" >&2; exit 2; }
done
bin=$1; shift
[ -f "$bin" ] && [ -x "$bin" ] || { echo "qemu32.sh: $bin is not an executable file" >&2; exit 2; }
log() { echo "[qemu32] $*" >&2; }
die() { log "$*"; exit 2; }
[ "$(id -u)" = 0 ] || die "needs root (debootstrap, chroot, apt-get)"
mkdir -p "$W" && W=$(cd "$W" && pwd) || die "cannot create $W"
exec 9>"$W/lock"
flock -n 9 || die "$W is in use by another qemu32.sh"
R=$W/rootfs

# 1. this machine's tools
need=()
command -v debootstrap >/dev/null || need+=(debootstrap)
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
command -v mkfs.ext4 >/dev/null || need+=(e2fsprogs)
if [ ${#need[@]} -gt 0 ]; then
  log "installing ${need[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends \
    "${need[@]}" >"$W/host-apt.log" 2>&1 9>&- || die "apt-get install failed, see $W/host-apt.log"
fi

# 2. the guest's root filesystem. The i386 packages are unpacked here without running any i386
#    program (a few glib triggers fail harmlessly); Wine itself first runs inside the guest.
unmount_chroot() { local m; for m in dev/pts dev proc sys; do mountpoint -q "$R/$m" && umount "$R/$m"; done; }
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; exit } }' \
                             /etc/apt/sources.list 2>/dev/null)
mirror=${mirror:-http://deb.debian.org/debian}
if [ ! -f "$W/rootfs.done" ]; then
  if [ ! -x "$R/usr/bin/apt-get" ]; then
    log "debootstrap bookworm amd64 into $R (log: $W/debootstrap.log)"
    rm -rf "$R"
    nice debootstrap --variant=minbase --include=ca-certificates bookworm "$R" "$mirror" \
      >"$W/debootstrap.log" 2>&1 9>&- || die "debootstrap failed, see $W/debootstrap.log"
  fi
  security=${mirror%/debian}/debian-security
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s bookworm-security main\n' \
    "$mirror" "$mirror" "$security" > "$R/etc/apt/sources.list"
  cp /etc/resolv.conf "$R/etc/resolv.conf"
  trap unmount_chroot EXIT
  mount -t proc proc "$R/proc" && mount -t sysfs sys "$R/sys" && mount --bind /dev "$R/dev" &&
    mount --bind /dev/pts "$R/dev/pts" || die "mounting /proc, /sys, /dev in $R failed"
  log "installing the guest's packages (log: $W/chroot-apt.log)"
  nice chroot "$R" /bin/bash -c 'set -e; export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386; apt-get update -q
    apt-get install -y -q --no-install-recommends linux-image-amd64 initramfs-tools kmod iproute2 \
      util-linux procps tcpdump python3 libqt6core6 libqt6network6 wine wine64 wine32:i386 \
      gcc-mingw-w64-i686-win32' >"$W/chroot-apt.log" 2>&1 9>&- \
    || { unmount_chroot; die "installing the guest's packages failed, see $W/chroot-apt.log"; }
  unmount_chroot; trap - EXIT
  touch "$W/rootfs.done"
fi
echo guest > "$R/etc/hostname"
# The guest's init: mounts the job folder shared from this machine (9p), runs its guest.sh,
# powers off. No service manager: under emulation every second counts.
init=$(cat <<'EOF'
#!/bin/bash
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
mount -o remount,rw /
mount -t proc proc /proc; mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm /mnt/job
mount -t devpts devpts /dev/pts; mount -t tmpfs shm /dev/shm; mount -t tmpfs run /run
hostname guest
modprobe 9pnet_virtio; modprobe 9p
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 job /mnt/job && [ -f /mnt/job/guest.sh ]; then
  bash /mnt/job/guest.sh 2>&1 | tee /mnt/job/out/guest.log
else
  echo "q32-init: no job folder"
fi
umount /mnt/job; sync; mount -o remount,ro /
echo o > /proc/sysrq-trigger
while :; do :; done   # nothing more from the disk while the power goes
EOF
)
if [ "$(cat "$R/sbin/q32-init" 2>/dev/null)" != "$init" ]; then   # a new init means a new disk
  printf '%s\n' "$init" > "$R/sbin/q32-init" && chmod 755 "$R/sbin/q32-init" && touch "$W/rootfs.done"
fi
if [ ! -f "$W/disk.img" ] || [ "$W/rootfs.done" -nt "$W/disk.img" ]; then
  for m in dev/pts dev proc sys; do mountpoint -q "$R/$m" && die "$R/$m is still mounted"; done
  log "making $W/disk.img from $R"
  rm -f "$W/disk.img"
  nice mkfs.ext4 -q -F -L guestroot -d "$R" "$W/disk.img" 16G 9>&- || die "mkfs.ext4 failed"
fi
kernel=$(ls "$R"/boot/vmlinuz-* | sort -V | tail -n 1) initrd=$(ls "$R"/boot/initrd.img-* | sort -V | tail -n 1)
[ -f "$kernel" ] && [ -f "$initrd" ] || die "no kernel or initrd in $R/boot"

# 3. the job: the harness, the host program and what the guest runs, shared over 9p
J=$W/job
rm -rf "$J"; mkdir -p "$J/interop" "$J/out"
cp "$HERE"/*.sh "$HERE"/*.c "$HERE"/*.h "$HERE"/*.py "$J/interop/" || die "copying the harness failed"
mkdir -p "$J/bin"; cp "$bin" "$J/bin/" || die "copying $bin failed"
{ printf 'host=(%q' "/mnt/job/bin/$(basename "$bin")"; [ $# -eq 0 ] || printf ' %q' "$@"; printf ')\n'
  printf 'jopts=('; printf ' %q' "${jopts[@]}"; printf ')\n'; } > "$J/args.sh"
cat > "$J/guest.sh" <<'EOF'
# Runs in the guest as root, from q32-init, which keeps its output in out/guest.log.
source /mnt/job/args.sh
echo "guest: Linux $(uname -r), $(nproc) CPUs; 32-bit Wine loader: $(/usr/lib/wine/wine --version 2>&1 | head -n 1)"
ip link set lo up
for n in /sys/class/net/*; do n=${n##*/}; [ "$n" = lo ] && continue
  ip addr add 10.0.2.15/24 dev "$n"; ip link set "$n" up; ip route add default via 10.0.2.2 dev "$n"; break; done
echo "nameserver 10.0.2.3" > /etc/resolv.conf
missing=$(ldd "${host[0]}" | grep 'not found')
[ -z "$missing" ] || echo "the host program lacks libraries in the guest: $missing"
rm -rf /root/interop; cp -r /mnt/job/interop /root/interop
cd /mnt/job
t0=$(date +%s)
/root/interop/setup.sh --arch 32 > /mnt/job/out/setup.txt 2>&1; st=$?
echo "setup.sh --arch 32: exit $st after $(( $(date +%s) - t0 )) s"; tail -n 5 /mnt/job/out/setup.txt
[ $st = 0 ] || cp /tmp/dplay-joiner-32/*.log /mnt/job/out/ 2>/dev/null
# The logs go to the guest's own disk first: the joiner writes its log in many small pieces, and
# each one over 9p costs enough under emulation to make a joiner fall behind its messages.
for run in one two; do
  s=$(date +%s)
  script=joiner.sh; [ $run = two ] && script=two-joiners.sh
  rm -rf /root/q32-out; mkdir -p /root/q32-out
  /root/interop/$script --arch 32 --out /root/q32-out "${jopts[@]}" "${host[@]}" > /mnt/job/out/$run.txt 2>&1
  echo "$? $(( $(date +%s) - s ))" > /mnt/job/out/$run.status
  cp -r /root/q32-out /mnt/job/out/$run
  echo "== $script --arch 32 ${jopts[*]} (exit $(cut -d' ' -f1 /mnt/job/out/$run.status), $(( $(date +%s) - s )) s)"
  cat /mnt/job/out/$run.txt
done
sync
EOF

# 4. boot the guest. smap=off: QEMU 7.2's emulated IRET back to 32-bit user code reads the user
#    stack as the kernel, so with SMAP every Wine 32-bit process dies in the guest's kernel (an
#    Oops at "pop ds; iret", "supervisor read access in user mode").
log "booting the guest (software emulation, $cpus CPUs, $mem MB; console: $W/out/console.log)"
t0=$(date +%s)
timeout --foreground "$guest_limit" nice qemu-system-x86_64 -machine q35 -accel tcg,thread=multi -cpu max,smap=off \
  -smp "$cpus" -m "$mem" -nographic -no-reboot \
  -kernel "$kernel" -initrd "$initrd" \
  -append "root=/dev/vda rw init=/sbin/q32-init console=ttyS0 loglevel=3 net.ifnames=0 panic=-1" \
  -drive file="$W/disk.img",format=raw,if=virtio,cache=unsafe \
  -netdev user,id=n0 -device virtio-net-pci,netdev=n0 \
  -virtfs local,path="$J",mount_tag=job,security_model=none,id=job \
  < /dev/null > "$J/out/console.log" 2>&1 9>&-
qrc=$?
rm -rf "$W/out"; mv "$J/out" "$W/out"
log "the guest ran $(( $(date +%s) - t0 )) s (qemu exit $qrc)"
[ $qrc -eq 124 ] && log "the guest was stopped after --guest-limit $guest_limit s"
for run in one two; do
  [ -f "$W/out/$run.status" ] || { log "the guest did not finish its $run run; see $W/out/console.log"; exit 1; }
done
cat "$W/out/guest.log" >&2
log "logs: $W/out (one/, two/: the run scripts' folders; guest.log, console.log)"
tail -n 1 "$W/out/one.txt"
tail -n 1 "$W/out/two.txt"
[ "$(cut -d' ' -f1 "$W/out/one.status")" = 0 ] && [ "$(cut -d' ' -f1 "$W/out/two.status")" = 0 ]
