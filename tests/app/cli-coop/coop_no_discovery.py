#!/usr/bin/env python3
"""`vantry-cli coop --loopback` while another program holds every beacon port of its range: nobody
could ever find it, so it says why on standard error, shows the failure as its status and exits 1."""
import json
import os
import socket
import subprocess
import sys

cli = sys.argv[1]
base = 20000 + (os.getpid() % 350) * 32
env = dict(os.environ, VANTRY_COOP_LOOPBACK_PORT=str(base))
held = []
for port in range(base, base + 16):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", port))
    held.append(s)

run = subprocess.run([cli, "coop", "--loopback", "--room", "ab-12", "--name", "ash", "--seconds", "5"],
                     capture_output=True, text=True, env=env, timeout=60)
states = [json.loads(line) for line in run.stdout.splitlines()]
reason = f"every loopback beacon port {base}-{base + 15} on 127.0.0.1 is taken"
failures = []
if run.returncode != 1:
    failures.append(f"exit code {run.returncode}, expected 1")
if run.stderr != f"vantry-cli coop: cannot start discovery for room AB-12: {reason}\n":
    failures.append(f"standard error: {run.stderr!r}")
if not states or states[-1]["statusText"] != f"Room AB-12 Not Started · Discovery failed: {reason}" \
        or states[-1]["isSessionActive"]:
    failures.append(f"last state: {states[-1] if states else None}")
if any(s["statusText"].startswith("Broadcasting") for s in states):
    failures.append("claims to be broadcasting")
if failures:
    sys.exit("\n".join(failures))
print("coop without discovery: ok")
