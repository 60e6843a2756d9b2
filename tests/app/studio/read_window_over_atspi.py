#!/usr/bin/python3
"""Starts the studio window (argv[1]: the `vantry` executable) with accessibility on and reads
its controls with pyatspi, over the AT-SPI bus, as a screen reader does. Every showing control
a user acts on must carry a name, and the window's own controls must come with their roles and
states. Run on a private D-Bus session with the AT-SPI bus up (tests/support/with-atspi-bus.sh)
and a display of its own."""

import os
import subprocess
import sys
import tempfile
import time

import pyatspi

INTERACTIVE = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_SLIDER, pyatspi.ROLE_TEXT,
    pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_LINK, pyatspi.ROLE_MENU_ITEM,
}

# (name as the window shows it, role, checked or None when it has no checked state to read)
EXPECTED = [
    ("Cam 1 \u00b7 Desk", pyatspi.ROLE_PAGE_TAB, True),
    ("Cam 2 \u00b7 Screen", pyatspi.ROLE_PAGE_TAB, False),
    ("Vision Cutout", pyatspi.ROLE_CHECK_BOX, False),
    ("Refine Edges", pyatspi.ROLE_CHECK_BOX, True),
    ("Float", pyatspi.ROLE_RADIO_BUTTON, True),
    ("Stand in Set", pyatspi.ROLE_RADIO_BUTTON, False),
    ("Manhattan Skyline Loft", pyatspi.ROLE_RADIO_BUTTON, True),
    ("Warm Timber Podcast", pyatspi.ROLE_RADIO_BUTTON, False),
    ("Load Slide / Demo Screen...", pyatspi.ROLE_PUSH_BUTTON, None),
    ("Key Light", pyatspi.ROLE_SLIDER, None),
    ("Export 1080p Broadcast MP4...", pyatspi.ROLE_PUSH_BUTTON, None),
    ("Server URL", pyatspi.ROLE_TEXT, None),
    ("Stream Key", pyatspi.ROLE_PASSWORD_TEXT, None),
    ("720p", pyatspi.ROLE_RADIO_BUTTON, True),
    ("Go Live", pyatspi.ROLE_PUSH_BUTTON, None),
]


def walk(node, out, depth=0):
    if node is None or depth > 60:
        return
    try:
        states = node.getState()
        out.append((node.getRole(), node.name, states.contains(pyatspi.STATE_SHOWING),
                    states.contains(pyatspi.STATE_CHECKED), node.description, node.getRoleName()))
        for i in range(node.childCount):
            walk(node.getChildAtIndex(i), out, depth + 1)
    except Exception as error:  # an object gone while walking
        print("skipped an object:", error)


def find_window(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                for j in range(app.childCount):
                    frame = app.getChildAtIndex(j)
                    if frame is not None and frame.name == "Vantry Pro":
                        return frame
        except Exception:
            pass
    return None


def main():
    vantry = sys.argv[1]
    home = tempfile.mkdtemp(prefix="vantry-atspi-")
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"), XDG_VIDEOS_DIR=os.path.join(home, "videos"))
    window = subprocess.Popen([vantry], env=env)
    try:
        # The window registers with the bus once it is up; wait for it and for its controls.
        frame = None
        nodes = []
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            if window.poll() is not None:
                print("vantry exited with", window.returncode)
                return 1
            frame = frame or find_window(window.pid)
            if frame is not None:
                nodes = []
                walk(frame, nodes)
                if any(node[1] == "Go Live" for node in nodes):
                    break
            time.sleep(0.5)
        if frame is None:
            print("the window never reached the AT-SPI bus")
            return 1

        faults = []
        showing = [n for n in nodes if n[2]]
        controls = [n for n in showing if n[0] in INTERACTIVE]
        for role, name, _, _, _, role_name in controls:
            if not name.strip():
                faults.append("unnamed %s" % role_name)
        for name, role, checked in EXPECTED:
            found = [n for n in nodes if n[1] == name]
            if not found:
                faults.append("no control named %r" % name)
                continue
            if found[0][0] != role:
                faults.append("%r is a %s, not a %s" % (name, found[0][5], str(role)))
            if checked is not None and found[0][3] != checked:
                faults.append("%r reads %s" % (name, "checked" if found[0][3] else "not checked"))
        described = [n for n in nodes if n[1] == "Export 1080p Broadcast MP4..."]
        if described and described[0][4] != "Exports a 3-second 1080p clip of the studio":
            faults.append("the export button says %r" % described[0][4])

        print("%d showing controls over AT-SPI" % len(controls))
        for _, name, _, checked, _, role_name in controls:
            print("  %-14s %r%s" % (role_name, name, " (checked)" if checked else ""))
        for fault in faults:
            print("FAULT:", fault)
        if len(controls) < 25:
            print("FAULT: only %d controls" % len(controls))
            return 1
        return 1 if faults else 0
    finally:
        window.terminate()
        try:
            window.wait(30)
        except subprocess.TimeoutExpired:
            window.kill()


if __name__ == "__main__":
    sys.exit(main())
