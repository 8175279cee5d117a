#!/usr/bin/env python3
"""Faults: how the caster holds up when its disk fills, when it is killed, stopped under load, or
started on garbage settings or a damaged database.

Each case starts a fresh caster (bench/hostile_clients.py's Caster) on a temporary program directory
and a free loopback port, and, where the caster should keep relaying, the watcher of
hostile_clients.py (one source, two rovers, a record every 50 ms) notes the longest gap and the
records lost. Load comes from build/ntrip_load (rovers sending a GGA sentence every second), so that
the caster writes connection records, GGA lines, KML points, raw base records and log lines.

Cases:
  full-log     a 256 KiB tmpfs on LOG/, filled up while rovers come and go, then freed
  full-record  the same on BASE/ (raw records of a base with a name longer than 8 characters)
  full-gga     the same on GGA/ (daily GGA file)
  full-kml     the same on KML/ (daily KML file)
  kill9        SIGKILL during a burst of 300 closes, then a restart: every connection whose close
               line the caster printed before the kill (it prints it after the record's insert
               returned) must be in RECORD
  sigterm      SIGTERM with 1,000 rovers connected: RECORD must hold every one of them
  settings     a settings file of garbage values (negative, huge, non-numeric, binary, a 1 MB line)
  db-trunc, db-middle, db-zero, db-text
               Kavro202.db cut to half, 8 KiB of random bytes in its middle, zero-length, plain text

"records lost" counts connection records the database should hold and does not (0 is the goal);
for the disk cases also relayed records the watched rovers missed. Needs root (mount) and Linux;
loopback only; every case ends by itself; processes are stopped by their PID; tmpfs mounts are
unmounted on exit.

  python3 bench/faults.py [--binary build/KavroServer] [--load-tool build/ntrip_load]
      [--only full-log,kill9]
"""
import argparse
import atexit
import errno
import json
import os
import random
import re
import resource
import selectors
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hostile_clients import Caster, status_kib  # noqa: E402
from loopback import listening  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PHASE_SECONDS = 12  # a rover's record needs 10 counted seconds
MOUNTS = []  # tmpfs mounts to undo on exit
STARTED = []  # processes this script started, stopped by PID on the way out


def set_flags(*digits):
    """The 20-digit "SET" value with the given 1-based flags on."""
    return "".join("1" if i + 1 in digits else "0" for i in range(20))


# autoStartService, recordToBase, saveGga, writeKml
WRITER_FLAGS = set_flags(1, 7, 11, 13)


def start_caster(*args, **kwargs):
    caster = Caster(*args, **kwargs)
    STARTED.append(caster.process)
    return caster


def stop_started():
    while STARTED:
        process = STARTED.pop()
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def unmount_all():
    while MOUNTS:
        subprocess.run(["umount", MOUNTS.pop()], check=False)


