#!/usr/bin/env python3
"""Benchmark (not a test) of varnu-site against one stand-in playing 200 gateways, each reply delayed 20 ms:

(a) `varnu-site backup` wall time against `xargs -P16` running one `varnu-cli --action get_backup` per
    gateway, in the same run (goal: at most 0.6 times), and its peak resident memory (goal: 64 MiB);
(b) a second run without change: no commit, 0 bytes more in the history, no slower than the first;
(c) one channel record of one gateway changed: one commit, at most 20 KB more;
(d) one silent gateway among the 200 (goal: adds at most 35 s);
(e) the stand-in's resident memory per gateway (goal: 1 MiB).

    tests/site_bench.py [BUILD_DIR]
"""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

if len(sys.argv) > 1:
    os.environ["VARNU_BUILD_DIR"] = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from gateway import BUILD_DIR, CLI, GATEWAY_SIM  # noqa: E402
from records import LAYOUT, crc16, header  # noqa: E402

SITE = os.path.join(BUILD_DIR, "out", "cli", "varnu-site")
GATEWAYS = 200


def timed(command):
    """(seconds, peak resident KiB, exit status) of a command whose output is discarded."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    return time.perf_counter() - started, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def folder_bytes(path):
    return sum(os.path.getsize(os.path.join(root, f)) for root, _, files in os.walk(path) for f in files)


def commits(history):
    return int(subprocess.run(["git", "-C", history, "rev-list", "--count", "HEAD"], capture_output=True,
                              check=True).stdout)


def rename_first_gear(state_dir):
    path = os.path.join(state_dir, "etc/config/dali/dali1.bin")
    with open(path, "rb") as f:
        record = bytearray(f.read())
    _, size, name, _ = LAYOUT[header(record)[2]]
    record[60 + name:60 + name + 33] = b"Renamed by the benchmark".ljust(33, b"\0")
    struct.pack_into("<I", record, 4, 0)
    struct.pack_into("<I", record, 4, crc16(record))
    with open(path, "wb") as f:
        f.write(record)


def main():
    work = tempfile.mkdtemp(prefix="site-bench-")
    lines = ["--serial LM4-%d --delay 20" % i for i in range(GATEWAYS)]
    lines[0] += " --state-dir " + os.path.join(work, "state-0")
    lines.append("--serial LM4-silent --silent http")
    with open(os.path.join(work, "gateways.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    sim = subprocess.Popen([GATEWAY_SIM, "--gateways", os.path.join(work, "gateways.txt"), "--log", os.devnull],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    addresses = [sim.stdout.readline().decode().rsplit(" ", 1)[1].strip() for _ in lines]
    site, silent_site = os.path.join(work, "site.csv"), os.path.join(work, "silent.csv")
    for path, count in ((site, GATEWAYS), (silent_site, GATEWAYS + 1)):
        with open(path, "w") as f:
            f.write("name,address,model,serial,mac,notes\n")
            f.writelines("gw-%d,%s,,,,\n" % (i, a) for i, a in enumerate(addresses[:count]))
    try:
        out = os.path.join(work, "xargs")
        os.mkdir(out)
        started = time.perf_counter()
        subprocess.run(["xargs", "-P16", "-I{}", CLI, "--action", "get_backup", "--ip", "{}", "--backupfileout", out,
                        "--backupfileouttype", "zip"], input="\n".join(addresses[:GATEWAYS]).encode(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        xargs_seconds = time.perf_counter() - started
        history = os.path.join(work, "site.history")
        first, first_kib, _ = timed([SITE, "backup", site])
        size, count = folder_bytes(history), commits(history)
        second, second_kib, _ = timed([SITE, "backup", site])
        print("(a) xargs -P16 varnu-cli: %.2f s; varnu-site backup: first run %.2f s (%.2f x), %.1f MiB peak"
              % (xargs_seconds, first, first / xargs_seconds, first_kib / 1024))
        print("(b) second run, no change: %.2f s (%.2f x of xargs), %.1f MiB peak; commits %d -> %d; "
              "history +%d bytes" % (second, second / xargs_seconds, second_kib / 1024, count, commits(history),
                                     folder_bytes(history) - size))
        rename_first_gear(os.path.join(work, "state-0"))
        size = folder_bytes(history)
        timed([SITE, "backup", site])
        print("(c) one channel record changed: commits %d, history +%d bytes"
              % (commits(history), folder_bytes(history) - size))
        timed([SITE, "backup", silent_site])
        silent, _, status = timed([SITE, "backup", silent_site])
        print("(d) with one silent gateway (second run, no change): %.2f s, %.2f s more; exit status %d"
              % (silent, silent - second, status))
        with open("/proc/%d/status" % sim.pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS"))
        print("(e) stand-in: %.1f MiB resident for %d gateways, %.0f KiB each" % (rss / 1024, len(lines),
                                                                                  rss / len(lines)))
    finally:
        sim.send_signal(signal.SIGTERM)
        sim.wait()
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
