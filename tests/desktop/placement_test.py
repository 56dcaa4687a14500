"""Dialogs under a window manager: one opened from the keyboard opens its combo lists
below the combo when clicked, and follows a drag of its caption, every time."""

import os
import sys

from desktop_session import Session, XTool, need, wait_for
from keyboard_test import MAIN, SETTINGS, popup_below


def main(program):
    need("Xvfb", "openbox", "xdotool", "xprop", "xdpyinfo")
    with Session() as session:
        session.start_x("openbox")
        x = XTool(session)
        app = session.start([os.path.join(program, "velmora")], log=os.path.join(session.home, "velmora.log"))
        x.wait_window(app.pid, MAIN)
        wait_for(lambda: x.active_name() == MAIN, what="the main window to take the keys")
        for attempt in range(3):
            # The list has the focus at first; Settings keeps it once pressed.
            x.key("Tab", "Return") if attempt == 0 else x.key("Return")
            _, settings = x.wait_window(app.pid, SETTINGS)
            wait_for(lambda: x.active_name() == SETTINGS, what="Settings to take the keys")
            _, left, top, width, _ = settings
            # A click on the Format combo opens its list right below it.
            known = set(x.windows(app.pid))
            x.xdotool("mousemove", str(left + 250), str(top + 93), "click", "1")
            popup_below(x, app.pid, known, left + 201, top + 83 + 20, "the Format list (try %d)" % (attempt + 1))
            x.key("Escape")
            # A drag of the caption moves the dialog by the drag, no further.
            x.xdotool("mousemove", str(left + width // 2), str(top + 12), "mousedown", "1")
            for _ in range(5):
                x.xdotool("mousemove_relative", "--", "10", "6")
            x.xdotool("mouseup", "1")
            def moved():
                value = [v for v in x.windows(app.pid).values() if v[0] == SETTINGS]
                return value and (value[0][1] - left, value[0][2] - top) == (50, 30) and value
            wait_for(moved, 5, what="the dialog to follow the drag by 50,30 (try %d)" % (attempt + 1))
            x.key("Escape")
            wait_for(lambda: x.active_name() == MAIN, what="Settings to close")
        assert app.poll() is None, "the program ended"
    print("dialog placement under a window manager: ok")


if __name__ == "__main__":
    main(sys.argv[1])
