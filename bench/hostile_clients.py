#!/usr/bin/env python3
"""Hostile clients: how the caster holds up against floods while it serves real rovers.

For each scenario a fresh caster starts on a temporary program directory and a free loopback port.
A watcher process (this script with --watch) plays one source on WATCH sending a 100-byte record
every 50 ms to a few watched rovers, which note the longest gap between records, the longest
delay from the source's write to their read, and every record lost. Once the rovers receive, the
scenario's attackers run for their bounded time from 127.0.0.2 (so that per-address limits, when
set with --limits, meet only them), while the script samples the caster's CPU, peak memory
(VmHWM) and open descriptors. Then the caster is stopped by its PID and the next scenario starts.

Scenarios:
  baseline     no attackers, for the noise floor of the machine
  idle         5,000 connections that never send, held, then all closed at once
  bytewise     100 clients sending their requests one byte at a time
  headerflood  200 clients sending endless 8 KiB blocks of header lines without the blank line
  slowloris    1,000 clients sending one header line every 5 s
  nonreading   200 rovers on a mountpoint fed at 50 KB/s that never read
  noise        one source sending 50 MB/s of random bytes
  storm        1,000 connects a second for 10 s, each sending a rover request and closing

Goals for the watched rovers: longest gap under 200 ms, no record lost. Loopback only; every
scenario ends by itself; the caster is stopped by its PID.

  python3 bench/hostile_clients.py [--binary build/KavroServer] [--only idle,storm]
      [--seconds 15] [--limits MAXPERIP,MAXCONNECTSPERIP]
"""
import argparse
import base64
import errno
import json
import os
import re
import resource
import selectors
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

from loopback import free_port, listening

RECORD = 100  # bytes per watched record
INTERVAL = 0.05  # seconds between watched records
MAGIC = b"\xd3KVR"
ATTACKER = "127.0.0.2"
IP_BIND_ADDRESS_NO_PORT = 24  # choose the port at connect, so that many binds share the address
AGENT = "NTRIP Hostile/1.0"


def rover_request(mount, user):
    auth = base64.b64encode(f"{user}:pw".encode()).decode()
    return (f"GET /{mount} HTTP/1.0\r\nUser-Agent: {AGENT}\r\n"
            f"Authorization: Basic {auth}\r\n\r\n").encode()


def source_request(mount):
    return f"SOURCE load /{mount}\r\nSource-Agent: {AGENT}\r\n\r\n".encode()


# ---------------------------------------------------------------- watcher (its own process)

