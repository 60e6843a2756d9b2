#!/usr/bin/env python3
"""Several `vantry-cli coop --loopback` processes: four peers of room AB-12 find each other and see
each other move, a peer of XY-99 stays alone, a peer that leaves and a peer that is killed disappear
from the others' lists."""
import json
import os
import subprocess
import sys
import tempfile
import time

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


procs = {"ash": peer("ash", "ab-12", 18), "birch": peer("birch", "AB-12", 18), "cedar": peer("cedar", "AB-12", 8),
         "elm": peer("elm", "AB-12", 60), "dune": peer("dune", "XY-99", 18)}
time.sleep(9)
procs["elm"][0].kill()  # gone without a word: the others must time it out
lines = {}
for name, (p, out) in procs.items():
    if p.wait(timeout=60) != 0 and name != "elm":
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
    if name == "elm":
        continue
    check(all(list(s.keys()) == keys for s in states), f"{name}: every line has the published keys in order")
    check(states[0]["statusText"] == "Offline · Ready for LAN / Wi-Fi 4P Convoy", f"{name}: starts offline")
    check(states[-1]["statusText"] == "Offline · Ready for LAN / Wi-Fi 4P Convoy", f"{name}: ends offline")

for name in ["ash", "birch"]:
    others = sorted({"ash", "birch", "cedar", "elm"} - {name})
    survivor = [n for n in others if n not in ("cedar", "elm")]
    states = lines[name]
    check(any(s["connectedPeerNames"] == others for s in states), f"{name} lists {others}")
    check(any(s["statusText"] == f"CONNECTED: {', '.join(others)} · 3D Proximity Active!" for s in states),
          f"{name}: connected status")
    for other in others:
        xs = {tuple(a["worldPos"]) for s in states for a in s["remoteAvatars"] if a["id"] == other}
        check(len(xs) >= 5, f"{name} sees {other} move ({len(xs)} positions)")
    # cedar leaves, elm is timed out (in either order); their avatars go with them.
    full = max([i for i, s in enumerate(states) if s["connectedPeerNames"] == others], default=len(states))
    alone = [i for i, s in enumerate(states) if i > full and s["connectedPeerNames"] == survivor]
    check(alone, f"{name}: cedar and elm disappear")
    check(alone and states[alone[0]]["statusText"] == f"CONNECTED: {survivor[0]} · 3D Proximity Active!",
          f"{name}: status follows")
    check(all(a["id"] == survivor[0] for i in alone for a in states[i]["remoteAvatars"]),
          f"{name}: avatars of departed peers go")
    check(states[1]["roomCode"] == "AB-12", f"{name}: room AB-12")

check(any(s["connectedPeerNames"] == ["ash", "birch", "elm"] for s in lines["cedar"]), "cedar lists the other three")
check(all(not s["connectedPeerNames"] and not s["remoteAvatars"] for s in lines["dune"]), "dune joins nobody")
check(any(s["statusText"] == "Broadcasting Room XY-99 · Searching Mac & iPad Squadmates…" for s in lines["dune"]),
      "dune broadcasts XY-99")

if failures:
    for name in ["ash", "birch"]:
        seen = []
        for s in lines[name]:
            if not seen or seen[-1] != s["connectedPeerNames"]:
                seen.append(s["connectedPeerNames"])
        failures.append(f"{name} saw {seen}")
    sys.exit("\n".join(failures))
print("coop loopback: ok")
