"""Loopback helpers shared by the benchmark scripts."""
import socket


def free_port():
    """A port on 127.0.0.1 that was free a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """True when something accepts connections on 127.0.0.1:port."""
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        return True
    except OSError:
        return False
