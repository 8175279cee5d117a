#!/usr/bin/env python3
"""Whole-caster load: 1 source -> 1000 rovers on loopback for 20 s.

Starts the caster on a temporary program directory with its own settings file
(INI/KavroServer.INI, [SYSTEMSERVER] PORT=<free port>), runs the load tool
against it, samples the caster's CPU time (/proc/PID/stat utime + stime) and
peak resident memory (/proc/PID/status VmHWM), stops the caster by its PID
(SIGTERM) and prints the figures. Builds nothing; loopback only; bounded in time.

  python3 bench/load_1000_rovers.py [--binary build/KavroServer]
      [--load-tool build/ntrip_load] [--rovers 1000] [--duration 20]
      [--monitor] [--browser] [-- extra load tool options, e.g. --user u%d --password p --gga]

--monitor turns the web monitor on (a free loopback port); --browser also keeps the monitor page open
in headless Chromium for the whole load (bench/monitor_page.mjs), which scrolls the grid once all
rovers are listed (a screen every --page-pace ms, 10 screens then a drag to the end; 0 runs through
every screen at full speed) and reports its longest frame gap. Comparing the two gives the monitor's
cost.
"""
import argparse
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

from loopback import free_port, listening



def cpu_seconds(pid):
    """User and system CPU seconds of a process."""
    with open(f"/proc/{pid}/stat") as f:
        # The command name may hold blanks: fields start after its closing parenthesis.
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return int(fields[11]) / ticks, int(fields[12]) / ticks