def watch(port, rovers):
    """Source and watched rovers; runs until stdin closes, then prints a JSON summary."""
    sel = selectors.DefaultSelector()
    source = socket.create_connection(("127.0.0.1", port), 5)
    source.sendall(source_request("WATCH"))
    reply = b""
    while b"\r\n" not in reply:
        part = source.recv(4096)
        if not part:
            sys.exit("watcher: the source was refused")
        reply += part
    if not reply.startswith(b"ICY 200"):
        sys.exit(f"watcher: the source was refused: {reply[:60]!r}")
    source.setblocking(False)
    watched = []
    for i in range(rovers):
        s = socket.create_connection(("127.0.0.1", port), 5)
        s.sendall(rover_request("WATCH", f"watch{i}"))
        s.setblocking(False)
        state = {"sock": s, "buf": b"", "synced": False, "first": None, "last": None, "got": 0,
                 "lastAt": None, "maxGap": 0.0, "maxDelay": 0.0, "closed": False}
        watched.append(state)
        sel.register(s, selectors.EVENT_READ, state)
    sel.register(sys.stdin, selectors.EVENT_READ, None)

    seq = 0
    start = time.monotonic()
    stop_at = None
    ready_said = False
    pending = b""
    while True:
        now = time.monotonic()
        if stop_at is None:
            while start + seq * INTERVAL <= now:
                body = MAGIC + struct.pack("<Id", seq, time.monotonic())
                pending += body + bytes(RECORD - len(body))
                seq += 1
        if pending:
            try:
                n = source.send(pending)
                pending = pending[n:]
            except BlockingIOError:
                pass
        if stop_at is not None and now >= stop_at:
            break
        timeout = max(0.0, start + seq * INTERVAL - now) if stop_at is None else 0.05
        for key, _ in sel.select(timeout):
            if key.data is None:
                if not os.read(sys.stdin.fileno(), 4096):
                    sel.unregister(sys.stdin)
                    stop_at = time.monotonic() + 1.0  # the last records drain
                continue
            r = key.data
            try:
                data = r["sock"].recv(65536)
            except BlockingIOError:
                continue
            except OSError:
                data = b""
            if not data:
                r["closed"] = True
                sel.unregister(r["sock"])
                continue
            r["buf"] += data
            if not r["synced"]:
                at = r["buf"].find(MAGIC)
                if at < 0:
                    continue
                r["buf"] = r["buf"][at:]
                r["synced"] = True
            arrived = time.monotonic()
            while len(r["buf"]) >= RECORD:
                record, r["buf"] = r["buf"][:RECORD], r["buf"][RECORD:]
                number, sent = struct.unpack_from("<Id", record, len(MAGIC))
                if r["first"] is None:
                    r["first"] = number
                r["last"] = number
                r["got"] += 1
                r["maxDelay"] = max(r["maxDelay"], arrived - sent)
                if r["lastAt"] is not None and arrived - r["lastAt"] > r["maxGap"]:
                    r["maxGap"] = arrived - r["lastAt"]
                    r["maxGapEnd"] = arrived
                r["lastAt"] = arrived
        if not ready_said and all(r["got"] > 0 for r in watched):
            print("ready", flush=True)
            ready_said = True
    summary = {"maxGapMs": 0.0, "maxDelayMs": 0.0, "lost": 0, "received": 0, "closed": 0, "maxGapEnd": 0.0}
    for r in watched:
        expected = seq - r["first"] if r["first"] is not None else seq
        summary["lost"] += expected - r["got"]
        summary["received"] += r["got"]
        summary["closed"] += r["closed"]
        if 1000 * r["maxGap"] > summary["maxGapMs"]:
            summary["maxGapMs"] = 1000 * r["maxGap"]
            summary["maxGapEnd"] = r.get("maxGapEnd", 0.0)
        summary["maxDelayMs"] = max(summary["maxDelayMs"], 1000 * r["maxDelay"])
    print(json.dumps(summary), flush=True)


# ---------------------------------------------------------------- caster process

def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def status_kib(pid, key):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_queue_wait(pid):
    """Seconds the process's threads were ready to run but waited for a CPU (other load)."""
    total = 0
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[1])
    except OSError:
        pass
    return total / 1e9


def open_fds(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return 0


class Caster:
    def __init__(self, binary, work, limits, settings="", sections=""):
        """settings: more [SYSTEMSERVER] lines (read before PORT2); sections: more sections at the end."""
        self.port = free_port()
        os.makedirs(os.path.join(work, "INI"), exist_ok=True)
        extra = ""
        if limits:
            extra = f"MaxPerIP={limits[0]}\nMaxConnectsPerIP={limits[1]}\n"
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={self.port}\n{settings}PORT2=0\n{extra}[MONITOR]\nPORT=0\n{sections}")
        self.output_path = os.path.join(work, "caster-output.txt")
        self.output = open(self.output_path, "w")
        _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        self.process = subprocess.Popen(
            [binary, "--dir", work], stdout=self.output, stderr=subprocess.STDOUT,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard)))
        end = time.monotonic() + 15
        while not listening(self.port):
            if self.process.poll() is not None or time.monotonic() > end:
                self.stop()
                sys.exit("the caster did not start listening")
            time.sleep(0.05)

    @property
    def pid(self):
        return self.process.pid

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.close()

    def log_lines(self, text):
        with open(self.output_path, errors="replace") as f:
            return sum(text in line for line in f)

    def close_reasons(self):
        """Close reason code -> connections the log shows closed with it."""
        counts = {}
        with open(self.output_path, errors="replace") as f:
            for line in f:
                found = re.search(r"\{(\d+)\}\s*$", line)
                if found:
                    counts[found.group(1)] = counts.get(found.group(1), 0) + 1
        return counts


