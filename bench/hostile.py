"""What hostile or careless peers cost tx4410-server's other clients, on the simulated board (run
by scripts/bench.sh in a private network; prints one JSON object):
  scpi_us: an SCPI client's MEAS1:CODE? round trip, median, with no other connection and with
    1,000 silent ones held open on VXI-11's abort channel and on HTTP (500 each), in turns of
    blocks so that both meet the machine alike; the server's descriptors held to 1024;
  memory_mb: the server's peak resident memory while 16 socket clients each send queries and
    never read an answer, until each meets its output limit.
Usage: /usr/bin/python3 bench/hostile.py SERVER_PROGRAM [--quick]
"""
import json
import os
import resource
import socket
import statistics
import subprocess
import sys
import threading
import time

quick = "--quick" in sys.argv
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def limited():
    resource.setrlimit(resource.RLIMIT_NOFILE, (1024, 1024))


def start():
    server = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0"],
                              env=dict(os.environ, TX4410_BOARD="sim"), stderr=subprocess.PIPE,
                              text=True, preexec_fn=limited)
    ports = {}
    while len(ports) < 3:
        line = server.stderr.readline()
        if not line:
            sys.exit("the server did not start")
        for key, marker in (("scpi", "listening on "), ("http", "HTTP on "), ("core", "VXI-11 on ")):
            if marker in line:
                ports[key] = int(line.split(marker)[1].split()[0].rstrip(":,").rsplit(":", 1)[1])
    # Its log read to the end, as a journal reads it: a log no one reads would stop it.
    threading.Thread(target=lambda: [None for _ in server.stderr], daemon=True).start()
    return server, ports


def abort_port(core):
    """The abort channel's port, as create_link gives it."""
    import struct
    with socket.create_connection(("127.0.0.1", core)) as sock:
        body = struct.pack(">10I", 1, 0, 2, 0x0607AF, 1, 10, 0, 0, 0, 0) \
            + struct.pack(">3I", 4242, 0, 0) + struct.pack(">I", 5) + b"inst0\0\0\0"
        sock.sendall(struct.pack(">I", 0x80000000 | len(body)) + body)
        reply = b""
        while len(reply) < 4 + 24 + 16:
            reply += sock.recv(4096)
        return struct.unpack(">I", reply[4 + 24 + 8:4 + 24 + 12])[0]


def round_trips(port, count):
    with socket.create_connection(("127.0.0.1", port)) as sock:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        times = []
        for _ in range(count):
            begun = time.perf_counter()
            sock.sendall(b"MEAS1:CODE?\n")
            answer = b""
            while not answer.endswith(b"\n"):
                answer += sock.recv(64)
            times.append(time.perf_counter() - begun)
        return times


def silent(port, count):
    """Connections that never say a word: those the server takes, and those its backlog holds."""
    held = []
    for _ in range(count):
        sock = socket.socket()
        sock.setblocking(False)
        try:
            sock.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        except OSError:
            sock.close()
            continue
        held.append(sock)
    return held


figures = {}
server, ports = start()
try:
    aborts = abort_port(ports["core"])
    count = 300 if quick else 2000
    none, flooded = [], []
    for turn in range(2 if quick else 4):
        none += round_trips(ports["scpi"], count)
        held = silent(aborts, 500) + silent(ports["http"], 500)
        time.sleep(0.5)
        flooded += round_trips(ports["scpi"], count)
        for sock in held:
            sock.close()
        time.sleep(0.5)
    figures["scpi_us"] = {"none": statistics.median(none) * 1e6,
                          "flooded": statistics.median(flooded) * 1e6}
    figures["scpi_us"]["ratio"] = figures["scpi_us"]["flooded"] / figures["scpi_us"]["none"]
finally:
    server.terminate()
    server.wait(10)

# Sixteen clients that never read: each meets its output limit, and is closed there.
server, ports = start()
try:
    clients = [socket.create_connection(("127.0.0.1", ports["scpi"])) for _ in range(16)]
    query = b"*IDN?;*IDN?;*IDN?;*IDN?\n" * 256
    open_ones = list(clients)
    deadline = time.monotonic() + 120
    while open_ones and time.monotonic() < deadline:
        pass
        for sock in list(open_ones):
            sock.setblocking(False)
            try:
                sock.send(query)
            except BlockingIOError:
                pass
            except OSError:
                open_ones.remove(sock)
        time.sleep(0.01)
    with open(f"/proc/{server.pid}/status") as status:
        peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM"))
    figures["memory_mb"] = {"peak": peak / 1024, "clients_still_open": len(open_ones)}
    for sock in clients:
        sock.close()
finally:
    server.terminate()
    server.wait(10)
print(json.dumps(figures))