def status_kib(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--sources", type=int, default=1)
    parser.add_argument("--rovers", type=int, default=1000)
    parser.add_argument("--duration", type=float, default=20)
    parser.add_argument("--rate", type=int, default=2000, help="bytes per second per source")
    parser.add_argument("--chunk", type=int, default=200, help="bytes per write")
    parser.add_argument("--monitor", action="store_true", help="web monitor on")
    parser.add_argument("--browser", action="store_true", help="monitor page open in headless Chromium")
    parser.add_argument("--page-pace", type=int, default=500,
                        help="with --browser: ms between screens as the page scrolls (0: the whole grid at full speed)")
    parser.add_argument("--page-nice", type=int, default=0,
                        help="with --browser: niceness of the browser, so that it takes only idle CPU "
                             "as if it ran on the operator's own machine")
    parser.add_argument("--screenshot", default="", help="with --browser: PNG of the scrolled grid")
    parser.add_argument("extra", nargs="*", help="more load tool options (after --)")
    args = parser.parse_args()

    # Each rover is a descriptor on both sides: raise the soft open-file limit to the hard one.
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    port = free_port()
    monitor_port = free_port() if args.monitor or args.browser else 0
    page = None
    with tempfile.TemporaryDirectory(prefix="kavro-bench-") as work:
        os.makedirs(os.path.join(work, "INI"))
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={port}\nPORT2=0\n[MONITOR]\nPORT={monitor_port}\n")
        output = open(os.path.join(work, "caster-output.txt"), "w")
        caster = subprocess.Popen([args.binary, "--dir", work], stdout=output, stderr=subprocess.STDOUT)
        result = None
        try:
            end = time.monotonic() + 10
            while not listening(port):
                if caster.poll() is not None or time.monotonic() > end:
                    sys.exit("the caster did not start listening")
                time.sleep(0.05)
            if args.browser:
                script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "monitor_page.mjs")
                page = subprocess.Popen(["node", script, "--pace", str(args.page_pace), "--nice", str(args.page_nice),
                                         f"http://127.0.0.1:{monitor_port}/",
                                         str(args.rovers), str(args.duration + 10)]
                                        + ([args.screenshot] if args.screenshot else []),
                                        stdout=subprocess.PIPE, text=True)
                # The operator has the page open before the rovers come: wait until it is live.
                if page.stdout.readline().strip() != "ready":
                    sys.exit("the monitor page did not open")
            user0, sys0 = cpu_seconds(caster.pid)
            empty_kib = status_kib(caster.pid, "VmRSS")
            command = [args.load_tool, "--json", "--pid", str(caster.pid), "--port", str(port),
                       "--sources", str(args.sources),
                       "--rovers", str(args.rovers), "--duration", str(args.duration),
                       "--rate", str(args.rate), "--chunk", str(args.chunk)] + args.extra
            started = time.monotonic()
            load = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
            # Read the caster's figures while the load runs, in case it ends early.
            user1, sys1, peak = user0, sys0, 0
            while load.poll() is None:
                if caster.poll() is None:
                    user1, sys1 = cpu_seconds(caster.pid)
                    peak = max(peak, status_kib(caster.pid, "VmHWM"))
                time.sleep(0.2)
            wall = time.monotonic() - started
            if caster.poll() is None:
                user1, sys1 = cpu_seconds(caster.pid)
                peak = max(peak, status_kib(caster.pid, "VmHWM"))
            report = load.stdout.read()
            page_report, page_cpu = "", 0.0
            if page:
                page_report = page.stdout.read()
                # The page script's CPU with Chromium's (its waited-for children).
                _, status, usage = os.wait4(page.pid, 0)
                page.returncode = os.waitstatus_to_exitcode(status)
                page_cpu = usage.ru_utime + usage.ru_stime
            try:
                result = json.loads(report)
            except json.JSONDecodeError:
                print(report)
                sys.exit(f"the load tool printed no summary (exit status {load.returncode})")
        finally:
            if caster.poll() is None:
                caster.send_signal(signal.SIGTERM)
                try:
                    caster.wait(20)
                except subprocess.TimeoutExpired:
                    caster.kill()
                    caster.wait()
            output.close()

    lat = result["latencyMs"]
    src, rov = result["sources"], result["rovers"]
    print(f"load: {args.sources} source(s) -> {args.rovers} rovers, {args.duration:g} s at "
          f"{args.rate} B/s in {args.chunk}-byte writes, caster on 127.0.0.1:{port}")
    print(f"sources connected {src['connected']}/{src['planned']}, rovers connected "
          f"{rov['connected']}/{rov['planned']} (refused {rov['refused']}, timed out {rov['timedOut']}, "
          f"closed early {rov['closedEarly']})")
    print(f"records sent {result['recordsSent']}, delivered {result['recordsDelivered']} of "
          f"{result['recordsExpected']}; missing {result['missing']}, corrupt {result['corrupt']}, "
          f"out of order {result['outOfOrder']}")
    ratio = result["deliveredRatio"]
    print("delivered ratio " + ("n/a (nothing expected)" if ratio is None else f"{ratio:.6f}"))
    print(f"latency ms: p50 {lat['p50']:.3f}, p99 {lat['p99']:.3f}, max {lat['max']:.3f} "
          f"({lat['samples']} records)")
    cpu = (user1 - user0) + (sys1 - sys0)
    print(f"caster CPU time during the load: {cpu:.2f} s (user {user1 - user0:.2f}, system "
          f"{sys1 - sys0:.2f}) over {wall:.1f} s wall, {100 * cpu / wall:.1f}% of one core")
    print(f"caster peak RSS (VmHWM): {peak / 1024:.1f} MiB")
    proc = result.get("process", {})
    if proc.get("complete"):
        connections = src["connected"] + rov["connected"]
        print(f"streaming window (every connection set up to the end of the drain): caster CPU "
              f"{proc['cpuSeconds']:.3f} s (user {proc['userSeconds']:.3f} s, system "
              f"{proc['cpuSeconds'] - proc['userSeconds']:.3f} s) over {proc['windowSeconds']:.1f} s")
        if connections:
            per = (proc["peakRssKib"] - empty_kib) / connections
            print(f"memory: {empty_kib / 1024:.1f} MiB before the load, peak {proc['peakRssKib'] / 1024:.1f} MiB: "
                  f"{per:.1f} KiB per connection ({connections} connections)")
    login = result.get("login")
    if login:
        print(f"login phase: {login['answers']} answers in {login['seconds']:.3f} s, answer p99 "
              f"{login['answerMs']['p99']:.1f} ms")
    if args.monitor or args.browser:
        print("web monitor on" + (", one browser attached" if args.browser else ", no browser attached"))
    if page_report:
        shown = json.loads(page_report.strip().splitlines()[-1])
        print(f"monitor page: {shown['rows']} rows listed, scrolled in {shown['steps']} screens, longest "
              f"frame gap {shown['maxFrameGapMs']} ms, {shown['longTasks']} long tasks; "
              f"browser CPU {page_cpu:.2f} s")
    for message, count in result["errors"].items():
        print(f"load tool error x{count}: {message}")
    print(f"load tool result: {'PASS' if result['passed'] else 'FAIL'}")
    sys.exit(0 if result["passed"] else 1)


if __name__ == "__main__":
    main()
