#!/usr/bin/python3
"""The front panel as a person sees it: tx4410-server on the simulated board, the page in Debian's
headless chromium at a window size, after a sweep and some readback, saved as PNG (the whole
page). docs/panel-screenshot.png is made with the defaults.
Usage: scripts/panel-screenshot.py [--size 1280x800] [--sign-in] [OUTPUT.png]
(build/bin/tx4410-server, or TX4410_SERVER_PROGRAM)
"""
import argparse
import os
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
parser = argparse.ArgumentParser()
parser.add_argument("output", nargs="?", default=os.path.join(root, "docs", "panel-screenshot.png"))
parser.add_argument("--size", default="1280x800")
parser.add_argument("--sign-in", action="store_true", help="the sign-in page of --http-token")
arguments = parser.parse_args()
width, height = (int(side) for side in arguments.size.split("x"))
program = os.environ.get("TX4410_SERVER_PROGRAM", os.path.join(root, "build", "bin", "tx4410-server"))

scratch = tempfile.mkdtemp()
token = os.path.join(scratch, "token")
with open(token, "w") as file:
    file.write("0123456789abcdef\n")
server = subprocess.Popen([program, "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0"]
                          + (["--http-token", token] if arguments.sign_in else []),
                          env=dict(os.environ, TX4410_BOARD="sim", TX4410_SIM_NOISE_MV="3"),
                          stderr=subprocess.PIPE, text=True)
port = None
for line in server.stderr:
    if "HTTP on " in line:
        port = int(line.split("HTTP on ")[1].split()[0].rstrip(":").rsplit(":", 1)[1])
        break
threading.Thread(target=server.stderr.read, daemon=True).start()  # the rest of its log
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
             f"--user-data-dir={scratch}/profile"]:
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def viewport(tall):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": tall, "deviceScaleFactor": 1, "mobile": width < 500})


try:
    viewport(height)
    driver.get(f"http://127.0.0.1:{port}/panel/")
    if not arguments.sign_in:
        WebDriverWait(driver, 10).until(lambda d: "Board up" in d.find_element(By.ID, "board").text)
        for name, value in [("volts-A", "1.25"), ("code-C", "40000"), ("volts-D", "4.5")]:
            driver.find_element(By.ID, name).send_keys(value + "\n")
            time.sleep(0.3)
        driver.find_element(By.ID, "pick-C").click()
        driver.find_element(By.ID, "sweep-channel").send_keys("B")
        driver.find_element(By.ID, "sweep-points").send_keys("200")
        driver.find_element(By.ID, "sweep-start").click()
        WebDriverWait(driver, 60).until(
            lambda d: "done" in d.find_element(By.ID, "sweep-state").text
            and d.execute_script("return document.getElementById('sweep-picture').naturalWidth") > 0)
        time.sleep(6)  # some readback on the chart
    # The whole page, laid out as at that window size.
    driver.execute_script("window.scrollTo(0, 0)")
    viewport(max(height, driver.execute_script("return document.documentElement.scrollHeight")))
    time.sleep(0.5)
    driver.save_screenshot(arguments.output)
finally:
    driver.quit()
    server.terminate()
    status = server.wait(20)
print(arguments.output)
sys.exit(status)
