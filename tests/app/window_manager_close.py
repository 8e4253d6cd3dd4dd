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

from desktop_session import STEP_SECONDS, kelvo_windows, start_x11_with_window_manager, wait_for

QUESTION = "kelvoを使うには設定を行う必要があります。設定しますか？"


def shown(title):
    return next((w for w in kelvo_windows() if w.name == title), None)


def question():
    return next((w for w in kelvo_windows() if pyatspi.findDescendant(w, lambda n: n.name == QUESTION)), None)


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
    server, window_manager = start_x11_with_window_manager()
    program = None
    try:
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
