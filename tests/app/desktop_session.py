"""What the desktop test helpers share: a bounded wait for each step, an X server with a window
manager, and kelvo's windows as the accessibility bus shows them."""
import os
import subprocess
import sys
import time

STEP_SECONDS = 20


def wait_for(what, test, seconds=STEP_SECONDS):
    """What test gives once it gives something, asked every 0.1 s; ends the helper when it
    gives nothing for the seconds allowed."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = test()
        if found:
            return found
        time.sleep(0.1)
    sys.exit("no " + what)


def start_x11_with_window_manager():
    """Xvfb on a display it finds free itself, with openbox running on it, DISPLAY set to it;
    the two processes, for the caller to end."""
    ready, ready_to_write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(ready_to_write), "-nolisten", "tcp", "-screen", "0",
                               "800x600x24"], pass_fds=[ready_to_write], stderr=subprocess.DEVNULL)
    os.close(ready_to_write)
    os.environ["DISPLAY"] = ":" + os.read(ready, 16).decode().strip()
    window_manager = subprocess.Popen(["openbox"], stderr=subprocess.DEVNULL)
    try:
        wait_for("openbox", lambda: subprocess.run(["wmctrl", "-m"], capture_output=True).returncode == 0, 10)
    except SystemExit:
        window_manager.kill()
        server.kill()
        raise
    return server, window_manager


def kelvo_windows():
    """The windows kelvo shows, over AT-SPI."""
    import pyatspi
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "kelvo":
            return [w for w in app if w is not None and w.getState().contains(pyatspi.STATE_SHOWING)]
    return []
