#!/usr/bin/env python3
"""The windows of the program as a screen reader meets them, over AT-SPI.

    atspi_tree.py check PROGRAM MEDIA...   starts the program with the media files and
                                           checks what the main window and Settings expose
    atspi_tree.py dump PROGRAM MEDIA...    prints the tree of every window (role, name,
                                           value, states) and leaves the checks aside

Runs inside a private session bus (dbus-run-session); it starts Xvfb, the
accessibility bus and its registry itself. Exits 77 when pyatspi is missing.
"""

import os
import subprocess
import sys
import tempfile
import time

from desktop_session import start_xvfb

ATSPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
ATSPI_REGISTRY = "/usr/libexec/at-spi2-registryd"


def wait_for(what, probe, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class Tree:
    def __init__(self, pyatspi):
        self.pyatspi = pyatspi

    def children(self, node):
        try:
            return [node.getChildAtIndex(i) for i in range(node.childCount)]
        except Exception:
            return []

    def walk(self, node, depth=0):
        yield node, depth
        for child in self.children(node):
            if child is not None:
                yield from self.walk(child, depth + 1)

    def value_of(self, node):
        try:
            return node.queryValue().currentValue
        except Exception:
            return None

    def line(self, node):
        role = node.getRoleName()
        states = node.getState()
        marks = [name for name, state in (("focused", self.pyatspi.STATE_FOCUSED),
                                          ("checked", self.pyatspi.STATE_CHECKED),
                                          ("selected", self.pyatspi.STATE_SELECTED))
                 if states.contains(state)]
        if not states.contains(self.pyatspi.STATE_ENABLED):
            marks.append("disabled")
        text = "[%s] %r" % (role, node.name)
        if node.description:
            text += " (%s)" % node.description.replace("\n", " / ")
        value = self.value_of(node)
        if value is not None:
            text += " value=%g" % value
        if marks:
            text += " {" + ", ".join(marks) + "}"
        return text

    def dump(self, node, out=sys.stdout):
        for each, depth in self.walk(node):
            print("  " * depth + self.line(each), file=out)


def find(tree, root, role, name_part):
    for node, _ in tree.walk(root):
        if node.getRoleName() == role and name_part in (node.name or ""):
            return node
    return None


def main(argv):
    if len(argv) < 3 or argv[0] not in ("check", "dump"):
        print(__doc__)
        return 2
    mode, program, media = argv[0], argv[1], argv[2:]
    import importlib.util
    if importlib.util.find_spec("pyatspi") is None:
        print("skipped: python3-pyatspi (and gir1.2-atspi-2.0) is not installed")
        return 77

    processes = []
    state = tempfile.mkdtemp(prefix="velmora-atspi-")
    failures = []

    def check(condition, message):
        print(("ok: " if condition else "FAIL: ") + message)
        if not condition:
            failures.append(message)
        return condition

    try:
        xvfb, display = start_xvfb("1280x1024")
        processes.append(xvfb)
        os.environ["DISPLAY"] = display
        processes.append(subprocess.Popen([ATSPI_LAUNCHER, "--launch-immediately"], stderr=subprocess.DEVNULL))
        processes.append(subprocess.Popen([ATSPI_REGISTRY], stderr=subprocess.DEVNULL))
        env = dict(os.environ)
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_ACCESSIBILITY": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "XDG_STATE_HOME": state,
            "HOME": state,
        })
        app_process = subprocess.Popen([program] + media, env=env)
        processes.append(app_process)

        # Imported once the accessibility bus runs: it connects at once.
        import pyatspi
        tree = Tree(pyatspi)
        desktop = pyatspi.Registry.getDesktop(0)

        def application():
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == "velmora":
                    return app
            return None

        app = wait_for("the program on the accessibility bus", application)

        def main_window():
            for child in tree.children(app):
                if find(tree, child, "table", ""):
                    return child
            return None

        window = wait_for("the main window with its list", main_window)
        table = find(tree, window, "table", "")
        rows = lambda: table.queryTable().nRows >= len(media) and table  # noqa: E731
        wait_for("the added files in the list", rows)

        if mode == "dump":
            tree.dump(app)
        print("main window:")
        tree.dump(window)

        for name in ("Add", "Render", "Settings", "Remove", "Close"):
            button = find(tree, window, "push button", name)
            check(button is not None, "main window has the push button %r" % name)
        check(find(tree, window, "push button", "") is not None
              and all(node.name for node, _ in tree.walk(window) if node.getRoleName() == "push button"),
              "every push button of the main window has a name")
        check(table.name == "Media files", "the list is the table 'Media files' (%r)" % table.name)
        grid = table.queryTable()
        headers = [grid.getColumnHeader(c).name for c in range(grid.nColumns)]
        check(headers[:2] == ["File", "State"], "the list's columns start File, State (%r)" % headers)
        first = grid.getAccessibleAt(0, 0)
        check(first.getRoleName() == "table cell" and first.name.endswith(os.path.basename(media[0])),
              "the first row's File cell reads the file (%r)" % first.name)
        state_cell = grid.getAccessibleAt(0, 1)
        check(state_cell.name == "Ready", "the first row's State cell reads 'Ready' (%r)" % state_cell.name)

        settings = find(tree, window, "push button", "Settings")
        settings.queryAction().doAction(0)

        def settings_dialog():
            for child in tree.children(app):
                if child is not None and find(tree, child, "combo box", "Format"):
                    return child
            return None

        try:
            dialog = wait_for("the Settings window", settings_dialog)
        except AssertionError:
            tree.dump(app)
            raise
        print("settings:")
        tree.dump(dialog)
        for role, name in (("combo box", "Format"), ("combo box", "Audio Sample Rate"),
                           ("combo box", "Audio Channels"), ("combo box", "Parallel Conversions"),
                           ("combo box", "WMA Code"), ("text", "Output Names"),
                           ("check box", "Check Every Output"), ("push button", "OK"),
                           ("push button", "Cancel")):
            node = find(tree, dialog, role, name)
            check(node is not None and node.name.startswith(name), "Settings has the %s %r" % (role, name))
        unnamed = [node.getRoleName() for node, _ in tree.walk(dialog)
                   if node.getRoleName() in ("combo box", "text", "check box", "push button") and not node.name]
        check(not unnamed, "every field of Settings has a name (unnamed: %r)" % unnamed)
        fmt = find(tree, dialog, "combo box", "Format")
        labels = [target.name for relation in fmt.getRelationSet()
                  if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY
                  for target in [relation.getTarget(i) for i in range(relation.getNTargets())]]
        check(labels == ["Format"], "the Format combo box is labelled by its label (%r)" % labels)
        try:
            shown = fmt.queryText().getText(0, -1)
        except NotImplementedError:
            shown = None
        check(shown == "WMA", "the Format combo box reads its choice (%r)" % shown)
    finally:
        # The program first, the display it draws on last.
        for process in reversed(processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        subprocess.run(["rm", "-rf", state], check=False)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
