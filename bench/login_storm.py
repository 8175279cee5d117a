#!/usr/bin/env python3
"""Login storms: 10,000 rovers logging in to the caster at once, on loopback.

(a) Unknown users: the caster starts on an empty program directory, one source streams on LOAD0, and
    10,000 rovers with new user names ("storm<i>") send their requests together (--parallel equal to
    the rover count). Unknown users are accepted by default; each one's account is created in the local
    SQLite file (Kavro202.db, table USERPASSWORD) when it disconnects, but only after a stay long enough
    to be recorded and charged (connected seconds less half the idle seconds at least 10, at least 15 s
    in all): a rover that sends nothing after its request is idle the whole time, so the rovers stay
    --stay seconds (default 22). After the load tool has closed them, the script polls the database file
    (read-only) until every account is there and reports how long the caster took to write them.
(b) Known users: the caster runs once so that it creates its database and is stopped; --accounts rows
    (default 100,000: "acct<i>" with password "pw<i>") go into USERPASSWORD in one transaction; the
    caster starts again with password protection on, and 10,000 of those users log in at once with the
    right passwords (the source's mountpoint LOAD0 gets an account too, as protection checks sources).
    Five logins with a wrong password follow, which must be refused (so the check ran).

For both, the load tool's login phase (first request written to last answer read, answer times, counts
by outcome) is printed with the caster's CPU time and memory (--pid). Goals: (a) every rover answered
within 3 s, (b) within 2 s. Loopback only; bounded in time; the caster is stopped by its PID.

  python3 bench/login_storm.py [--binary build/KavroServer] [--load-tool build/ntrip_load]
      [--rovers 10000] [--accounts 100000] [--stay 22] [--part a|b|both]
"""
import argparse
import json
import os
import resource
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

from loopback import free_port, listening

# SET digits: service started at once, no start at log-on, GGA saved, password protection on.
PASSWORD_PROTECTION_SET = "10000000001001000000"


