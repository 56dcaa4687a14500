"""The main window under weston's headless backend: the window test that maximizes and
restores it through the compositor and looks for its caption buttons on the output."""

import os
import subprocess
import sys

from desktop_session import SKIP, Session, need


def main(test_program):
    need("weston", "weston-screenshooter")
    with Session() as session:
        session.start_wayland(1280, 800)
        env = dict(session.env)
        env["QT_WAYLAND_DISABLE_WINDOWDECORATION"] = "1"
        result = subprocess.run([test_program, "--gtest_filter=WindowTest.OnWayland*"], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        print(result.stdout)
        if "Could not load the Qt platform plugin" in result.stdout or "no Qt platform plugin" in result.stdout:
            print("skipped: Qt has no Wayland platform here (install qt6-wayland)")
            return SKIP
        if result.returncode != 0:
            return 1
        if "[  SKIPPED ]" in result.stdout or "[  PASSED  ] 1 test" not in result.stdout:
            print("the Wayland window test did not run under the compositor")
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
