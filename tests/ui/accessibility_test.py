#!/usr/bin/python3
# The real program as a screen reader meets it through AT-SPI (pyatspi): the
# named scroll bar, memo and groups, eleven radio buttons with one checked
# (and another when pressed), and an event on Start and on Stop pressed
# through the buttons' actions.
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

LIMIT_MS = 20000
failures = []


def check(what, holds):
    print(("ok    " if holds else "FAIL  ") + what)
    if not holds:
        failures.append(what)


def await_event(kinds, found, act=None):
    """Runs the event loop until `found` returns something for an event of
    `kinds` (or for none, before the first); `act` runs once listening.
    What `found` returned, or None after LIMIT_MS."""
    result = []

    def look(event):
        value = found(event)
        if value is not None and not result:
            result.append(value)
            pyatspi.Registry.stop()

    def start():
        look(None)
        if act is not None and not result:
            act()
        return False

    def give_up():
        pyatspi.Registry.stop()
        return False

    pyatspi.Registry.registerEventListener(look, *kinds)
    GLib.idle_add(start)
    limit = GLib.timeout_add(LIMIT_MS, give_up)
    pyatspi.Registry.start()
    GLib.source_remove(limit)
    pyatspi.Registry.deregisterEventListener(look, *kinds)
    return result[0] if result else None


def main_window(_event):
    for app in pyatspi.Registry.getDesktop(0):
        for window in app or []:
            if window is not None and window.name == " Pendlo" and window.childCount > 0:
                return window
    return None


def all_of(root, role, name=None):
    return pyatspi.findAllDescendants(
        root, lambda a: a.getRoleName() == role and (name is None or a.name == name))


def press(button):
    actions = button.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    actions.doAction(names.index("Press"))


def said_by(button, text):
    def found(event):
        if event is None or event.source.name != button.name:
            return None
        return event.source.description if event.source.description == text else None
    return found


def read(window):
    for role, name in [("scroll bar", "テンポ"), ("panel", "テンポ"), ("panel", "拍子"),
                       ("panel", "変拍子・連符の定義"), ("text", "変拍子・連符の定義")]:
        check(f"{role} named {name}",
              len(all_of(window, role, name)) == 1)
    radios = all_of(window, "radio button")
    checked = [r.name for r in radios if r.getState().contains(pyatspi.STATE_CHECKED)]
    check("eleven radio buttons in the group 拍子",
          len(radios) == 11 and all(r.parent.name == "拍子" for r in radios))
    check(f"one checked, \"4\" (checked: {checked})", checked == ["4"])
    check("no check box", not all_of(window, "check box"))
    five = [r for r in radios if r.name == "5"][0]
    checked = await_event(["object:state-changed:checked"],
                          lambda e: e if e and e.source.name == "5" and e.detail1 == 1 else None,
                          lambda: press(five))
    check("pressing \"5\" checks it alone", checked is not None and [
        r.name for r in radios if r.getState().contains(pyatspi.STATE_CHECKED)] == ["5"])
    start = all_of(window, "push button", "Start")[0]
    stop = all_of(window, "push button", "Stop")[0]
    description = ["object:property-change:accessible-description"]
    check("Start is said: 演奏中",
          await_event(description, said_by(start, "演奏中"), lambda: press(start)) is not None)
    check("Stop is said: 停止中",
          await_event(description, said_by(stop, "停止中"), lambda: press(stop)) is not None)


def main():
    with tempfile.TemporaryDirectory() as home:
        # In a directory of its own the program keeps its data files there.
        binary = shutil.copy(sys.argv[1], home)
        os.mkdir(os.path.join(home, "run"), 0o700)
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_RUNTIME_DIR=os.path.join(home, "run"), SDL_AUDIODRIVER="dummy",
                   PULSE_SERVER="unix:" + os.path.join(home, "no-server"))
        with open(os.path.join(home, "log"), "w") as log:
            program = None

            def launch():
                nonlocal program
                program = subprocess.Popen([binary], env=env, stdout=log, stderr=log)

            # Listening before it starts: its first events are not missed.
            window = await_event(["object:children-changed", "object:state-changed:showing",
                                  "window:"], main_window, launch)
            check("the window appears in the tree", window is not None)
            if window is not None:
                read(window)
            program.terminate()
            check("the program ends when asked", program.wait(timeout=10) == 0)
    print("FAILED: " + "; ".join(failures) if failures else "PASSED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
