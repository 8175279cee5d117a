#!/usr/bin/env python3
"""Relay cost per rover per chunk, in instructions: repeatable on a noisy machine.

Runs the caster under valgrind's callgrind with collection switched on only inside the relay of a
base's chunk to its rovers (DataDispatch::RelayBaseChunk and everything it calls: the write event,
the write queue, the send call's user-space part), plays 1 source to --rovers rovers with the load
tool, and divides the instructions counted by the records the rovers received (one record per
chunk). The kernel's share of each send is not counted: callgrind sees user space only.

  python3 bench/relay_cost.py [--binary build/KavroServer] [--load-tool build/ntrip_load]
      [--rovers 200] [--duration 10] [--monitor]

--monitor turns the web monitor on (no page attached). Loopback only; the caster is stopped by its PID.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

from loopback import free_port, listening


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--load-tool", default="build/ntrip_load")
    parser.add_argument("--rovers", type=int, default=200)
    parser.add_argument("--duration", type=float, default=10)
    parser.add_argument("--monitor", action="store_true")
    args = parser.parse_args()

    port = free_port()
    monitor_port = free_port() if args.monitor else 0
    with tempfile.TemporaryDirectory(prefix="kavro-relay-cost-") as work:
        os.makedirs(os.path.join(work, "INI"))
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={port}\nPORT2=0\n[MONITOR]\nPORT={monitor_port}\n")
        profile = os.path.join(work, "callgrind.out")
        output = open(os.path.join(work, "caster-output.txt"), "w")
        caster = subprocess.Popen(["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile}",
                                   "--toggle-collect=DataDispatch::RelayBaseChunk*",
                                   args.binary, "--dir", work], stdout=output, stderr=subprocess.STDOUT)
        try:
            end = time.monotonic() + 60
            while not listening(port):
                if caster.poll() is not None or time.monotonic() > end:
                    sys.exit("the caster did not start listening")
                time.sleep(0.2)
            load = subprocess.run([args.load_tool, "--json", "--port", str(port), "--sources", "1",
                                   "--rovers", str(args.rovers), "--duration", str(args.duration),
                                   "--rate", "1024", "--chunk", "256", "--drain", "3",
                                   "--connect-timeout", "30"], stdout=subprocess.PIPE, text=True)
            result = json.loads(load.stdout)
        finally:
            caster.send_signal(signal.SIGTERM)
            try:
                caster.wait(120)
            except subprocess.TimeoutExpired:
                caster.kill()
                caster.wait()
            output.close()
        summary = subprocess.run(["callgrind_annotate", profile], stdout=subprocess.PIPE, text=True).stdout
    match = re.search(r"([\d,]+)\s+(?:\(100\.0%\)\s+)?PROGRAM TOTALS", summary)
    if not match:
        sys.exit("no instruction total in the callgrind profile")
    instructions = int(match.group(1).replace(",", ""))
    delivered = result["recordsDelivered"]
    if delivered == 0:
        sys.exit("no record was delivered")
    print(f"relay: 1 source -> {args.rovers} rovers, {result['recordsSent']} chunks of 256 bytes, "
          f"{delivered} delivered" + (", web monitor on" if args.monitor else ""))
    print(f"instructions in the relay of a chunk (callgrind Ir): {instructions:,}; "
          f"per rover per chunk: {instructions / delivered:.0f}")
    sys.exit(0 if result["passed"] else 1)


if __name__ == "__main__":
    main()
