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
  fdlimit  the port as a TCP server in a program allowed only FDLIMIT open
       files; FDCLIENTS idle clients connect at once. Reports how many were
       accepted, whether the port kept listening, how many clients the
       program dropped, its CPU use while the rest wait, and whether the
       waiting ones come in when accepted ones leave.
  noreader the port as a TCP server whose one client does not read while a
       plug-in sends it 20,000 lines of 1,996 bytes (1 ms apart every ten).
       Reports what arrived once the client reads: whole and cut lines.
  file the port as a TCP server; a client that reads as fast as it can
       while Send Binary File... sends a file of FILEMB MB. Reports the bytes
       received, whether they are the file's, and the rate.

  scripts/ethernet-bench.py [--only tcp|udp|fdlimit|noreader|file]
                            [--seconds S] [--clients N] [--senders N]
                            [--rates R,R,...] [--fdlimit N] [--fdclients N]
                            [--filemb N] [--program PATH] [--no-build]

The figures depend on the machine and its load: compare runs made on the
same machine. Not a test. Needs Xvfb, xdotool and ss.
"""
import argparse
import os
import random
import resource
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
# The "..." button beside Transmit, whose menu sends files (third entry:
# Send Binary File...), in the same layout.
FILE_MENU_BUTTON = (248, 72)
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

    def __init__(self, binary, display, role, fdlimit=0, plugin=None):
        self.dir = tempfile.mkdtemp(prefix="ethernet-bench-")
        shutil.copy(binary, os.path.join(self.dir, "vostrel"))
        plug_path = ""
        if plugin:
            plug_path = os.path.join(self.dir, "bench.pas")
            with open(plug_path, "w") as f:
                f.write(plugin)
        with open(os.path.join(self.dir, "vostrel.ini"), "w", newline="\r\n") as f:
            f.write("[Main]\nLeft=0\nTop=0\nWidth=900\nHeight=600\nCurrentProfile=0\n"
                    "[Config11]\nName=\nPort=257\nAuxParams=257|%d|0.0.0.0|0|0\nPlugPath=%s\n" % (role, plug_path))
        self.env = dict(os.environ, DISPLAY=display.name)

        def limit_files():
            if fdlimit:
                resource.setrlimit(resource.RLIMIT_NOFILE, (fdlimit, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))

        self.proc = subprocess.Popen(["./vostrel"], cwd=self.dir, env=self.env, preexec_fn=limit_files,
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

    def sockets(self):
        """Sockets the program has open."""
        fd_dir = "/proc/%d/fd" % self.proc.pid
        count = 0
        for name in os.listdir(fd_dir):
            try:
                count += os.readlink(os.path.join(fd_dir, name)).startswith("socket:")
            except OSError:
                pass
        return count

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

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


def fd_limit(binary, display, fdlimit, clients):
    program = Program(binary, display, ROLE_TCP_SERVER, fdlimit=fdlimit)
    try:
        base = program.sockets()
        peers = []
        for _ in range(clients):
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", program.port))
            peers.append(s)
        time.sleep(2)
        accepted = program.sockets() - base
        cpu = program.cpu_seconds()
        time.sleep(2)
        cpu_share = (program.cpu_seconds() - cpu) / 2
        listening = program._listening_port() == program.port

        def dropped():
            n = 0
            for s in peers:
                try:
                    if s.recv(1) == b"":
                        n += 1
                except BlockingIOError:
                    pass
                except OSError:
                    n += 1
            return n

        dropped_then = dropped()
        # The first ones to come were taken first: 50 of them leave.
        for s in peers[:50]:
            s.close()
        peers = peers[50:]
        time.sleep(1.5)
        after_leave = program.sockets() - base
        print("fdlimit %d: %d clients: %d accepted, port %s, %d dropped by the program, CPU %.1f%% while "
              "the rest wait; 50 accepted ones leave: %d accepted (%d waiting ones came in)"
              % (fdlimit, clients, accepted, "listening" if listening else "CLOSED", dropped_then,
                 100 * cpu_share, after_leave, after_leave - (accepted - 50)))
        for s in peers:
            s.close()
    finally:
        program.close()


NO_READER_PLUGIN = """
procedure OnReceive;
var i, sent: Integer; line: string;
begin
  if Pos('go', RD) = 0 then Exit;
  RD := '';
  line := '';
  for i := 1 to 1994 do line := line + 'x';
  line := line + #13#10;
  sent := 0;
  for i := 1 to 20000 do
  begin
    sent := sent + Send(line);
    if i mod 10 = 0 then NBSleep(1);
  end;
  AddMsg('sent ' + IntToStr(sent));
