#!/usr/bin/env python3
"""Rovers on an upstream mountpoint served through the network server stand-in: the caster's sixteen
link slots all connected to the stand-in (slot i connects 20*(i+1)+1 ticks after the start, so the
run first waits about 5.5 minutes), then the load tool's rovers log in on the stand-in's mountpoint with
GGA and check every record the stand-in sends them through the caster.

  python3 bench/upstream_rovers.py [--binary build/KavroServer] [--load-tool build/ntrip_load]
      [--net-server build/net_server] [--rovers 1000] [--duration 20] [--slots 16]

Loopback only; every process it starts is stopped by its PID; bounded in time.
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

from loopback import free_port


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--net-server", default="build/net_server")
    parser.add_argument("--rovers", type=int, default=1000)
    parser.add_argument("--duration", type=float, default=20)
    parser.add_argument("--slots", type=int, default=16)
    args = parser.parse_args()
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    wait_slots = 20 * args.slots + 30
    # The stand-in logs every connection: its output goes to a file, so that it never waits on a pipe.
    server_log = tempfile.NamedTemporaryFile(prefix="kavro-bench-net-", suffix=".txt")
    server = subprocess.Popen([args.net_server, "--port", "0", "--rate", "1024", "--chunk", "256",
                               "--duration", str(wait_slots + args.duration + 60)],
                              stdout=server_log, stderr=subprocess.STDOUT)
    caster = None
    try:
        end = time.monotonic() + 10
        first = ""
        while not first.startswith("LISTENING ") and time.monotonic() < end:
            time.sleep(0.05)
            with open(server_log.name) as f:
                first = f.readline()
        if not first.startswith("LISTENING "):
            sys.exit("the stand-in did not start")
        server_port = int(first.split()[1])
        with tempfile.TemporaryDirectory(prefix="kavro-bench-") as work:
            port = free_port()
            os.makedirs(os.path.join(work, "INI"))
            slots = "".join(f"IP{i}=127.0.0.1\nPORT{i}={server_port}\n" for i in range(1, args.slots + 1))
            with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
                f.write(f"[SYSTEMSERVER]\nPORT={port}\n[NET]\nUseNet=11\n{slots}")
            output_path = os.path.join(work, "output.txt")
            output = open(output_path, "w")
            caster = subprocess.Popen([args.binary, "--dir", work], stdout=output, stderr=subprocess.STDOUT)
            end = time.monotonic() + wait_slots
            linked = 0
            while time.monotonic() < end:
                linked = open(output_path).read().count("QVO Link Ok")
                if linked >= args.slots:
                    break
                time.sleep(1)
            print(f"link slots connected: {linked} of {args.slots}")
            command = [args.load_tool, "--json", "--port", str(port), "--sources", "0", "--mount", "UPSTREAM1",
                       "--gga", "--rovers", str(args.rovers), "--duration", str(args.duration), "--chunk", "256",
                       "--parallel", "64"]
            result = json.loads(subprocess.run(command, capture_output=True, text=True).stdout)
            lat, rov = result["latencyMs"], result["rovers"]
            print(f"rovers connected {rov['connected']}/{rov['planned']} (refused {rov['refused']}, timed out "
                  f"{rov['timedOut']}), records delivered {result['recordsDelivered']} of "
                  f"{result['recordsExpected']}; missing {result['missing']}, corrupt {result['corrupt']}, "
                  f"out of order {result['outOfOrder']}; upstream {json.dumps(result.get('upstream'))}")
            print(f"latency ms: p50 {lat['p50']:.3f}, p99 {lat['p99']:.3f}, max {lat['max']:.3f}")
            print(f"load tool result: {'PASS' if result['passed'] else 'FAIL'}")
            caster.send_signal(signal.SIGTERM)
            caster.wait(30)
            output.close()
    finally:
        for process in (caster, server):
            if process is not None and process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(20)
                except subprocess.TimeoutExpired:
                    process.kill()


if __name__ == "__main__":
    main()
