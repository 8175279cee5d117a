#!/usr/bin/env python3
"""Memory cost of idle accepted connections.

Starts build/KavroServer on a temporary directory and a free loopback port,
reads its resident memory, opens N connections that send nothing, reads it
again and prints the cost per connection. Loopback only; the server is
stopped by its PID at the end.

  python3 bench/idle_connections.py [--binary build/KavroServer] [--count 2000]
"""
import argparse
import os
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/KavroServer")
    parser.add_argument("--count", type=int, default=2000)
    args = parser.parse_args()

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    port = free_port()
    with tempfile.TemporaryDirectory() as work:
        os.makedirs(os.path.join(work, "INI"))
        with open(os.path.join(work, "INI", "KavroServer.INI"), "w") as f:
            f.write(f"[SYSTEMSERVER]\nPORT={port}\nPORT2=0\n")
        server = subprocess.Popen([args.binary, "--dir", work],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  preexec_fn=lambda: resource.setrlimit(
                                      resource.RLIMIT_NOFILE, (hard, hard)))
        # Drain the server's output so that it never blocks on a full pipe.
        drain = subprocess.Popen(["cat"], stdin=server.stdout, stdout=subprocess.DEVNULL)
        try:
            def listening():
                try:
                    socket.create_connection(("127.0.0.1", port), 0.2).close()
                    return True
                except OSError:
                    return False
            if not wait_for(listening, 10):
                sys.exit("server did not start listening")
            time.sleep(0.5)
            before = rss_kib(server.pid)
            clients = [socket.create_connection(("127.0.0.1", port)) for _ in range(args.count)]
            # Let the server accept everything, then read the settled figure.
            time.sleep(2.0)
            after = rss_kib(server.pid)
            per = (after - before) / args.count
            print(f"connections {args.count}: RSS {before} KiB -> {after} KiB, "
                  f"{per:.1f} KiB per idle connection")
            for c in clients:
                c.close()
        finally:
            server.send_signal(signal.SIGTERM)
            server.wait(10)
            drain.wait(10)


if __name__ == "__main__":
    main()