# ---------------------------------------------------------------- attackers

class Crowd:
    """Non-blocking attacker connections from ATTACKER on one selector, with counts of what happened."""

    def __init__(self, port):
        self.port = port
        self.sel = selectors.DefaultSelector()
        self.socks = {}
        self.counts = {"connects": 0, "connectFailed": 0, "closedByCaster": 0, "answers": 0, "bytesSent": 0}
        self.marks = {}  # phase name -> monotonic time it began

    def connect(self, on_ready, state=None, receive_buffer=0):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)  # before the window is agreed
        s.setsockopt(socket.SOL_IP, IP_BIND_ADDRESS_NO_PORT, 1)
        s.setblocking(False)
        try:
            s.bind((ATTACKER, 0))
            err = s.connect_ex(("127.0.0.1", self.port))
        except OSError:
            s.close()
            self.counts["connectFailed"] += 1
            return None
        if err not in (0, errno.EINPROGRESS):
            s.close()
            self.counts["connectFailed"] += 1
            return None
        entry = {"sock": s, "connected": False, "on_ready": on_ready, "state": state or {}, "out": b"",
                 "got": b""}
        self.socks[s.fileno()] = entry
        self.sel.register(s, selectors.EVENT_WRITE, entry)
        return entry

    def send(self, entry, data):
        entry["out"] += data
        self._flush(entry)

    def _flush(self, entry):
        s = entry["sock"]
        if entry["out"] and entry["connected"]:
            try:
                n = s.send(entry["out"])
                entry["out"] = entry["out"][n:]
                self.counts["bytesSent"] += n
            except BlockingIOError:
                pass
            except OSError:
                self.drop(entry, by_caster=True)
                return
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if entry["out"] else 0)
        if s.fileno() in self.socks:
            self.sel.modify(s, events, entry)

    def drop(self, entry, by_caster=False):
        s = entry["sock"]
        if s.fileno() in self.socks:
            del self.socks[s.fileno()]
            self.sel.unregister(s)
            if by_caster:
                self.counts["closedByCaster"] += 1
            s.close()

    def close_all(self):
        for entry in list(self.socks.values()):
            self.drop(entry)

    def poll(self, timeout, on_data=None):
        for key, mask in self.sel.select(timeout):
            entry = key.data
            s = entry["sock"]
            if not entry["connected"]:
                if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) != 0:
                    self.counts["connectFailed"] += 1
                    self.drop(entry)
                    continue
                entry["connected"] = True
                self.counts["connects"] += 1
                self._flush(entry)
                if entry["on_ready"]:
                    entry["on_ready"](entry)
                continue
            if mask & selectors.EVENT_READ:
                try:
                    data = s.recv(65536)
                except (BlockingIOError, InterruptedError):
                    data = None
                except OSError:
                    data = b""
                if data == b"":
                    self.drop(entry, by_caster=True)
                    continue
                if data:
                    if not entry["got"]:
                        self.counts["answers"] += 1
                    entry["got"] = (entry["got"] + data)[-256:]
                    if on_data:
                        on_data(entry, data)
            if mask & selectors.EVENT_WRITE and s.fileno() in self.socks:
                self._flush(entry)


def run_for(crowd, seconds, step, on_data=None):
    """Runs the crowd for seconds, calling step(now) between polls."""
    end = time.monotonic() + seconds
    while (now := time.monotonic()) < end:
        step(now)
        crowd.poll(0.005, on_data)