def cpu_seconds(pid):
    """User + system CPU seconds of a process."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Caster:
    """The caster on a program directory of its own, stopped by its PID."""

    def __init__(self, binary, work, set_flags=""):
        self.port = free_port()
        os.makedirs(os.path.join(work, "INI"), exist_ok=True)
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={self.port}\nPORT2=0\n"
                    + (f"SET={set_flags}\n" if set_flags else "") + "[MONITOR]\nPORT=0\n")
        self.output = open(os.path.join(work, "caster-output.txt"), "a")
        self.process = subprocess.Popen([binary, "--dir", work], stdout=self.output, stderr=subprocess.STDOUT)
        end = time.monotonic() + 15
        while not listening(self.port):
            if self.process.poll() is not None or time.monotonic() > end:
                self.stop()
                sys.exit("the caster did not start listening")
            time.sleep(0.05)

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(60)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.close()


def run_load(tool, caster, options, timeout):
    """Runs the load tool against the caster with --json --pid; returns its summary."""
    command = [tool, "--json", "--port", str(caster.port), "--pid", str(caster.pid)] + options
    print("$ " + " ".join(command), flush=True)
    done = subprocess.run(command, stdout=subprocess.PIPE, text=True, timeout=timeout)
    try:
        return json.loads(done.stdout)
    except json.JSONDecodeError:
        print(done.stdout)
        sys.exit(f"the load tool printed no summary (exit status {done.returncode})")


def print_login(result, goal):
    login, rovers = result["login"], result["rovers"]
    ms = login["answerMs"]
    answered_all = login["answers"] == rovers["planned"]
    print(f"  login phase: {login['answers']} of {rovers['planned']} answered in {login['seconds']:.3f} s "
          f"(first request to last answer), {login['answersPerSecond']:.0f} answers/s")
    print(f"  answer time ms: p50 {ms['p50']:.1f}, p99 {ms['p99']:.1f}, max {ms['max']:.1f}")
    print(f"  outcomes: accepted {login['accepted']}, refused {login['refused']}, no answer "
          f"{login['noAnswer']}, timed out {login['timedOut']}, connect failed {login['connectFailed']}")
    proc = result.get("process", {})
    if proc.get("complete"):
        print(f"  caster: {proc['setupCpuSeconds']:.2f} CPU s during the set-up (the storm), "
              f"{proc['cpuSeconds']:.2f} CPU s in the {proc['windowSeconds']:.1f} s window after it; RSS "
              f"{proc['rssStartKib'] / 1024:.1f} MiB after the storm, {proc['rssEndKib'] / 1024:.1f} MiB at the "
              f"end, peak {proc['peakRssKib'] / 1024:.1f} MiB")
    for message, count in result["errors"].items():
        print(f"  load tool error x{count}: {message}")
    met = answered_all and login["accepted"] == rovers["planned"] and login["seconds"] <= goal
    print(f"  goal (all accepted and answered within {goal:g} s): {'met' if met else 'NOT met'}")
    return met


def count_accounts(database, prefix):
    """Accounts whose name starts with prefix, read through a read-only connection; None if unreadable."""
    try:
        with sqlite3.connect(f"file:{database}?mode=ro", uri=True, timeout=1) as db:
            return db.execute("SELECT count(*) FROM USERPASSWORD WHERE UserUser LIKE ?",
                              (prefix + "%",)).fetchone()[0]
    except sqlite3.Error:
        return None


def unknown_users(args):
    print(f"(a) {args.rovers} unknown users log in at once, stay {args.stay:g} s, then close")
    with tempfile.TemporaryDirectory(prefix="kavro-storm-") as work:
        caster = Caster(args.binary, work)
        try:
            result = run_load(args.load_tool, caster,
                              ["--sources", "1", "--rovers", str(args.rovers), "--parallel", str(args.rovers),
                               "--user", "storm%d", "--password", "x", "--duration", str(args.stay),
                               "--rate", "10", "--chunk", "200", "--drain", "1", "--connect-timeout", "30"],
                              timeout=args.stay + 120)
            closed = time.monotonic()
            cpu0 = cpu_seconds(caster.pid)
            met = print_login(result, 3.0)
            # Every rover the caster accepted becomes an account when its close is handled. Rovers the
            # tool gave up on may still have been accepted after it stopped waiting, so the count can
            # pass the accepted figure: the writing is over once the count holds still.
            expected = result["login"]["accepted"]
            database = os.path.join(work, "Kavro202.db")
            count, last_count, last_change, reached = 0, -1, closed, None
            while time.monotonic() - closed < args.write_timeout:
                count = count_accounts(database, "storm") or 0
                now = time.monotonic()
                if count != last_count:
                    last_count, last_change = count, now
                if reached is None and count >= expected:
                    reached = now
                if now - last_change > args.settle:
                    break
                time.sleep(0.05)
            cpu = cpu_seconds(caster.pid) - cpu0
            written = reached is not None
            print(f"  accounts written: {count} (the caster accepted {expected} rovers in the tool's time); "
                  + (f"{expected} within {reached - closed:.2f} s and the last one " if written else "")
                  + f"{last_change - closed:.2f} s after the rovers closed (caster CPU {cpu:.2f} s, counted until "
                  f"the count held still for {args.settle:g} s)")
            return met and written
        finally:
            caster.stop()


def known_users(args):
    print(f"(b) {args.rovers} of {args.accounts} existing accounts log in at once with the right password")
    with tempfile.TemporaryDirectory(prefix="kavro-storm-") as work:
        Caster(args.binary, work).stop()  # creates Kavro202.db with its tables
        database = os.path.join(work, "Kavro202.db")
        started = time.monotonic()
        with sqlite3.connect(database) as db:
            db.executemany(
                "INSERT INTO USERPASSWORD(UserUser, USERPASSWORD, PUSERTIME, USERTIME, PUSEDATA, USERLX, "
                "USERTIME_LAST) VALUES (?, ?, 0, 0, 0, 0, 0)",
                [(f"acct{i}", f"pw{i}") for i in range(args.accounts)]
                # With password protection a source's mountpoint is checked as an account too.
                + [("LOAD0", "load")])
        print(f"  {args.accounts} accounts inserted in {time.monotonic() - started:.2f} s")
        caster = Caster(args.binary, work, PASSWORD_PROTECTION_SET)
        try:
            result = run_load(args.load_tool, caster,
                              ["--sources", "1", "--rovers", str(args.rovers), "--parallel", str(args.rovers),
                               "--user", "acct%d", "--password", "pw%d", "--duration", "1", "--drain", "1",
                               "--connect-timeout", "30"],
                              timeout=120)
            met = print_login(result, 2.0)
            wrong = run_load(args.load_tool, caster,
                             ["--rovers", "5", "--user", "acct%d", "--password", "wrong", "--duration", "0"],
                             timeout=60)
            refused = wrong["login"]["refused"] == 5
            print(f"  wrong passwords: {wrong['login']['refused']} of 5 refused"
                  + ("" if refused else " (the password check did not run)"))
            for message, count in wrong["errors"].items():
                print(f"    x{count}: {message}")
            return met and refused
        finally:
            caster.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--rovers", type=int, default=10000)
    parser.add_argument("--accounts", type=int, default=100000)
    parser.add_argument("--stay", type=float, default=22, help="(a) seconds the rovers stay connected")
    parser.add_argument("--write-timeout", type=float, default=120, help="(a) longest wait for the accounts")
    parser.add_argument("--settle", type=float, default=3, help="(a) seconds without a new account that end the wait")
    parser.add_argument("--part", choices=["a", "b", "both"], default="both")
    args = parser.parse_args()
    if args.accounts < args.rovers:
        sys.exit("--accounts must be at least --rovers")

    # Each rover is a descriptor on both sides: raise the soft open-file limit to the hard one.
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    ok = True
    if args.part in ("a", "both"):
        ok = unknown_users(args) and ok
    if args.part in ("b", "both"):
        ok = known_users(args) and ok
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
