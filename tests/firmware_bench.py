#!/usr/bin/env python3
"""Benchmark (not a test), two ratios each measured in one run:

(a) a whole push_firmware run with a 16 MiB AES-256 package against the
    gateway stand-in, set against `curl -T` of the same image to the same
    stand-in with the same block size (goal: within 10 %), and the run's peak
    resident memory against the image size (goal: under three times). A run
    with the raw image shows how much of the difference is the package;
(b) the same push to a stand-in that waits 1 ms before each acknowledgement
    (a site LAN), with 512-byte blocks against the default request (goal: at
    least 2.5 times faster).

    tests/firmware_bench.py [BUILD_DIR] [ROUNDS]
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

if len(sys.argv) > 1:
    os.environ["VARNU_BUILD_DIR"] = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from gateway import BUILD_DIR, CLI, Gateway  # noqa: E402

FWMAKER = os.path.join(BUILD_DIR, "tools", "dev", "fwmaker")
IMAGE_SIZE = 16777214  # the largest image a package may hold


def timed_run(command):
    """Runs command with its output discarded; returns (seconds, peak resident KiB)."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit("failed (%d): %s" % (process.returncode, " ".join(command)))
    return seconds, usage.ru_maxrss


def slow_link(package):
    """(b): medians of 3 pushes at 512-byte blocks and at the default request, 1 ms per acknowledgement;
    returns the report's lines."""
    with Gateway("--tftp-ack-delay-ms", "1") as gw:
        push = [CLI, "--action", "push_firmware", "--ip", gw.address, "--firmwarefile", package]
        small = statistics.median(timed_run(push + ["--tftp-blksize", "512"])[0] for _ in range(3))
        default = statistics.median(timed_run(push)[0] for _ in range(3))
        sizes = sorted({e.options.get("block_size") for e in gw.log_lines("tftp")})
    return ["slow link, 1 ms per acknowledgement, block sizes used: %s" % ", ".join(sizes),
            "push at 512-byte blocks (median):  %.3f s" % small,
            "push at the default (median):      %.3f s" % default,
            "ratio 512/default:                 %.2f (goal >= 2.5)" % (small / default)]


def main():
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory(prefix="firmware-bench-") as folder:
        image = os.path.join(folder, "image.binary")
        package = os.path.join(folder, "fw.bin")
        subprocess.run([FWMAKER, "image", image, "--size", str(IMAGE_SIZE)], check=True)
        subprocess.run([FWMAKER, "package", package, image], check=True)
        package_size = os.path.getsize(package)
        with Gateway() as gw:
            push = [CLI, "--action", "push_firmware", "--ip", gw.address, "--firmwarefile", package]
            push_raw = [CLI, "--action", "push_firmware", "--ip", gw.address, "--firmwarefile", image]
            curl = ["curl", "-sS", "--tftp-blksize", "1468", "-T", image, "tftp://%s/flashraw.bin" % gw.address]
            timed_run(curl)  # warm-up: page cache and the stand-in's first transfer
            push_times, raw_times, curl_times, peaks = [], [], [], []
            for _ in range(rounds):
                seconds, peak = timed_run(push)
                push_times.append(seconds)
                peaks.append(peak)
                curl_times.append(timed_run(curl)[0])
                raw_times.append(timed_run(push_raw)[0])
            accepted = [e for e in gw.log_lines("firmware") if e.outcome == "took"]
            if len(accepted) != 2 * rounds:
                sys.exit("the stand-in accepted %d of %d upgrades" % (len(accepted), 2 * rounds))
        slow = slow_link(package)

    push_median = statistics.median(push_times)
    curl_median = statistics.median(curl_times)
    peak_mib = max(peaks) / 1024
    image_mib = IMAGE_SIZE / (1 << 20)
    print("image: %d bytes, package: %d bytes (stored, AES-256), rounds: %d" % (IMAGE_SIZE, package_size, rounds))
    print("push_firmware run (median): %.3f s" % push_median)
    print("curl -T upload    (median): %.3f s (--tftp-blksize 1468, as push_firmware asks)" % curl_median)
    print("raw image run     (median): %.3f s (the same without the package's decryption)"
          % statistics.median(raw_times))
    print("ratio push/curl:            %.3f (goal <= 1.10)" % (push_median / curl_median))
    print("peak resident memory:       %.1f MiB = %.2f x image (goal < 3)" % (peak_mib, peak_mib / image_mib))
    print("\n".join(slow))


if __name__ == "__main__":
    main()