def scenario_idle(crowd, seconds):
    target = 5000
    opened = 0
    def step(now):
        nonlocal opened
        while opened < target and len(crowd.socks) < target and opened < 500 * (1 + int((now - t0) * 10)):
            crowd.connect(None)
            opened += 1
    t0 = time.monotonic()
    cpu0 = crowd.caster_cpu()
    run_for(crowd, seconds - 2, step)
    held = sum(1 for e in crowd.socks.values() if e["connected"])
    cpu1 = crowd.caster_cpu()
    crowd.marks["close"] = time.monotonic()
    crowd.close_all()
    run_for(crowd, 2, lambda now: None)
    cpu2 = crowd.caster_cpu()
    return (f"held {held} idle connections, closed by caster {crowd.counts['closedByCaster']}; caster CPU "
            f"{1000 * (cpu1 - cpu0):.0f} ms for the accepts, {1000 * (cpu2 - cpu1):.0f} ms for the closes")


def scenario_baseline(crowd, seconds):
    run_for(crowd, seconds, lambda now: None)
    return "no attackers: the machine's noise floor"


def scenario_bytewise(crowd, seconds):
    request = rover_request("NOPE", "slow")
    clients = 100
    def ready(entry):
        entry["state"]["at"] = 0
    def step(now):
        while len(crowd.socks) < clients:
            crowd.connect(ready)
        for entry in list(crowd.socks.values()):
            st = entry["state"]
            if entry["connected"] and "at" in st and st["at"] < len(request) and now >= st.get("next", 0):
                crowd.send(entry, request[st["at"]:st["at"] + 1])
                st["at"] += 1
                st["next"] = now + 0.02
    run_for(crowd, seconds, step)
    done = crowd.counts["answers"]
    crowd.close_all()
    return f"{crowd.counts['connects']} connects, {done} requests complete and answered"


