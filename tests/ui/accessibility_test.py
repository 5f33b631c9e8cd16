#!/usr/bin/python3
# The real program as a screen reader meets it through AT-SPI (pyatspi): the
# named scroll bar, memo and groups, eleven radio buttons with one checked,
# and an event on Start and on Stop pressed through the buttons' actions.
# Run it on an X server and a private session bus (dbus-run-session), which
# starts at-spi2-core's bus launcher when the program asks for it:
#   accessibility_test.py <pendlo binary>
# Exits 0 when every check holds, 1 when one fails, 77 when pyatspi is missing.
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import pyatspi
    from gi.repository import GLib
except ImportError as missing:
    print(f"[  SKIPPED ] no AT-SPI client: {missing}")
    sys.exit(77)


def await_event(kinds, found, act):
    """Runs `act`, then the event loop until `found(event)` holds for an
    event of `kinds`, or `found(None)` before the first; false after 20 s."""
    result = []

    def look(event):
        if not result and found(event):
            result.append(event)
            pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(look, *kinds)
    GLib.idle_add(lambda: (act(), look(None), False)[-1])
    limit = GLib.timeout_add(20000, lambda: pyatspi.Registry.stop() or False)
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(look, *kinds)
    if result:
        GLib.source_remove(limit)
    return bool(result)


def find(role, name=None):
    return [a for app in pyatspi.Registry.getDesktop(0) for a in pyatspi.findAllDescendants(
        app, lambda a: a.getRoleName() == role and name in (None, a.name))]


def pressed(name, said):
    """Presses the button `name`: whether it then describes itself as `said`."""
    button = find("push button", name)[0]
    return await_event(["object:property-change:accessible-description"],
                       lambda e: e and e.source.name == name and e.source.description == said,
                       lambda: button.queryAction().doAction(0))


with tempfile.TemporaryDirectory() as home:
    # In a directory of its own the program keeps its data files there; no
    # sound server answers, SDL's silent driver plays.
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               XDG_RUNTIME_DIR=home, SDL_AUDIODRIVER="dummy", PULSE_SERVER="unix:/nowhere")
    binary = shutil.copy(sys.argv[1], home)
    program = []
    checks = {"the window shows": await_event(
        ["object:", "window:"],
        lambda _: find("frame", " Pendlo") and find("push button", "Start"),
        lambda: program.append(subprocess.Popen([binary], env=env)))}
    for role, name in [("scroll bar", "テンポ"), ("panel", "テンポ"), ("panel", "拍子"),
                       ("panel", "変拍子・連符の定義"), ("text", "変拍子・連符の定義")]:
        checks[f"one {role} named {name}"] = len(find(role, name)) == 1
    radios = find("radio button")
    checks["eleven radio buttons in 拍子, \"4\" checked"] = len(radios) == 11 and all(
        r.parent.name == "拍子" for r in radios) and [
        r.name for r in radios if r.getState().contains(pyatspi.STATE_CHECKED)] == ["4"]
    checks["Start says 演奏中"] = pressed("Start", "演奏中")
    checks["Stop says 停止中"] = pressed("Stop", "停止中")
    program[0].terminate()
    checks["the program ends when asked"] = program[0].wait(timeout=10) == 0
for what, holds in checks.items():
    print(("ok    " if holds else "FAIL  ") + what)
sys.exit(0 if all(checks.values()) else 1)
