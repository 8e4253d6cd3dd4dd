#!/usr/bin/python3
"""Test helper: the window manager's close of the first run's settings dialog is キャンセル.
Run in a D-Bus session of its own (dbus-run-session), it starts an X server (Xvfb, on a display
it finds free itself) with a window manager (openbox), then the real kelvo (the program given as
the first argument) in a scratch home without settings, so that the settings dialog opens. The
close is openbox's own (wmctrl -c). Over AT-SPI it answers the question キャンセル asks on the
first run: はい keeps the dialog open, いいえ ends kelvo, with status 0 and no settings written."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

STEP_SECONDS = 20
QUESTION = "kelvoを使うには設定を行う必要があります。設定しますか？"


def wait_for(what, test):
    deadline = time.monotonic() + STEP_SECONDS
    while time.monotonic() < deadline:
        found = test()
        if found:
            return found
        time.sleep(0.1)
    sys.exit("no " + what)


def windows():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "kelvo":
            return [w for w in app if w is not None and w.getState().contains(pyatspi.STATE_SHOWING)]
    return []


def shown(title):
    return next((w for w in windows() if w.name == title), None)


def question():
    return next((w for w in windows() if pyatspi.findDescendant(w, lambda n: n.name == QUESTION)), None)


def press(window, name):
    pyatspi.findDescendant(window, lambda n: n.getRoleName() == "push button" and n.name == name) \
        .queryAction().doAction(0)


def close_by_window_manager(title):
    subprocess.run(["wmctrl", "-c", title], check=True)
    box = wait_for("question after the close", question)
    print("closed by the window manager: asked", flush=True)
    return box


def main():
    kelvo = sys.argv[1]
    work = tempfile.mkdtemp(prefix="kelvo-x11-")
    ready, ready_to_write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(ready_to_write), "-nolisten", "tcp", "-screen", "0",
                               "800x600x24"], pass_fds=[ready_to_write], stderr=subprocess.DEVNULL)
    os.close(ready_to_write)
    os.environ["DISPLAY"] = ":" + os.read(ready, 16).decode().strip()
    window_manager = subprocess.Popen(["openbox"], stderr=subprocess.DEVNULL)
    program = None
    try:
        wait_for("openbox", lambda: subprocess.run(["wmctrl", "-m"], capture_output=True).returncode == 0)
        os.mkdir(os.path.join(work, "run"), 0o700)
        env = dict(os.environ, XDG_RUNTIME_DIR=os.path.join(work, "run"),
                   XDG_CONFIG_HOME=os.path.join(work, "config"), XDG_DATA_HOME=os.path.join(work, "data"),
                   XDG_CACHE_HOME=os.path.join(work, "cache"), HOME=work, LANGUAGE="ja",
                   QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        program = subprocess.Popen([kelvo], cwd=work, env=env)
        wait_for("settings dialog", lambda: shown("kelvoの設定"))
        press(close_by_window_manager("kelvoの設定"), "はい(Y)")
        time.sleep(0.5)
        if not shown("kelvoの設定"):
            sys.exit("the dialog closed though the user chose to set kelvo up")
        print("はい: the dialog stays", flush=True)
        press(close_by_window_manager("kelvoの設定"), "いいえ(N)")
        status = program.wait(timeout=STEP_SECONDS)
        print("いいえ: kelvo ended with status %d" % status, flush=True)
        written = os.path.exists(os.path.join(work, "config", "kelvo", "kelvo.ini"))
        sys.exit(0 if status == 0 and not written else 1)
    finally:
        if program is not None and program.poll() is None:
            program.kill()
        window_manager.terminate()
        server.terminate()
        shutil.rmtree(work, ignore_errors=True)


main()