def scenario_headerflood(crowd, seconds):
    block = b"GET /WATCH HTTP/1.0\r\n"
    line = b"X-Flood: " + b"a" * 60 + b"\r\n"
    flood = line * (8192 // len(line))
    clients = 200
    def ready(entry):
        crowd.send(entry, block)
    def step(now):
        while len(crowd.socks) < clients:
            crowd.connect(ready)
        for entry in list(crowd.socks.values()):
            if entry["connected"] and not entry["out"]:
                crowd.send(entry, flood)
    run_for(crowd, seconds, step)
    sent = crowd.counts["bytesSent"]
    crowd.close_all()
    return (f"{crowd.counts['connects']} connects, {sent / 1e6:.0f} MB taken, closed by caster "
            f"{crowd.counts['closedByCaster']}")


def scenario_slowloris(crowd, seconds):
    clients = 1000
    def ready(entry):
        crowd.send(entry, b"GET /WATCH HTTP/1.0\r\n")
        entry["state"]["next"] = time.monotonic() + 5
    def step(now):
        while len(crowd.socks) < clients and crowd.counts["connects"] + crowd.counts["connectFailed"] < 20000:
            if crowd.connect(ready) is None:
                break
        for entry in list(crowd.socks.values()):
            st = entry["state"]
            if "next" in st and now >= st["next"]:
                crowd.send(entry, b"X-Slow: 1\r\n")
                st["next"] = now + 5
    run_for(crowd, seconds, step)
    held = len(crowd.socks)
    crowd.close_all()
    return f"{held} held open, closed by caster {crowd.counts['closedByCaster']}"


def scenario_nonreading(crowd, seconds):
    rovers = 200
    source = crowd.connect(None)
    crowd.send(source, source_request("HOSE"))
    run_for(crowd, 0.5, lambda now: None)
    for i in range(rovers):
        e = crowd.connect(None, receive_buffer=4096)
        if e is not None:
            crowd.send(e, rover_request("HOSE", f"deaf{i}"))
    # Once answered, a rover is taken off the selector and never read again.
    deaf = {id(e) for e in crowd.socks.values() if e is not source}
    chunk = os.urandom(1000)
    t0 = time.monotonic()
    sent = 0
    def step(now):
        nonlocal sent
        while sent < (now - t0) * 50_000 and source["sock"].fileno() in crowd.socks:
            crowd.send(source, chunk)
            sent += len(chunk)
    def on_data(entry, data):
        if id(entry) in deaf and not entry["state"].get("muted"):
            entry["state"]["muted"] = True
            crowd.sel.unregister(entry["sock"])
            del crowd.socks[entry["sock"].fileno()]
            muted.append(entry)
    muted = []
    run_for(crowd, seconds, step, on_data)
    for e in muted:
        e["sock"].close()
    alive = source["sock"].fileno() in crowd.socks
    crowd.close_all()
    return f"{len(muted)} deaf rovers answered, source {'kept' if alive else 'closed'}, {sent / 1e3:.0f} kB sent"


def scenario_noise(crowd, seconds):
    source = crowd.connect(None)
    crowd.send(source, source_request("NOISE"))
    run_for(crowd, 0.5, lambda now: None)
    block = os.urandom(65536)
    t0 = time.monotonic()
    def step(now):
        # Until the kernel takes no more or the rate is reached: the poll between steps may wait.
        while source["sock"].fileno() in crowd.socks and not source["out"] and \
                crowd.counts["bytesSent"] < (now - t0) * 50e6:
            crowd.send(source, block)
    run_for(crowd, seconds, step)
    alive = source["sock"].fileno() in crowd.socks
    crowd.close_all()
    return (f"took {crowd.counts['bytesSent'] / 1e6 / seconds:.1f} MB/s of noise, source "
            f"{'kept' if alive else 'closed'}")


def scenario_storm(crowd, seconds):
    rate = 1000
    request = rover_request("WATCH", "storm")
    made = 0
    t0 = time.monotonic()
    def ready(entry):
        crowd.send(entry, request)
        entry["state"]["until"] = time.monotonic() + 0.2
    def step(now):
        nonlocal made
        while made < (now - t0) * rate and now - t0 < 10:
            crowd.connect(ready)
            made += 1
        for entry in list(crowd.socks.values()):
            if entry["state"].get("until", now + 1) <= now:
                crowd.drop(entry)
    run_for(crowd, seconds, step)
    crowd.close_all()
    return f"{crowd.counts['connects']} of {made} connects made, {crowd.counts['answers']} answered"


SCENARIOS = [
    ("baseline", "baseline (no attackers)", scenario_baseline),
    ("idle", "5,000 idle, closed at once", scenario_idle),
    ("bytewise", "requests 1 byte at a time x100", scenario_bytewise),
    ("headerflood", "8 KiB header floods x200", scenario_headerflood),
    ("slowloris", "slowloris x1,000", scenario_slowloris),
    ("nonreading", "200 rovers that never read", scenario_nonreading),
    ("noise", "source of 50 MB/s noise", scenario_noise),
    ("storm", "reconnect storm 1,000/s", scenario_storm),
]


def run_scenario(args, name, function):
    with tempfile.TemporaryDirectory(prefix="kavro-hostile-") as work:
        caster = Caster(args.binary, work, args.limits)
        watcher = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--watch", str(caster.port),
                                    "--rovers", str(args.rovers)],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            if watcher.stdout.readline().strip() != "ready":
                raise RuntimeError("the watched rovers received nothing")
            base_kib = status_kib(caster.pid, "VmRSS")
            cpu0 = cpu_seconds(caster.pid)
            waits0 = run_queue_wait(caster.pid), run_queue_wait(watcher.pid)
            crowd = Crowd(caster.port)
            crowd.caster_cpu = lambda: cpu_seconds(caster.pid) if caster.alive() else 0.0
            peak_fds = 0
            started = time.monotonic()
            # Sample the caster between the attackers' polls, at most every 100 ms.
            last = [0.0]
            original_poll = crowd.poll
            def sampled_poll(timeout, on_data=None):
                nonlocal peak_fds
                now = time.monotonic()
                if now - last[0] >= 0.1 and caster.alive():
                    last[0] = now
                    peak_fds = max(peak_fds, open_fds(caster.pid))
                original_poll(timeout, on_data)
            crowd.poll = sampled_poll
            what = function(crowd, args.seconds)
            wall = time.monotonic() - started
            alive = caster.alive()
            cpu = cpu_seconds(caster.pid) - cpu0 if alive else float("nan")
            waits = run_queue_wait(caster.pid) - waits0[0], run_queue_wait(watcher.pid) - waits0[1]
            peak_kib = status_kib(caster.pid, "VmHWM") if alive else 0
            refusals = caster.log_lines(" refused: more than ")
            reasons = caster.close_reasons()
        except BaseException:
            watcher.kill()
            caster.stop()
            raise
        watcher.stdin.close()
        report = watcher.stdout.readline()
        watcher.wait(10)
        caster.stop()
    watched = json.loads(report) if report.strip() else {"maxGapMs": float("nan"), "maxDelayMs": float("nan"),
                                                         "lost": -1, "closed": -1}
    if refusals:
        what += f"; {refusals} refusal lines"
    if reasons:
        what += "; closed by reason " + ", ".join(f"{{{code}}} x{n}" for code, n in sorted(reasons.items()))
    if watched.get("maxGapEnd"):
        # Where the longest gap fell: seconds from the scenario's start, and from its phases.
        gap_start = watched["maxGapEnd"] - watched["maxGapMs"] / 1000
        where = [f"{gap_start - started:+.1f} s"]
        where += [f"{gap_start - t:+.2f} s from {phase}" for phase, t in crowd.marks.items()]
        what += f"; longest gap began at {', '.join(where)}"
    return {"name": name, "what": what, "alive": alive, "cpu": cpu, "wall": wall, "baseMib": base_kib / 1024,
            "peakMib": peak_kib / 1024, "fds": peak_fds, "casterWaitMs": 1000 * waits[0],
            "watcherWaitMs": 1000 * waits[1], **watched}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--only", default="", help="comma-separated scenario names")
    parser.add_argument("--seconds", type=float, default=15, help="seconds per scenario (10..20)")
    parser.add_argument("--rovers", type=int, default=4, help="watched rovers")
    parser.add_argument("--limits", default="", help="MaxPerIP,MaxConnectsPerIP for the caster")
    parser.add_argument("--watch", type=int, default=0, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.watch:
        watch(args.watch, args.rovers)
        return
    args.seconds = min(max(args.seconds, 10), 20)
    args.limits = [int(x) for x in args.limits.split(",")] if args.limits else None

    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    chosen = [s for s in SCENARIOS if not args.only or s[0] in args.only.split(",")]
    rows = []
    for name, title, function in chosen:
        row = run_scenario(args, title, function)
        rows.append(row)
        print(f"{name}: {json.dumps(row)}", flush=True)

    print()
    print(f"{'scenario':<32} {'up':<3} {'CPU':>6} {'peak MiB':>9} {'fds':>6} {'gap ms':>7} {'delay ms':>8} "
          f"{'lost':>5} {'waits ms':>9}  what the caster did")
    failed = False
    for r in rows:
        ok = r["alive"] and r["maxGapMs"] < 200 and r["lost"] == 0
        failed |= not ok
        print(f"{r['name']:<32} {'yes' if r['alive'] else 'NO':<3} {100 * r['cpu'] / r['wall']:>5.0f}% "
              f"{r['peakMib']:>9.1f} {r['fds']:>6} {r['maxGapMs']:>7.1f} {r['maxDelayMs']:>8.1f} {r['lost']:>5} {r['casterWaitMs']:>4.0f}/{r['watcherWaitMs']:<4.0f}  "
              f"{r['what']}{'' if ok else '  <-- FAIL'}")
    print("\nup: the caster still ran; CPU: of one core over the scenario; peak: VmHWM; fds: most open "
          "descriptors; gap: longest gap between records of a watched rover (records every 50 ms); delay: "
          "longest write-to-read time of a record; lost: watched records never received; waits: time the "
          "caster / the watcher were ready to run but waited for a CPU taken by other processes")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
