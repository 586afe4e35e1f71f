#!/usr/bin/env python3
"""Measures how much the Ethernet port takes in, as a user would see it.

Builds the Release program (unless --no-build or --program is given), starts
a copy of it on a virtual X server of its own with the Ethernet port chosen,
opens the port with the port button and plays the far side from 127.0.0.1:

  tcp  the port as a TCP server; CLIENTS clients each connect, send 0 to
       20,000 bytes, close their sending side and read until the server
       closes, again and again for SECONDS. Reports the connections and
       bytes taken per second, and the connections that failed (a reset)
       with the bytes they had sent.
  udp  the port as a UDP endpoint; SENDERS senders take turns at each rate
       (datagrams per second in total, 0: as fast as they can) for SECONDS.
       Reports datagrams sent, received and lost (the system's drop count
       at the port's socket) and datagrams received per second.

  scripts/ethernet-bench.py [--only tcp|udp] [--seconds S] [--clients N]
                            [--senders N] [--rates R,R,...] [--program PATH]
                            [--no-build]

The figures depend on the machine and its load: compare runs made on the
same machine. Not a test. Needs Xvfb, xdotool and ss.
"""
import argparse
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The window opens at the top left of the screen (no window manager moves
# it); the port button sits here in its default layout. Whether the click
# opened the port is checked: the program must be listening afterwards.
PORT_BUTTON = (34, 212)
ROLE_UDP, ROLE_TCP_SERVER = 0, 2


def die(text):
    print("ethernet-bench: " + text, file=sys.stderr)
    sys.exit(2)


def build():
    subprocess.run([os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    release = os.path.join(ROOT, "build", "release")
    subprocess.run(["cmake", "-S", ROOT, "-B", release, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", release, "--target", "vostrel", "-j3"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(release, "vostrel")


class Display:
    """An X server of our own; its number comes back through a pipe."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24"],
                                     pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            self.close()
            die("Xvfb did not start")
        self.name = ":" + number

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class Program:
    """A copy of the program in a folder of its own, the Ethernet port in a role."""

    def __init__(self, binary, display, role):
        self.dir = tempfile.mkdtemp(prefix="ethernet-bench-")
        shutil.copy(binary, os.path.join(self.dir, "vostrel"))
        with open(os.path.join(self.dir, "vostrel.ini"), "w", newline="\r\n") as f:
            f.write("[Main]\nLeft=0\nTop=0\nWidth=900\nHeight=600\nCurrentProfile=0\n"
                    "[Config11]\nName=\nPort=257\nAuxParams=257|%d|0.0.0.0|0|0\n" % role)
        self.env = dict(os.environ, DISPLAY=display.name)
        self.proc = subprocess.Popen(["./vostrel"], cwd=self.dir, env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.role = role
        self.port = self._open_port()

    def _listening_port(self):
        kind = "-lunp" if self.role == ROLE_UDP else "-lntp"
        out = subprocess.run(["ss", "-H", kind], capture_output=True, text=True).stdout
        for line in out.splitlines():
            if "pid=%d," % self.proc.pid in line:
                return int(line.split()[3].rsplit(":", 1)[1])
        return 0

    def _open_port(self):
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                die("the program ended at start-up")
            subprocess.run(["xdotool", "mousemove", str(PORT_BUTTON[0]), str(PORT_BUTTON[1]), "click", "1"],
                           env=self.env, stderr=subprocess.DEVNULL)
            for _ in range(10):
                time.sleep(0.1)
                port = self._listening_port()
                if port:
                    return port
        self.close()
        die("the port did not open (has the port button moved from %s?)" % (PORT_BUTTON,))

    def close(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def run_all(peer, count):
    """Runs count peers, each on a thread of its own; the seconds they took."""
    threads = [threading.Thread(target=peer, args=(i,)) for i in range(count)]
    start = time.time()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.time() - start


def tcp_intake(port, clients, seconds):
    lock = threading.Lock()
    totals = {"connections": 0, "bytes": 0, "failed": 0, "lost": 0}
    until = time.time() + seconds
    payload = b"v" * 20000

    def client(seed):
        rnd = random.Random(seed)
        while time.time() < until:
            size = rnd.randint(0, len(payload))
            s = socket.socket()
            ok = True
            try:
                s.connect(("127.0.0.1", port))
                s.sendall(payload[:size])
                s.shutdown(socket.SHUT_WR)
                while s.recv(4096):
                    pass
            except OSError:
                ok = False
            finally:
                s.close()
            with lock:
                totals["connections"] += 1
                if ok:
                    totals["bytes"] += size
                else:
                    totals["failed"] += 1
                    totals["lost"] += size

    elapsed = run_all(client, clients)
    print("tcp  %3d clients %5.1f s: %7d connections (%6.0f/s), %6.2f MB taken (%5.2f MB/s), "
          "%d failed with %d bytes sent"
          % (clients, elapsed, totals["connections"], totals["connections"] / elapsed, totals["bytes"] / 1e6,
             totals["bytes"] / 1e6 / elapsed, totals["failed"], totals["lost"]))


def udp_socket_state(port):
    """The receive queue and the drop count of the UDP socket bound to port."""
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            fields = line.split()
            if int(fields[1].rsplit(":", 1)[1], 16) == port:
                return int(fields[4].split(":")[1], 16), int(fields[-1])
    die("no UDP socket on port %d" % port)


def udp_intake(port, senders, rate, seconds):
    _, drops_before = udp_socket_state(port)
    sent = [0] * senders
    until = time.time() + seconds

    def sender(i):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        per_sender = rate / senders
        start = time.time()
        while True:
            now = time.time()
            if now >= until:
                break
            if per_sender > 0:
                due = int((now - start) * per_sender) + 1 - sent[i]
                if due <= 0:
                    time.sleep(min(0.001, until - now))
                    continue
            else:
                due = 32
            for _ in range(due):
                try:
                    s.sendto(b"U", ("127.0.0.1", port))
                    sent[i] += 1
                except OSError:
                    pass
        s.close()

    elapsed = run_all(sender, senders)
    # What the system kept is read by the program; wait until it has been.
    deadline = time.time() + 30
    while udp_socket_state(port)[0] != 0 and time.time() < deadline:
        time.sleep(0.05)
    time.sleep(0.2)
    queued, drops_after = udp_socket_state(port)
    total = sum(sent)
    lost = drops_after - drops_before
    received = total - lost
    rate_text = "%5d/s" % rate if rate > 0 else "  flood"
    print("udp  %d senders %s %5.1f s: %8d sent, %8d received (%7.0f/s), %8d lost (%5.1f%%)%s"
          % (senders, rate_text, elapsed, total, received, received / elapsed, lost,
             100.0 * lost / total if total else 0, ", some still unread after 30 s" if queued else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", choices=["tcp", "udp"])
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--senders", type=int, default=4)
    parser.add_argument("--rates", default="1000,4000,0")
    parser.add_argument("--program")
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args()

    binary = args.program or (os.path.join(ROOT, "build", "release", "vostrel") if args.no_build else build())
    if not os.access(binary, os.X_OK):
        die(binary + " is missing")
    display = Display()
    try:
        if args.only in (None, "tcp"):
            program = Program(binary, display, ROLE_TCP_SERVER)
            try:
                tcp_intake(program.port, args.clients, args.seconds)
            finally:
                program.close()
        if args.only in (None, "udp"):
            program = Program(binary, display, ROLE_UDP)
            try:
                for rate in (int(r) for r in args.rates.split(",")):
                    udp_intake(program.port, args.senders, rate, args.seconds)
            finally:
                program.close()
    finally:
        display.close()


if __name__ == "__main__":
    main()
