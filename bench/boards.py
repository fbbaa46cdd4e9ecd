"""tx4410-server --all over four USB boards in a umockdev testbed (the tests' bed host), beside a
one-board server on the same bed: each instrument's round trip (MEAS1:CODE? over its socket,
one ADC read on its board) against the one board's alone, and the worst round trip of another
board's client while a board loads against its usual one. Prints one JSON object.
Run by scripts/bench.sh in a private network (scripts/private-network.sh).
Usage: bench/boards.py SERVER BEDHOST [--quick]
"""
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SERVER, BEDHOST = sys.argv[1], sys.argv[2]
QUICK = "--quick" in sys.argv
COUNT = 200 if QUICK else 1000
IMAGE = ":03000000020100FA\n:00000001FF\n"


class Bed:
    def __init__(self, scratch, *arguments):
        server = os.path.join(scratch, "tx4410-server")
        env = {key: value for key, value in os.environ.items() if not key.startswith("TX4410_")}
        self.log = []
        self.process = subprocess.Popen(["umockdev-wrapper", BEDHOST, "--", server, *arguments],
                                        env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, text=True)
        threading.Thread(target=lambda: [self.log.append(line) for line in self.process.stderr],
                         daemon=True).start()

    def wait(self, text, after=0, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(text in line for line in self.log[after:]):
                return
            time.sleep(0.01)
        raise SystemExit(f"no log line with {text!r}:\n" + "".join(self.log))

    def tell(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stop(self):
        self.tell("stop")
        self.process.wait(30)


def round_trips(port, count, stop=None):
    """Each MEAS1:CODE? round trip in seconds, on one connection."""
    times = []
    with socket.create_connection(("127.0.0.1", port), timeout=20) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        while len(times) < count and not (stop and stop.is_set()):
            start = time.perf_counter()
            sock.sendall(b"MEAS1:CODE?\n")
            answer = b""
            while not answer.endswith(b"\n"):
                answer += sock.recv(64)
            times.append(time.perf_counter() - start)
    return times


def main():
    scratch = tempfile.mkdtemp()
    try:
        shutil.copy(SERVER, os.path.join(scratch, "tx4410-server"))
        with open(os.path.join(scratch, "TX4413.hex"), "w") as image:
            image.write(IMAGE)
        # The floor: one board, one server, on a bed of its own, measured in turns with the rest.
        alone = Bed(scratch, "--board", "1-1", "--listen", "127.0.0.1:6025", "--http", "off")
        alone.wait("listening on 127.0.0.1:6025")

        bed = Bed(scratch, "--all", "--http", "off")
        bed.wait("inst0 (1-1): listening on")
        for number in range(1, 4):
            at = len(bed.log)
            bed.tell(f"plug 1-{number + 1}")
            bed.wait(f"inst{number} (1-{number + 1}): listening on", after=at)
        # In turns, so that a drift of the machine meets every instrument alike.
        times = [[] for _ in range(5)]
        ports = [5025, 5026, 5027, 5028, 6025]
        for port in ports:
            round_trips(port, 50)
        for turn in range(10):
            for at, port in enumerate(ports[turn % 5:] + ports[:turn % 5]):
                times[ports.index(port)] += round_trips(port, COUNT // 10)
        *medians, floor = [statistics.median(each) for each in times]
        alone.stop()
        # A fifth board loads while inst0's client asks on: its worst round trip meanwhile,
        # beside its worst over as many requests with no load.
        usual_times = round_trips(5025, COUNT)
        usual = statistics.median(usual_times)
        stop = threading.Event()
        during = []
        asking = threading.Thread(target=lambda: during.extend(round_trips(5025, 10**9, stop)))
        asking.start()
        time.sleep(0.2)
        at = len(bed.log)
        loaded_from = len(during)
        bed.tell("plug 1-5")
        bed.wait("inst4 (1-5): listening on", after=at)
        stop.set()
        asking.join()
        while_loading = during[loaded_from:]
        idle = round_trips(5025, len(while_loading))
        bed.stop()
        print(json.dumps({
            "alone_median_us": floor * 1e6,
            "instrument_median_us": [m * 1e6 for m in medians],
            "instrument_ratio_to_alone": [m / floor for m in medians],
            "usual_median_us": usual * 1e6,
            "while_loading_worst_us": max(while_loading) * 1e6,
            "while_loading_requests": len(while_loading),
            "while_loading_p99_us": sorted(while_loading)[int(len(while_loading) * 0.99)] * 1e6,
            "no_load_worst_us": max(idle) * 1e6,
            # The worst request's wait beyond the worst of as many with no load, in requests'
            # usual round trips.
            "load_cost_in_requests": (max(while_loading) - max(idle)) / usual,
        }))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


main()
