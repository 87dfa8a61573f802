#!/usr/bin/env bash
# `make run`: starts the daemon in a private mount namespace, with a syslog
# receiver on /dev/log that prints every line as it arrives.  Ctrl-C ends the
# daemon with SIGINT (one of its ending signals); the script waits for its
# last lines and reports its exit status.
#
# The namespace keeps the host untouched: /dev is a small tmpfs with the
# usual device nodes bound back from the host, and /tmp, /var/run and /var/opt
# are empty tmpfs mounts holding /tmp/gcl-socks and /var/opt/arx/output.
# Everything disappears with the script.  Needs root (for the namespace).
#
# The stand-ins for the management daemon and the peers join here when they
# exist; until then the daemon runs alone.
set -euo pipefail
cd "$(dirname "$0")/.."
daemon=$PWD/build/iptrackd/iptrackd

if [ "${1:-}" != --in-namespace ]; then
    if [ ! -x "$daemon" ]; then
        echo "run: $daemon is not built (make build)" >&2
        exit 1
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "run: needs root for a private mount namespace" >&2
        exit 1
    fi
    exec unshare --mount --propagation private -- bash "$0" --in-namespace
fi

# Inside the namespace.  Hold the binary open first: the mounts below may
# hide the build tree (one under /tmp, say), and it is then run through the
# descriptor.
exec 8<"$daemon"

mount -t tmpfs -o mode=755 tmpfs /var/opt
mkdir -p /var/opt/arx/output /var/opt/.hostdev
mount --rbind /dev /var/opt/.hostdev
mount -t tmpfs -o mode=755,size=1m tmpfs /dev
for n in null zero full random urandom tty; do
    [ -e "/var/opt/.hostdev/$n" ] || continue
    touch "/dev/$n"
    mount --bind "/var/opt/.hostdev/$n" "/dev/$n"
done
mkdir /dev/pts /dev/shm
mount --rbind /var/opt/.hostdev/pts /dev/pts
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
ln -s pts/ptmx /dev/ptmx
umount -l /var/opt/.hostdev
rmdir /var/opt/.hostdev
mount -t tmpfs -o mode=1777 tmpfs /tmp
mkdir /tmp/gcl-socks
mount -t tmpfs -o mode=755 tmpfs /var/run

# The syslog receiver: one line per datagram, without the priority.  It
# ignores Ctrl-C so that the daemon's last lines still reach the screen.
perl -MSocket -e '
    $SIG{INT} = "IGNORE";
    socket(my $s, PF_UNIX, SOCK_DGRAM, 0) or die "socket: $!\n";
    bind($s, pack_sockaddr_un("/dev/log")) or die "bind /dev/log: $!\n";
    chmod 0666, "/dev/log";
    $| = 1;
    while (defined(recv($s, my $d, 65536, 0))) {
        $d =~ s/^<\d+>//;
        $d =~ s/\n$//;
        print "$d\n";
    }' &
receiver=$!
for _ in $(seq 100); do
    [ -S /dev/log ] && break
    sleep 0.05
done

# In its own session, so that Ctrl-C reaches it once, from the trap below.
setsid /proc/self/fd/8 &
pid=$!
exec 8<&-
echo "run: iptrackd started (pid $pid); Ctrl-C stops it"

trap 'kill -INT "$pid" 2>/dev/null || true' INT TERM
set +e
wait "$pid"
status=$?
while kill -0 "$pid" 2>/dev/null; do
    wait "$pid"
    status=$?
done
set -e
sleep 0.2
kill "$receiver" 2>/dev/null || true
wait "$receiver" 2>/dev/null || true
echo "run: iptrackd ended with status $status"
