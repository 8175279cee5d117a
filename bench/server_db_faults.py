#!/usr/bin/env python3
"""The caster with its PostgreSQL server frozen (SIGSTOP) and stopped, under a relay of rovers that
send GGA: the longest any relayed record waited, the time to answer a login during the freeze, and the
time SIGTERM takes with a backlog of queued positions, the server reachable and unreachable.

Starts a throw-away PostgreSQL cluster of its own (as user postgres when run as root) on a free
loopback port, the caster on a temporary directory, and the load tool; stops and removes everything
it started, by PID. Loopback only; bounded in time.

  python3 bench/server_db_faults.py [--binary build/KavroServer] [--load-tool build/ntrip_load]
      [--rovers 500] [--freeze 15]
"""
import argparse
import base64
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

from loopback import free_port, listening

PG_BIN = "/usr/lib/postgresql/15/bin"




class Postgres:
    """A cluster in a temporary directory; its processes can be frozen and thawed together."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kavro-bench-pg-")
        self.port = free_port()
        self.run = []
        if os.geteuid() == 0:
            shutil.chown(self.dir, "postgres")
            self.run = ["runuser", "-u", "postgres", "--"]
        data = os.path.join(self.dir, "data")
        subprocess.run(self.run + [f"{PG_BIN}/initdb", "-D", data, "-U", "postgres", "-A", "trust", "-E", "UTF8",
                                   "--no-locale", "--no-sync"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(self.run + [f"{PG_BIN}/pg_ctl", "-D", data, "-l", os.path.join(self.dir, "log"), "-w", "-s",
                                   "start", "-o", f"-p {self.port} -k {self.dir} -c listen_addresses=127.0.0.1"],
                       check=True)
        with open(os.path.join(data, "postmaster.pid")) as f:
            self.pid = int(f.readline())

    def processes(self):
        """The postmaster and every process it started."""
        found = [self.pid]
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        if int(f.read().rsplit(")", 1)[1].split()[1]) == self.pid:
                            found.append(int(entry))
                except (OSError, ValueError, IndexError):
                    pass
        return found

    def signal_all(self, number):
        for pid in self.processes():
            try:
                os.kill(pid, number)
            except ProcessLookupError:
                pass

    def sql(self, text):
        out = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", "postgres", "-d", "kavro",
                              "-Atc", text], capture_output=True, text=True)
        return out.stdout.strip()

    def close(self):
        self.signal_all(signal.SIGCONT)
        subprocess.run(self.run + [f"{PG_BIN}/pg_ctl", "-D", os.path.join(self.dir, "data"), "-m", "immediate", "-s",
                                   "stop"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)


class Caster:
    def __init__(self, binary, pg_port, work):
        self.port = free_port()
        os.makedirs(os.path.join(work, "INI"))
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={self.port}\n[SQL]\nUseSQL=1\nIP=127.0.0.1\nPORT={pg_port}\n"
                    f"User=postgres\nPassword=\nDBname=kavro\nTimeout=3\n")
        self.output_path = os.path.join(work, "output.txt")
        self.output = open(self.output_path, "w")
        self.process = subprocess.Popen([binary, "--dir", work], stdout=self.output, stderr=subprocess.STDOUT)
        end = time.monotonic() + 10
        while not listening(self.port):
            if self.process.poll() is not None or time.monotonic() > end:
                sys.exit("the caster did not start listening")
            time.sleep(0.05)
        while "OpenDBSQL" not in open(self.output_path).read():
            if time.monotonic() > end:
                sys.exit("the caster did not open the server database")
            time.sleep(0.05)

    def terminate(self):
        """SIGTERM; seconds until the process ended."""
        started = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.output.close()
        return time.monotonic() - started

    def lines(self, text):
        return [line.rstrip() for line in open(self.output_path) if text in line]


def timed_login(port, user):
    """Seconds from a GET to the end of its reply header."""
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), 5) as s:
        s.settimeout(30)
        credentials = base64.b64encode(f"{user}:pw".encode()).decode()
        s.sendall(f"GET /LOAD0 HTTP/1.0\r\nUser-Agent: NTRIP bench\r\nAuthorization: Basic {credentials}\r\n\r\n"
                  .encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            block = s.recv(4096)
            if not block:
                break
            reply += block
    return time.monotonic() - started, reply.split(b"\r\n", 1)[0].decode(errors="replace")


def start_load(args, port, duration):
    command = [args.load_tool, "--json", "--port", str(port), "--rovers", str(args.rovers), "--gga",
               "--duration", str(duration), "--rate", "1024", "--chunk", "256", "--parallel", "32"]
    return subprocess.Popen(command, stdout=subprocess.PIPE, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--rovers", type=int, default=500)
    parser.add_argument("--freeze", type=float, default=15)
    args = parser.parse_args()
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    pg = Postgres()
    try:
        subprocess.run(["createdb", "-h", "127.0.0.1", "-p", str(pg.port), "-U", "postgres", "kavro"], check=True)
        # 1. A freeze under load: the relay and a login during it.
        with tempfile.TemporaryDirectory(prefix="kavro-bench-") as work:
            caster = Caster(args.binary, pg.port, work)
            load = start_load(args, caster.port, args.freeze + 10)
            time.sleep(5)
            pg.signal_all(signal.SIGSTOP)
            time.sleep(1)
            login_seconds, login_reply = timed_login(caster.port, "freeze")
            time.sleep(max(0.0, args.freeze - 1 - login_seconds))
            pg.signal_all(signal.SIGCONT)
            result = json.loads(load.stdout.read())
            load.wait()
            stop_seconds = caster.terminate()
            lat = result["latencyMs"]
            print(f"freeze of {args.freeze:g} s under {args.rovers} rovers sending GGA at 1 Hz, 1 KiB/s in four "
                  f"frames: delivered {result['recordsDelivered']} of {result['recordsExpected']}, latency p50 "
                  f"{lat['p50']:.1f} ms, p99 {lat['p99']:.1f} ms, max {lat['max']:.1f} ms")
            print(f"login during the freeze answered after {login_seconds:.2f} s: {login_reply}")
            print(f"SIGTERM after the freeze: exit in {stop_seconds:.2f} s; positions stored: "
                  f"{pg.sql('select count(*) from SER_Position')}")
        # 2. and 3. SIGTERM with a backlog queued while the server was frozen: thawed at the same moment,
        # and left frozen (unreachable).
        for thaw in (True, False):
            with tempfile.TemporaryDirectory(prefix="kavro-bench-") as work:
                before = int(pg.sql("select count(*) from SER_Position") or 0)
                caster = Caster(args.binary, pg.port, work)
                load = start_load(args, caster.port, args.freeze + 5)
                time.sleep(3)
                pg.signal_all(signal.SIGSTOP)
                time.sleep(args.freeze)
                if thaw:
                    pg.signal_all(signal.SIGCONT)
                stop_seconds = caster.terminate()
                load.wait()
                pg.signal_all(signal.SIGCONT)
                stored = int(pg.sql("select count(*) from SER_Position") or 0) - before
                lost = caster.lines("lost")
                print(f"SIGTERM with {args.freeze:g} s of positions queued, server "
                      f"{'thawed at that moment' if thaw else 'still frozen'}: exit in {stop_seconds:.2f} s; "
                      f"positions stored by this run {stored}" + (f"; {lost[-1]}" if lost else ""))
    finally:
        pg.close()


if __name__ == "__main__":
    main()
