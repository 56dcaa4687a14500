"""The window driven by the keyboard alone, under Xvfb with a window manager, as a user
without a mouse drives it: add a file, change a setting, open the row menu, edit Start,
render, remove the row. Where a dialog opens, its combo lists open below the combo and
a drag of its caption moves it by the drag."""

import glob
import os
import sys

from desktop_session import Session, XTool, duration, make_tone, need, wait_for

MAIN = "Velmora"
SETTINGS = "Audio Settings \u2014 Velmora"


def row_ink(x, main):
    """How much text the first row of the list shows (bright pixels of its File cell)."""
    _, left, top, _, _ = main
    pixels = x.grab_gray(left + 20, top + 104, 280, 16)
    return sum(1 for value in pixels if value > 150)


def popup_below(x, pid, known, anchor_left, anchor_top, what):
    """The new window of the process (a combo list, a menu) and where it opened."""
    def new_window():
        for window, value in x.windows(pid).items():
            if window not in known and value[3] > 10 and value[4] > 10:
                return value
        return None
    value = wait_for(new_window, 10, what=what)
    _, left, top, _, _ = value
    assert abs(left - anchor_left) <= 12 and -6 <= top - anchor_top <= 30, \
        "%s opened at %d,%d instead of below %d,%d" % (what, left, top, anchor_left, anchor_top)
    return value


def main(program):
    need("Xvfb", "openbox", "xdotool", "xprop", "xdpyinfo", "ffmpeg", "ffprobe")
    with Session() as session:
        session.start_x("openbox")
        x = XTool(session)
        media = os.path.join(session.home, "media")
        out = os.path.join(session.home, "out")
        os.makedirs(media)
        os.makedirs(out)
        tone = os.path.join(media, "tone.wav")
        make_tone(tone, 2.0)

        app = session.start([os.path.join(program, "velmora")], log=os.path.join(session.home, "velmora.log"))
        _, main_window = x.wait_window(app.pid, MAIN)
        wait_for(lambda: x.active_name() == MAIN, what="the main window to take the keys")

        # Ctrl+O: the file chooser takes a typed path.
        before = set(x.windows(app.pid))
        x.key("ctrl+o")
        wait_for(lambda: x.active_name() not in ("", MAIN), what="the file chooser")
        x.type(tone)
        x.key("Return")
        wait_for(lambda: x.active_name() == MAIN, what="the file chooser to close")
        wait_for(lambda: row_ink(x, main_window) > 40, what="the added row")

        # The list has the focus; TAB goes on to Settings, Enter opens it.
        x.key("Tab", "Return")
        _, settings = x.wait_window(app.pid, SETTINGS)
        wait_for(lambda: x.active_name() == SETTINGS, what="Settings to take the keys")
        _, left, top, _, _ = settings
        # Its first choice (Format) has the focus: Space opens the list below it.
        known = set(x.windows(app.pid))
        x.key("space")
        popup_below(x, app.pid, known, left + 201, top + 83 + 20, "the Format list")
        x.key("Down", "Down", "Return")  # WMA -> Original -> FLAC
        x.key("Return")  # OK
        wait_for(lambda: SETTINGS not in [v[0] for v in x.windows(app.pid).values()], what="Settings to close")
        wait_for(lambda: x.active_name() == MAIN, what="the main window again")

        # Back to the list; the Menu key opens the row's menu below the row.
        x.key("shift+Tab", "Down")
        known = set(x.windows(app.pid))
        x.key("Menu")
        _, mleft, mtop, _, _ = main_window
        # The list starts at 80; its header and the first row take 42 pixels.
        popup_below(x, app.pid, known, mleft + 10 + 8, mtop + 80 + 42, "the row menu")
        x.key("Escape")

        # Right to the Start cell, F2 edits it.
        x.key("Right", "Right", "Right", "F2")
        x.key("ctrl+a")
        x.type("0.5")
        x.key("Return")

        # Ctrl+R asks for the folder, then renders.
        x.key("ctrl+r")
        wait_for(lambda: x.active_name() not in ("", MAIN), what="the folder chooser")
        x.type(out + "/")
        x.key("Return")
        if x.active_name() not in ("", MAIN):
            x.key("Return")  # the chooser went into the folder; choose it
        outputs = wait_for(lambda: glob.glob(os.path.join(out, "*.flac")), 60, what="the FLAC output")
        wait_for(lambda: x.active_name() == MAIN, what="the main window after Render")
        got = duration(outputs[0])
        assert abs(got - 1.5) < 0.01, "the output lasts %.3f s, not the 1.5 s after Start 0.5" % got

        # Delete removes the row.
        wait_for(lambda: row_ink(x, main_window) > 40, what="the finished row")
        x.key("Delete")
        wait_for(lambda: row_ink(x, main_window) == 0, what="the row to go")
        assert app.poll() is None, "the program ended"
    print("keyboard-only path: ok")


if __name__ == "__main__":
    main(sys.argv[1])
