"""The front panel's figures, in headless chromium on the simulated board (run by scripts/bench.sh
in a private network; prints one JSON object):
  readback_ms: from a page's Set to its readback cell showing the value read back, timed in the
    page, each repetition beside the floor_ms of a request the server refuses without the board
    (the same page, socket and JSON both ways);
  scpi_us: an SCPI client's MEAS1:CODE? round trip with no page open and with ten, in turns of
    blocks so that both meet the machine alike;
  transfer_bytes: what loading the page moves (the page, its style and script; the socket aside).
  sweep: a sweep of the same grid started on the page and by tx4410-cli on a board of its own,
    each point's time as the sweep's own clock gives it (the CSV's time_s of its last point over
    the points), and their ratio; then a long sweep from the page, the server's processor time per
    point over its first fifth and over its last, and their ratio (progress costs the same late).
Usage: /usr/bin/python3 bench/panel.py SERVER_PROGRAM CLI_PROGRAM [--quick]
"""
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--disable-background-timer-throttling",
         "--disable-renderer-backgrounding"]
quick = "--quick" in sys.argv
scratch = tempfile.mkdtemp()
server = subprocess.Popen([sys.argv[1], "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0"],
                          env=dict(os.environ, TX4410_BOARD="sim"), stderr=subprocess.PIPE, text=True)
ports = {}
while len(ports) < 2:
    line = server.stderr.readline()
    if not line:
        sys.exit("the server did not start")
    for key, marker in (("scpi", "listening on "), ("http", "HTTP on ")):
        if marker in line:
            ports[key] = int(line.split(marker)[1].split()[0].rstrip(":,").rsplit(":", 1)[1])

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in FLAGS + ["--user-data-dir=" + scratch]:
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
url = f"http://127.0.0.1:{ports['http']}/panel/"
figures = {}
try:
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
    driver.get(url)
    time.sleep(1)
    figures["transfer_bytes"] = driver.execute_script("""
        const entries = [performance.getEntriesByType('navigation')[0],
                         ...performance.getEntriesByType('resource')];
        return entries.reduce((sum, e) => sum + e.transferSize, 0);""")

    # One timed setting: Set pressed, then the readback cell shows the code read back.
    timed = """
        const [field, value, cell, wanted, done] = arguments;
        const target = document.getElementById(cell);
        const start = performance.now();
        const observer = new MutationObserver(() => {
            if (target.textContent.includes(wanted)) { observer.disconnect(); done(performance.now() - start); }
        });
        observer.observe(target, {childList: true, characterData: true, subtree: true});
        const input = document.getElementById(field);
        input.value = value;
        input.form.requestSubmit();"""
    readback, floor = [], []
    for repetition in range(10 if quick else 40):
        code, shown = ("16384", "(code 1024)") if repetition % 2 else ("49152", "(code 3072)")
        readback.append(driver.execute_async_script(timed, "code-A", code, "read-A", shown))
        floor.append(driver.execute_async_script(timed, "code-A", "x;y", "errors", "is not a number"))
        driver.execute_script("document.getElementById('errors').replaceChildren()")
    figures["readback_ms"] = {"median": statistics.median(readback), "max": max(readback)}
    figures["floor_ms"] = {"median": statistics.median(floor)}

    def round_trips(count):
        with socket.create_connection(("127.0.0.1", ports["scpi"])) as sock:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            times = []
            for _ in range(count):
                start = time.perf_counter()
                sock.sendall(b"MEAS1:CODE?\n")
                answer = b""
                while not answer.endswith(b"\n"):
                    answer += sock.recv(64)
                times.append(time.perf_counter() - start)
            return times

    driver.get("about:blank")
    pages = []
    none, ten = [], []
    count = 300 if quick else 2000
    for turn in range(2 if quick else 4):
        none += round_trips(count)
        for _ in range(10 - len(pages)):
            driver.switch_to.new_window("tab")
            driver.get(url)
            pages.append(driver.current_window_handle)
        time.sleep(2)  # every page open and fed its readback
        ten += round_trips(count)
        for handle in pages:
            driver.switch_to.window(handle)
            driver.close()
        pages = []
        driver.switch_to.window(driver.window_handles[0])
        time.sleep(1)
    figures["scpi_us"] = {"no_page": statistics.median(none) * 1e6,
                          "ten_pages": statistics.median(ten) * 1e6}
    figures["scpi_us"]["ratio"] = figures["scpi_us"]["ten_pages"] / figures["scpi_us"]["no_page"]

    def start_sweep(points):
        """Starts a sweep of DAC A on the page; its CSV link as it was before."""
        driver.execute_script("""
            const [points] = arguments;
            document.getElementById('sweep-points').value = String(points);
            document.getElementById('sweep-form').requestSubmit();""", points)

    def sweep_done(seconds):
        deadline = time.monotonic() + seconds
        while "Sweep of DAC A done" not in driver.find_element("id", "sweep-state").text:
            if time.monotonic() > deadline:
                raise RuntimeError("the page's sweep did not end")
            time.sleep(0.05)

    def last_time(table):
        rows = [line for line in table.splitlines() if line[:1].isdigit()]
        return float(rows[-1].split(",")[5]), len(rows)

    driver.get(url)
    time.sleep(1)
    grid = 1024 if quick else 4096
    start_sweep(grid)
    time.sleep(0.5)
    sweep_done(600)
    page_csv = driver.execute_async_script(
        "fetch(document.getElementById('sweep-csv').href).then(r => r.text()).then(arguments[0])")
    page_seconds, page_points = last_time(page_csv)
    cli_csv = os.path.join(scratch, "cli.csv")
    subprocess.run([sys.argv[2], "sweep", "--channel", "A", "--points", str(grid), "--csv", cli_csv],
                   env=dict(os.environ, TX4410_BOARD="sim"), check=True, capture_output=True,
                   timeout=600)
    with open(cli_csv) as written:
        cli_seconds, cli_points = last_time(written.read())
    figures["sweep"] = {"page_point_us": page_seconds / (page_points - 1) * 1e6,
                        "cli_point_us": cli_seconds / (cli_points - 1) * 1e6}
    figures["sweep"]["ratio"] = figures["sweep"]["page_point_us"] / figures["sweep"]["cli_point_us"]

    # A long sweep from the page: the server's processor time against the points done.
    hz = os.sysconf("SC_CLK_TCK")

    def server_seconds():
        with open(f"/proc/{server.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / hz

    def points_done():
        text = driver.find_element("id", "sweep-state").text
        return int(text.split(": ")[1].split()[0]) if text.startswith("Sweeping") else None

    long = 8192 if quick else 65535
    start_sweep(long)
    samples = []
    while True:
        done = points_done()
        if done is None and samples:
            break
        if done is not None:
            samples.append((done, server_seconds()))
        time.sleep(0.25)
    sweep_done(60)
    fifth = long // 5

    def per_point(low, high):
        inside = [(p, c) for p, c in samples if low <= p <= high]
        (p0, c0), (p1, c1) = inside[0], inside[-1]
        return (c1 - c0) / max(1, p1 - p0) * 1e6
    figures["sweep"]["early_cpu_us"] = per_point(0, fifth)
    figures["sweep"]["late_cpu_us"] = per_point(long - fifth, long)
    figures["sweep"]["late_to_early"] = figures["sweep"]["late_cpu_us"] / figures["sweep"]["early_cpu_us"]
finally:
    driver.quit()
    server.terminate()
    server.wait(10)
print(json.dumps(figures))
