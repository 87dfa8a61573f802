#!/usr/bin/env bash
# `make run`: starts the management stand-in with the example database, the
# simulated appliance with the example scenario, and the daemon in a private
# mount namespace, with a syslog receiver on /dev/log
# that prints every line as it arrives.  While they run, commands typed at the
# "mgmtcli>" prompt go to the stand-in through the command-line client (or,
# from a second terminal, `scripts/cli.sh COMMAND ...`).  Ctrl-C (or "quit")
# ends the daemon with SIGINT, one of its ending signals, then the stand-in;
# the script waits for their last lines and reports the daemon's status.
#
# The namespace keeps the host untouched: /dev is a small tmpfs with the
# usual device nodes bound back from the host, and /tmp, /var/run and /var/opt
# are empty tmpfs mounts holding /tmp/gcl-socks and /var/opt/arx/output.
# Everything disappears with the script.  Needs root (for the namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
daemon=$PWD/build/iptrackd/iptrackd
mgmtd=$PWD/build/sim/mgmtd
appliance=$PWD/build/sim/appliance
cli=$PWD/build/tools/mgmtcli
db=${IPTRACKD_RUN_DB:-$PWD/sim/examples/iptrackd.db}
scenario=${IPTRACKD_RUN_SCENARIO:-$PWD/sim/examples/appliance.scenario}
nsfile=$PWD/build/run-namespace.pid

if [ "${1:-}" != --in-namespace ]; then
    for p in "$daemon" "$mgmtd" "$appliance" "$cli"; do
        if [ ! -x "$p" ]; then
            echo "run: $p is not built (make build)" >&2
            exit 1
        fi
    done
    if [ "$(id -u)" -ne 0 ]; then
        echo "run: needs root for a private mount namespace" >&2
        exit 1
    fi
    exec unshare --mount --propagation private -- bash "$0" --in-namespace
fi

# Inside the namespace.  Hold the binaries and the database open first: the
# mounts below may hide the build tree (one under /tmp, say), and they are
# then reached through their descriptors.  scripts/cli.sh finds the namespace
# through the pid recorded here.
exec 7<"$mgmtd" 8<"$daemon" 6<"$cli" 5<"$db" 9<"$appliance" 4<"$scenario"
echo $$ >"$nsfile"

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

# The stand-in first, then the appliance (its tables published and its peers
# ready), then the daemon.  Each in its own session, so that Ctrl-C reaches
# them only through the trap below.
cp /proc/self/fd/5 /tmp/iptrackd.db
cp /proc/self/fd/4 /tmp/appliance.scenario
exec 5<&- 4<&-
setsid /proc/self/fd/7 -l notice /tmp/iptrackd.db &
mgmtd_pid=$!
for _ in $(seq 100); do
    [ -S /tmp/gcl-socks/uds-provider-mgmtd ] && break
    sleep 0.05
done
cp /proc/self/fd/6 /tmp/mgmtcli
setsid /proc/self/fd/9 -l notice /tmp/appliance.scenario &
appliance_pid=$!
for _ in $(seq 100); do
    # The appliance answers its own actions only once it is ready.
    /tmp/mgmtcli appliance peers >/dev/null 2>&1 && break
    sleep 0.05
done
setsid /proc/self/fd/8 &
pid=$!
exec 7<&- 8<&- 9<&-
exec 6<&-

stop() { kill -INT "$pid" 2>/dev/null || true; }
trap stop INT TERM
echo "run: mgmtd stand-in (pid $mgmtd_pid), appliance (pid $appliance_pid) and iptrackd (pid $pid) started"
echo "run: type mgmtcli commands (get, iterate NAME subtree, set NAME TYPE VALUE, delete, action, journal,"
echo "run: appliance [TABLE], appliance interface down IF ...);"
echo "run: Ctrl-C or quit stops everything; from another terminal: scripts/cli.sh COMMAND ..."
set +e
if [ -t 0 ]; then
    while kill -0 "$pid" 2>/dev/null; do
        read -r -e -p "mgmtcli> " line || { stop; break; }
        case "$line" in
            "") ;;
            quit|exit) stop; break ;;
            *) eval "/tmp/mgmtcli $line" ;;
        esac
    done
fi
wait "$pid"
status=$?
while kill -0 "$pid" 2>/dev/null; do
    wait "$pid"
    status=$?
done
kill -TERM "$appliance_pid" 2>/dev/null || true
wait "$appliance_pid" 2>/dev/null
kill -TERM "$mgmtd_pid" 2>/dev/null || true
wait "$mgmtd_pid" 2>/dev/null
set -e
sleep 0.2
kill "$receiver" 2>/dev/null || true
wait "$receiver" 2>/dev/null || true
rm -f "$nsfile"
echo "run: iptrackd ended with status $status"