end;
"""


def no_reader(binary, display):
    program = Program(binary, display, ROLE_TCP_SERVER, plugin=NO_READER_PLUGIN)
    try:
        s = socket.create_connection(("127.0.0.1", program.port))
        s.sendall(b"go")
        time.sleep(1)
        # The plug-in sends for a while; the client does not read until the
        # program has gone quiet.
        deadline = time.time() + 120
        last = program.cpu_seconds()
        while time.time() < deadline:
            time.sleep(1)
            now = program.cpu_seconds()
            if now - last < 0.05:
                break
            last = now
        s.settimeout(3)
        got = bytearray()
        try:
            while True:
                chunk = s.recv(1 << 20)
                if not chunk:
                    break
                got += chunk
        except socket.timeout:
            pass
        s.close()
        lines = bytes(got).split(b"\r\n")
        tail = lines.pop()
        whole = sum(1 for line in lines if line == b"x" * 1994)
        cut = len(lines) - whole + (1 if tail else 0)
        print("noreader: 20000 lines offered (%.1f MB): %.1f MB arrived, %d whole lines, %d cut, "
              "%d not sent (told in the panel)"
              % (20000 * 1996 / 1e6, len(got) / 1e6, whole, cut, 20000 - whole - cut))
    finally:
        program.close()


def file_send(binary, display, megabytes):
    program = Program(binary, display, ROLE_TCP_SERVER)
    data = os.urandom(megabytes * 1000 * 1000)
    path = os.path.join(program.dir, "big.bin")
    with open(path, "wb") as f:
        f.write(data)
    try:
        s = socket.create_connection(("127.0.0.1", program.port))
        got = bytearray()
        stop = threading.Event()
        times = []

        def reader():
            s.settimeout(0.5)
            while not stop.is_set():
                try:
                    chunk = s.recv(1 << 20)
                except socket.timeout:
                    continue
                if not chunk:
                    break
                if not got:
                    times.append(time.time())
                got.extend(chunk)
                if len(got) >= len(data):
                    times.append(time.time())
                    break

        t = threading.Thread(target=reader)
        t.start()
        time.sleep(0.5)
        env = program.env
        subprocess.run(["xdotool", "mousemove", str(FILE_MENU_BUTTON[0]), str(FILE_MENU_BUTTON[1]), "click", "1"],
                       env=env)
        time.sleep(0.5)
        subprocess.run(["xdotool", "key", "Down", "Down", "Down", "Return"], env=env)
        time.sleep(1)
        subprocess.run(["xdotool", "type", "--delay", "5", path], env=env)
        subprocess.run(["xdotool", "key", "Return"], env=env)
        deadline = time.time() + 120
        while t.is_alive() and time.time() < deadline:
            t.join(0.5)
        stop.set()
        t.join()
        s.close()
        rate = len(got) / 1e6 / (times[-1] - times[0]) if len(times) == 2 else 0
        print("file %d MB to a fast reader: %d of %d bytes received, %s, %.1f MB/s"
              % (megabytes, len(got), len(data), "the file's bytes" if bytes(got) == data else "NOT the file",
                 rate))
    finally:
        program.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--only", choices=["tcp", "udp", "fdlimit", "noreader", "file"])
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--senders", type=int, default=4)
    parser.add_argument("--rates", default="1000,4000,0")
    parser.add_argument("--fdlimit", type=int, default=256)
    parser.add_argument("--fdclients", type=int, default=400)
    parser.add_argument("--filemb", type=int, default=50)
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
        if args.only in (None, "fdlimit"):
            fd_limit(binary, display, args.fdlimit, args.fdclients)
        if args.only in (None, "noreader"):
            no_reader(binary, display)
        if args.only in (None, "file"):
            file_send(binary, display, args.filemb)
    finally:
        display.close()


if __name__ == "__main__":
    main()
