"""What the python end-to-end tests share: a failed check, a bounded wait on
a condition, and a free loopback port."""
import socket
import time


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


def wait_for(seconds, probe, what, every=0.1):
    """The probe's first true value, tried until `seconds` have passed."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = probe()
        if value:
            return value
        time.sleep(every)
    raise Failed("timed out: " + what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