def mount_tmpfs(directory):
    os.makedirs(directory, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", directory], check=True)
    MOUNTS.append(directory)


def fill(directory):
    """Writes a filler file until the file system is full."""
    path = os.path.join(directory, "filler")
    with open(path, "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * 4096)
        except OSError as error:
            if error.errno != errno.ENOSPC:
                raise
    return path


def peak_mib(pid):
    return status_kib(pid, "VmHWM") / 1024


class Watcher:
    """The watcher of hostile_clients.py: a source on WATCH and two rovers reading it."""

    def __init__(self, port):
        self.process = subprocess.Popen([sys.executable, os.path.join(HERE, "hostile_clients.py"), "--watch",
                                         str(port), "--rovers", "2"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        STARTED.append(self.process)
        selector = selectors.DefaultSelector()
        selector.register(self.process.stdout, selectors.EVENT_READ)
        self.ready = bool(selector.select(15)) and self.process.stdout.readline().strip() == "ready"

    def finish(self):
        """{"maxGapMs", "lost", ...}, or None when the rovers never received."""
        if self.process.poll() is None and not self.ready:
            self.process.kill()
        try:  # closing its input ends the watcher
            out, _ = self.process.communicate(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, _ = self.process.communicate()
        line = out.strip().splitlines()[-1] if out.strip() else ""
        return json.loads(line) if self.ready and line.startswith("{") else None


def run_load(args, port, user, rovers, seconds, background=False):
    command = [args.load_tool, "--port", str(port), "--sources", "1", "--mount-prefix", "RECORDBASE",
               "--rovers", str(rovers), "--user", user, "--gga", "--duration", str(seconds), "--drain", "0",
               "--connect-timeout", "20", "--json"]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    STARTED.append(process)
    if background:
        return process
    out, _ = process.communicate(timeout=seconds + 60)
    return json.loads(out) if out.strip().startswith("{") else {}


def records(db_path, pattern):
    """User names in RECORD matching the LIKE pattern (None when the file cannot be read)."""
    try:
        with sqlite3.connect(f"file:{db_path}?mode=ro", uri=True) as db:
            return {row[0] for row in db.execute("SELECT A1 FROM RECORD WHERE A1 LIKE ?", (pattern,))}
    except sqlite3.Error:
        return None


def lines_with(path, text):
    with open(path, errors="replace") as f:
        return [line.rstrip("\n") for line in f if text in line]


def stop(caster):
    """SIGTERM by PID; the exit status."""
    caster.stop()
    return caster.process.returncode


# ---------------------------------------------------------------- disk full

DISK_CASES = {
    # case: (directory, failure line, the file written there)
    "full-log": ("LOG", "Log write failed", lambda d, day: os.path.join(d, f"KavroServer{day}.txt")),
    "full-record": ("BASE", "Record write failed", lambda d, day: os.path.join(d, "RECORDBASE0")),
    "full-gga": ("GGA", "GGA write failed", lambda d, day: os.path.join(d, f"GGA{day}.txt")),
    "full-kml": ("KML", "KML write failed", lambda d, day: os.path.join(d, f"{day}.kml")),
}


def damaged_lines(case, path):
    """Lines of the written file that a failed write left broken (or "not XML" for a KML file)."""
    if not os.path.exists(path):
        return "no file"
    if case == "full-kml":
        try:
            ElementTree.parse(path)
            return 0
        except ElementTree.ParseError:
            return "not XML"
    if case == "full-log":
        pattern = re.compile(r"^\d{4}/\d\d/\d\d [ \d]\d:[ \d]\d:[ \d]\d  ")
    elif case == "full-gga":
        pattern = re.compile(r"^\d{4}/\d\d/\d\d_\d\d:\d\d:\d\d \S+ +-?\d+\.\d{8} +-?\d+\.\d{8} +-?\d+\.\d{3} \$GPGGA,.*\*[0-9A-F]{2}\r?$")
    else:
        return 0  # raw records have no lines
    stamp = re.compile(r"\d{4}/\d\d/\d\d[ _][ \d]\d:[ \d]\d:[ \d]\d")
    with open(path, "rb") as f:
        lines = [line.decode("utf-8", "replace") for line in f.read().split(b"\n")[:-1]]
    # A line cut short runs into the next one: two time stamps on one line.
    return sum(not pattern.match(line) or len(stamp.findall(line)) != 1 for line in lines)


def case_disk_full(args, case, work):
    directory, failure, file_of = DISK_CASES[case]
    mount_tmpfs(os.path.join(work, directory))
    caster = start_caster(args.binary, work, None, settings=f"SET={WRITER_FLAGS}\n")
    watcher = Watcher(caster.port)
    day = time.strftime("%Y%m%d")
    target = file_of(os.path.join(work, directory), day)
    filler = fill(os.path.join(work, directory))
    size_full = os.path.getsize(target) if os.path.exists(target) else 0
    rovers = 50  # their log lines overflow the page the log file already holds
    run_load(args, caster.port, "fullA%d", rovers, PHASE_SECONDS)
    alive_full = caster.alive()
    os.unlink(filler)  # space returns
    size_freed = os.path.getsize(target) if os.path.exists(target) else 0
    run_load(args, caster.port, "fullB%d", rovers, PHASE_SECONDS)
    size_after = os.path.getsize(target) if os.path.exists(target) else 0
    peak = peak_mib(caster.pid) if caster.alive() else 0
    watched = watcher.finish()
    status = stop(caster)
    reports = lines_with(caster.output_path, failure)
    stored_a = records(os.path.join(work, "Kavro202.db"), "fullA%") or set()
    stored_b = records(os.path.join(work, "Kavro202.db"), "fullB%") or set()
    lost = 2 * rovers - len(stored_a) - len(stored_b) + (watched["lost"] if watched else 0)
    broken = damaged_lines(case, target)
    what = (f"{'stayed up' if alive_full else 'DIED'} while {directory}/ was full; {len(reports)} "
            f"'{failure}' line(s); file {size_full} B when full, {size_freed} B after, {size_after} B after the "
            f"second load ({'resumed' if size_after > size_freed else 'NOT resumed'}); broken lines: {broken}; "
            f"records {len(stored_a)}+{len(stored_b)} of {2 * rovers}; exit {status}")
    ok = alive_full and len(reports) == 1 and size_after > size_freed and lost == 0 and broken == 0
    return ok, what, peak, watched, lost


# ---------------------------------------------------------------- kill -9 and SIGTERM

def close_lines(path, prefix):
    """User names whose close line (the caster prints it after the record's insert) is in the output."""
    names = set()
    for line in lines_with(path, "[" + prefix):
        found = re.search(r"\]\S*\[(" + prefix + r"\d+) +\(\s*\d+\)\]", line)
        if found and "{" in line:
            names.add(found.group(1))
    return names


def logins(path, prefix):
    return sum(1 for line in lines_with(path, "[" + prefix) if line.rstrip().endswith("OK"))


def case_kill9(args, work):
    caster = start_caster(args.binary, work, None)
    rovers = 300
    load = run_load(args, caster.port, "burst%d", rovers, PHASE_SECONDS, background=True)
    end = time.monotonic() + PHASE_SECONDS + 40
    killed_after = 0
    peak = 0
    while time.monotonic() < end and caster.alive():
        peak = max(peak, peak_mib(caster.pid))
        killed_after = len(close_lines(caster.output_path, "burst"))
        if killed_after >= 30:  # in the middle of the burst
            os.kill(caster.pid, signal.SIGKILL)
            break
        time.sleep(0.002)
    caster.process.wait(10)
    committed = close_lines(caster.output_path, "burst")  # read after the kill: every line printed
    load.kill()
    load.wait()
    os.rename(caster.output_path, caster.output_path + ".killed")
    caster.output.close()
    restarted = start_caster(args.binary, work, None)
    status = stop(restarted)
    stored = records(os.path.join(work, "Kavro202.db"), "burst%")
    stored = stored if stored is not None else set()
    lost = len(committed - stored)
    what = (f"killed after {killed_after} close lines; {len(committed)} committed (close line printed), "
            f"{len(stored)} in RECORD after the restart ({len(stored - committed)} written but not yet "
            f"reported); restart exit {status}")
    return lost == 0 and len(committed) > 0, what, peak, None, lost


def case_sigterm(args, work):
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    caster = start_caster(args.binary, work, None)
    rovers = 1000
    load = run_load(args, caster.port, "term%d", rovers, 60, background=True)
    end = time.monotonic() + 60
    while time.monotonic() < end and logins(caster.output_path, "term") < rovers:
        time.sleep(0.2)
    connected = logins(caster.output_path, "term")
    time.sleep(PHASE_SECONDS)  # each rover's stay reaches the recorded length
    peak = peak_mib(caster.pid)
    started = time.monotonic()
    status = stop(caster)
    took = time.monotonic() - started
    load.kill()
    load.wait()
    stored = records(os.path.join(work, "Kavro202.db"), "term%")
    stored = stored if stored is not None else set()
    lost = rovers - len(stored)
    what = (f"{connected} rovers connected; SIGTERM -> exit {status} after {took:.1f} s; {len(stored)} "
            f"connection records")
    return lost == 0 and status == 0, what, peak, None, lost


# ---------------------------------------------------------------- garbage settings

GARBAGE_SETTINGS = ("PORT2=-5\nDisp_num=99999999999999999999\nMaxPerIP=-1\nTOTAL=-3\n"
                    "MaxConnectsPerIP=lots\nMountLocal=\x01\x02\x7f\n")
GARBAGE_SECTIONS = ("[SQL]\nTimeout=xyz\nQueueLimit=99999999999999\nPORT=-1433\n"
                    "[NET]\nUseNet=-11\nIP1=\x01\x02\nPORT1=-7\nIP2=127.0.0.1\nPORT2=123456\n"
                    "[SYSTEM]\nICON=\xff\xfe\nNAME=" + "A" * 1_000_000 + "\n"
                    + "".join(chr(c) for c in range(1, 256) if c != 10) + "\n")


def listening_ports(pid):
    """TCP ports the process listens on (from /proc)."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    ports = set()
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[3] == "0A" and fields[9] in inodes:
                ports.add(int(fields[1].split(":")[1], 16))
    return ports


def case_settings(args, work):
    caster = start_caster(args.binary, work, None, settings=GARBAGE_SETTINGS, sections=GARBAGE_SECTIONS)
    watcher = Watcher(caster.port)
    time.sleep(2)
    ports = listening_ports(caster.pid) if caster.alive() else set()
    peak = peak_mib(caster.pid) if caster.alive() else 0
    watched = watcher.finish()
    status = stop(caster)
    red = lines_with(caster.output_path, "KavroServer.INI:")
    check = subprocess.run([args.binary, "--dir", work, "--check-config"], capture_output=True, timeout=30)
    stray = sorted(ports - {caster.port})
    what = (f"up, listening on {sorted(ports)}{' (stray ports ' + str(stray) + ')' if stray else ''}; "
            f"{len(red)} settings lines in the log; --check-config exit {check.returncode} with "
            f"{len(check.stdout.splitlines())} findings; exit {status}")
    ok = watched is not None and not stray and red and check.returncode == 1 and status == 0
    return ok, what, peak, watched, watched["lost"] if watched else 0


# ---------------------------------------------------------------- damaged database

def template_database(args, root):
    """A Kavro202.db made by the caster, with 3,000 old records."""
    work = os.path.join(root, "template")
    caster = start_caster(args.binary, work, None)
    stop(caster)
    path = os.path.join(work, "Kavro202.db")
    with sqlite3.connect(path) as db:
        db.executemany("INSERT INTO RECORD(IP, A1, A2) VALUES ('10.0.0.1', ?, 'NTRIP')",
                       [(f"old{i}",) for i in range(3000)])
    with sqlite3.connect(path) as db:
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    return path


def damage(kind, path):
    size = os.path.getsize(path)
    if kind == "db-trunc":
        os.truncate(path, size // 2)
    elif kind == "db-middle":
        rng = random.Random(7)
        with open(path, "r+b") as f:
            f.seek(size // 2)
            f.write(bytes(rng.getrandbits(8) for _ in range(8192)))
    elif kind == "db-zero":
        os.truncate(path, 0)
    else:
        with open(path, "w") as f:
            f.write("hello, this is not a database\n")


def case_database(args, kind, work, template):
    os.makedirs(work)
    target = os.path.join(work, "Kavro202.db")
    with open(template, "rb") as src, open(target, "wb") as dst:
        dst.write(src.read())
    damage(kind, target)
    caster = start_caster(args.binary, work, None)
    watcher = Watcher(caster.port)
    rovers = 10
    result = run_load(args, caster.port, "dmg%d", rovers, PHASE_SECONDS)
    peak = peak_mib(caster.pid) if caster.alive() else 0
    watched = watcher.finish()
    status = stop(caster)
    stored = records(target, "dmg%")
    lost = rovers - len(stored or ())
    red = [line for line in lines_with(caster.output_path, "Kavro202") if "OK" not in line]
    kept = [name for name in os.listdir(work) if name.startswith("Kavro202.db.damaged")]
    refused = result.get("rovers", {}).get("refused", "?")
    what = (f"{len(red)} database line(s){': ' + red[0][21:120] if red else ''}; rovers refused {refused}; "
            f"damaged file kept as {kept[0] if kept else 'nothing'}; records {len(stored or ())} of {rovers}; "
            f"exit {status}")
    ok = watched is not None and lost == 0 and status == 0 and (kind == "db-zero" or (red and kept))
    return ok, what, peak, watched, lost


CASES = ["full-log", "full-record", "full-gga", "full-kml", "kill9", "sigterm", "settings",
         "db-trunc", "db-middle", "db-zero", "db-text"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--only", default="", help="comma-separated case names")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("faults.py mounts small tmpfs file systems: run it as root")
    args.binary = os.path.abspath(args.binary)
    args.load_tool = os.path.abspath(args.load_tool)
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    atexit.register(unmount_all)
    atexit.register(stop_started)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    chosen = [c for c in CASES if not args.only or c in args.only.split(",")]
    rows = []
    with tempfile.TemporaryDirectory(prefix="kavro-faults-") as root:
        template = None
        for case in chosen:
            work = os.path.join(root, case)
            try:
                if case in DISK_CASES:
                    row = case_disk_full(args, case, work)
                elif case == "kill9":
                    row = case_kill9(args, work)
                elif case == "sigterm":
                    row = case_sigterm(args, work)
                elif case == "settings":
                    row = case_settings(args, work)
                else:
                    template = template or template_database(args, root)
                    row = case_database(args, case, work, template)
            finally:
                stop_started()
                unmount_all()
            rows.append((case, *row))
            print(f"{case}: {row[1]}", flush=True)

    print()
    print(f"{'case':<12} {'ok':<4} {'peak MiB':>8} {'gap ms':>7} {'lost':>5}  what the caster did")
    failed = False
    for case, ok, what, peak, watched, lost in rows:
        failed |= not ok
        gap = f"{watched['maxGapMs']:.0f}" if watched else "n/a"
        print(f"{case:<12} {'yes' if ok else 'NO':<4} {peak:>8.1f} {gap:>7} {lost:>5}  {what}")
    print("\npeak: the caster's VmHWM; gap: longest gap between records of a watched rover (a record every "
          "50 ms; n/a where no watcher runs); lost: connection records missing from RECORD, plus relayed "
          "records the watched rovers missed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
