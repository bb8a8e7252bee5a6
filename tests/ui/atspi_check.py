#!/usr/bin/env python3
"""What a screen reader meets in the running panel, through AT-SPI.

Connects to the simulated board by pressing Connect, then checks that the channel buttons are
radio buttons, that every edit box, slider and drop-down list has a name, and that toggling the
R button (as a screen reader does) makes the page read the red current into the slider.
Exit status 0 when all of that holds, 1 with the reasons otherwise.
"""
import sys
import time

import pyatspi
from gi.repository import GLib

RED_CURRENT = int(sys.argv[1])
failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message, flush=True)


def walk(acc, depth=0):
    if acc is None or depth > 40:
        return
    yield acc
    for i in range(acc.childCount):
        yield from walk(acc.getChildAtIndex(i), depth + 1)


def wait_for(what, predicate, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = predicate()
        except GLib.GError:
            # An object went away while the tree was walked (a box closing): look again.
            found = None
        if found:
            return found
        time.sleep(0.2)
    raise SystemExit(f"FAIL: timed out waiting for {what}")


def panel():
    # The desktop's list of applications changes by events: take them in, and ask afresh.
    while GLib.MainContext.default().iteration(False):
        pass
    desktop = pyatspi.Registry.getDesktop(0)
    desktop.clear_cache()
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Lumivex":
            return app
    return None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def do_action(acc, *names):
    action = acc.queryAction()
    available = [action.getName(i) for i in range(action.nActions)]
    for i, name in enumerate(available):
        if name.lower() in names:
            action.doAction(i)
            return
    raise SystemExit(f"FAIL: {acc.name!r} offers {available}, none of {names}")


app = wait_for("the panel on the accessibility bus", panel)
nodes = list(walk(app))

radios = [a for a in nodes if a.name in ("R", "G", "B", "W")]
if len(radios) != 4:
    fail(f"expected the four channel buttons R, G, B, W, found {[a.name for a in radios]}")
for acc in radios:
    if acc.getRole() != pyatspi.ROLE_RADIO_BUTTON:
        fail(f"channel button {acc.name} is announced as {acc.getRoleName()}")

named_roles = {pyatspi.ROLE_TEXT: "edit box", pyatspi.ROLE_SLIDER: "slider",
               pyatspi.ROLE_COMBO_BOX: "drop-down list"}
counts = {}
for acc in nodes:
    role = acc.getRole()
    if role in named_roles:
        counts[role] = counts.get(role, 0) + 1
        if not acc.name.strip():
            fail(f"a {named_roles[role]} has no name")
        else:
            print(f"{named_roles[role]}: {acc.name!r}", flush=True)
for role, kind in named_roles.items():
    if not counts.get(role):
        fail(f"no {kind} found in the tree")

connect = [a for a in nodes if a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name == "Connect"
           and showing(a)]
if not connect:
    raise SystemExit("FAIL: no Connect button showing")
do_action(connect[0], "press", "click")


def connected():
    # A box may report the connection; dismiss it as a user would.
    for acc in walk(panel()):
        if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON and acc.name == "OK" and showing(acc):
            do_action(acc, "press", "click")
    return any(a.getRole() == pyatspi.ROLE_PUSH_BUTTON and a.name == "Disconnect"
               for a in walk(panel()))


wait_for("the connection", connected, 30.0)


def idle():
    # The status line names the port once the connection and the page's first reading are
    # done; while a command runs it names the command instead, and a toggle made then would be
    # dropped by design.
    return any(a.getRole() == pyatspi.ROLE_LABEL and a.name.startswith("COM")
               for a in walk(panel()))


wait_for("the panel to be idle", idle, 30.0)
time.sleep(0.5)

slider = [a for a in walk(panel()) if a.getRole() == pyatspi.ROLE_SLIDER and showing(a)][0]
red = [a for a in walk(panel()) if a.name == "R" and a.getRole() == pyatspi.ROLE_RADIO_BUTTON][0]
if red.getState().contains(pyatspi.STATE_CHECKED):
    fail("R is ticked before the toggle; the test would prove nothing")
before = int(slider.queryValue().currentValue)
if before == RED_CURRENT:
    fail(f"the slider already shows the red current {RED_CURRENT}")
do_action(red, "toggle")
try:
    wait_for(f"the slider to show the red current {RED_CURRENT}",
             lambda: int(slider.queryValue().currentValue) == RED_CURRENT, 15.0)
    print(f"toggle of R: slider {before} -> {RED_CURRENT}, named {slider.name!r}", flush=True)
except SystemExit as e:
    fail(str(e))
if not red.getState().contains(pyatspi.STATE_CHECKED):
    fail("R is not ticked after the toggle")

print("FAILED" if failures else "PASS: radio buttons, names and a toggle through AT-SPI")
sys.exit(1 if failures else 0)
