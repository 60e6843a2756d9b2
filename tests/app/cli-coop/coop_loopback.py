#!/usr/bin/env python3
"""Several `vantry-cli coop --loopback` processes: three peers of room AB-12 find each other and see
each other move, a peer of XY-99 stays alone, and a peer that leaves disappears from the others."""
import json
import os
import subprocess
import sys
import tempfile

cli = sys.argv[1]
env = dict(os.environ)
# A beacon range of this run's own, below the ephemeral ports.
env["VANTRY_COOP_LOOPBACK_PORT"] = str(20000 + (os.getpid() % 350) * 32 + 16)


def peer(name, room, seconds):
    # Output goes to files: a full pipe would stall a peer that nobody reads yet.
    out = tempfile.TemporaryFile(mode="w+")
    proc = subprocess.Popen([cli, "coop", "--loopback", "--room", room, "--name", name, "--seconds", str(seconds)],
                            stdout=out, stderr=subprocess.DEVNULL, text=True, env=env)
    return proc, out


procs = {"ash": peer("ash", "ab-12", 9), "birch": peer("birch", "AB-12", 9), "cedar": peer("cedar", "AB-12", 5),
         "dune": peer("dune", "XY-99", 9)}
lines = {}
for name, (p, out) in procs.items():
    if p.wait(timeout=60) != 0:
        sys.exit(f"{name} exited {p.returncode}")
    out.seek(0)
    lines[name] = [json.loads(line) for line in out.read().splitlines()]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


keys = ["isSessionActive", "isVoiceMicEnabled", "roomCode", "connectedPeerNames", "remoteAvatars",
        "gameCenterPlayerName", "statusText"]
for name, states in lines.items():
    check(all(list(s.keys()) == keys for s in states), f"{name}: every line has the published keys in order")
    check(states[0]["statusText"] == "Offline · Ready for LAN / Wi-Fi 4P Convoy", f"{name}: starts offline")
    check(states[-1]["statusText"] == "Offline · Ready for LAN / Wi-Fi 4P Convoy", f"{name}: ends offline")

for name in ["ash", "birch"]:
    others = sorted({"ash", "birch", "cedar"} - {name})
    states = lines[name]
    check(any(s["connectedPeerNames"] == others for s in states), f"{name} lists {others}")
    check(any(s["statusText"] == f"CONNECTED: {', '.join(others)} · 3D Proximity Active!" for s in states),
          f"{name}: connected status")
    # After cedar leaves, only the other remains, and cedar's avatar is gone.
    last_three = max(i for i, s in enumerate(states) if s["connectedPeerNames"] == others)
    rest = [n for n in others if n != "cedar"]
    later = [s for s in states[last_three:] if s["connectedPeerNames"] == rest]
    check(later, f"{name}: cedar disappears")
    check(all(all(a["id"] != "cedar" for a in s["remoteAvatars"]) for s in later), f"{name}: cedar's avatar goes")
    for other in others:
        xs = {tuple(a["worldPos"]) for s in states for a in s["remoteAvatars"] if a["id"] == other}
        check(len(xs) >= 5, f"{name} sees {other} move ({len(xs)} positions)")
    check(states[1]["roomCode"] == "AB-12", f"{name}: room AB-12")

check(any(s["connectedPeerNames"] == ["ash", "birch"] for s in lines["cedar"]), "cedar lists ash and birch")
check(all(not s["connectedPeerNames"] and not s["remoteAvatars"] for s in lines["dune"]), "dune joins nobody")
check(any(s["statusText"] == "Broadcasting Room XY-99 · Searching Mac & iPad Squadmates…" for s in lines["dune"]),
      "dune broadcasts XY-99")

if failures:
    sys.exit("\n".join(failures))
print("coop loopback: ok")
