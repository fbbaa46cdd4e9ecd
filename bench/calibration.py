"""Calibration's figures as whole processes, one JSON object on standard output.

Usage: calibration.py BIN_DIR FOLDER [--quick]

- tx4410-cli calibrate of four channels at 33 points through tx4410-sim-meter against four
  33-point sweeps of tx4410-cli sweep through it, in turns; each run less the floor, a run that
  only brings the board up and sends one word (each sweep brings the board up once, the
  calibration once for all four);
- tx4410-cli history over FOLDER/history.sqlite (10,000 sweeps, made by TX4410-bench-calibration).
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

BIN, FOLDER = sys.argv[1], sys.argv[2]
QUICK = "--quick" in sys.argv
CLI = os.path.join(BIN, "tx4410-cli")
METER = os.path.join(BIN, "tx4410-sim-meter")


def environment(scratch):
    return dict(os.environ, TX4410_BOARD="sim", TX4410_SIM_OUTPUTS_FILE=scratch + "/outputs",
                TX4410_SIM_OFFSET_MV="3", TX4410_SIM_GAIN_ERROR_PCT="-0.3",
                TX4410_SIM_BOW_LSB="20", TX4410_DATABASE=scratch + "/records.sqlite")


def meter(env, channel="A"):
    out = subprocess.run([METER, "--listen", "127.0.0.1:0", "--once", "--detach", "--channel",
                          channel], env=env, capture_output=True, text=True, check=True)
    return out.stdout.split()[-1]


def timed(arguments, env):
    began = time.monotonic()
    done = subprocess.run([CLI, *arguments], env=env, capture_output=True, text=True)
    took = time.monotonic() - began
    if done.returncode != 0:
        raise SystemExit(f"error: could not measure: tx4410-cli {arguments[0]} failed "
                         f"({done.returncode}): {done.stderr.strip()}")
    return took


def main():
    floors, calibrations, sweeps = [], [], []
    with tempfile.TemporaryDirectory(dir=FOLDER) as scratch:
        env = environment(scratch)
        for _ in range(3 if QUICK else 11):
            floors.append(timed(["pins", "--ldac", "1"], env))
            calibrations.append(timed(
                ["calibrate", "--channel", "ALL", "--meter", meter(env), "--meter-route",
                 "ROUT:CLOS (@%n)", "--points", "33"], env))
            total = 0
            for channel in "ABCD":
                total += timed(["sweep", "--channel", channel, "--meter", meter(env, channel),
                                "--points", "33", "--carries", "none"], env)
            sweeps.append(total)
    floor = statistics.median(floors)
    calibrate = statistics.median(calibrations)
    four = statistics.median(sweeps)

    history = os.path.join(FOLDER, "history.sqlite")
    listing = []
    for _ in range(3 if QUICK else 7):
        listing.append(timed(["--database", history, "history"], os.environ))
    print(json.dumps({
        "floor_ms": floor * 1000,
        "calibrate_ms": calibrate * 1000,
        "four_sweeps_ms": four * 1000,
        "ratio_whole": calibrate / four,
        "ratio_less_floor": (calibrate - floor) / (four - 4 * floor),
        "history_10000_ms": statistics.median(listing) * 1000,
        "history_10000_worst_ms": max(listing) * 1000,
    }))


main()
