#!/usr/bin/python3
"""Test helper: kelvo on a Wayland desktop without X11. Run in a D-Bus session of its own
(dbus-run-session), it starts weston with its headless back end in a scratch runtime folder,
then the real kelvo (the program given as the first argument) natively on it
(QT_QPA_PLATFORM=wayland, no DISPLAY) with a picture on its command line, in the installed
layout of a scratch home with settings of its own. Over AT-SPI, the accessibility bus a screen
reader reads, it waits for kelvo's window and for the picture in its preview, hands a second
picture over from a later start, and quits kelvo through its File menu's Quit; kelvo must end
with status 0. Prints each step with the seconds since kelvo started; exits 0 when all went so."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

from desktop_session import STEP_SECONDS, kelvo_windows, wait_for


def write_picture(path, width, height):
    """A bitmap of one colour, which kelvo takes by its extension."""
    row = (b"\x30\x60\xc0" * width).ljust((width * 3 + 3) // 4 * 4, b"\0")
    data = row * height
    header = b"BM" + (54 + len(data)).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    info = (40).to_bytes(4, "little") + width.to_bytes(4, "little") + height.to_bytes(4, "little")
    info += (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(24)
    with open(path, "wb") as file:
        file.write(header + info + data)


def kelvo_window():
    return next((w for w in kelvo_windows() if w.name.startswith("kelvo Ver.")), None)


def preview_named(window, size):
    """The preview's picture, named for a screen reader with its size in dots."""
    return pyatspi.findDescendant(window, lambda node: size in (node.name or ""))


def main():
    kelvo = sys.argv[1]
    work = tempfile.mkdtemp(prefix="kelvo-wayland-")
    runtime = os.path.join(work, "run")
    os.mkdir(runtime, 0o700)
    config = os.path.join(work, "config", "kelvo")
    os.makedirs(config)
    with open(os.path.join(config, "kelvo.ini"), "wb") as ini:
        ini.write(b"[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nID=kelvo\r\n"
                  b"SMTP=127.0.0.1\r\nPort=1\r\nDest=hanako@example.jp\r\n[keitai]\r\ndotsettei=0\r\nrfsize=0\r\n"
                  b"[Koukoku]\r\nflg=2\r\n")
    write_picture(os.path.join(work, "wide.bmp"), 640, 480)
    write_picture(os.path.join(work, "tall.bmp"), 480, 640)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_DATA_HOME=os.path.join(work, "data"), XDG_CACHE_HOME=os.path.join(work, "cache"),
               HOME=work, LANGUAGE="ja", WAYLAND_DISPLAY="wayland-kelvo", QT_QPA_PLATFORM="wayland",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    env.pop("DISPLAY", None)
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--socket=wayland-kelvo",
                               "--idle-time=0"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first = None
    try:
        wait_for("weston socket", lambda: os.path.exists(os.path.join(runtime, "wayland-kelvo")))
        started = time.monotonic()

        def step(text):
            print("%5.2f s  %s" % (time.monotonic() - started, text), flush=True)
        first = subprocess.Popen([kelvo, "wide.bmp"], cwd=work, env=env)
        window = wait_for("kelvo window on the accessibility bus", kelvo_window)
        step("window shown: " + window.name)
        wait_for("preview of the picture on the command line", lambda: preview_named(window, "95×71"))
        step("picture on the command line shown, 95×71")
        later = subprocess.run([kelvo, "tall.bmp"], cwd=work, env=env, timeout=STEP_SECONDS)
        if later.returncode != 0:
            sys.exit("the later start ended with %d" % later.returncode)
        wait_for("preview of the handed-over picture", lambda: preview_named(window, "71×95"))
        step("picture handed over by a later start shown, 71×95")
        quit_item = wait_for("the Quit menu item", lambda: pyatspi.findDescendant(
            window, lambda node: node.getRoleName() == "menu item" and node.name == "終了"))
        quit_item.queryAction().doAction(0)
        status = first.wait(timeout=STEP_SECONDS)
        step("quit, status %d" % status)
        sys.exit(0 if status == 0 else 1)
    finally:
        if first is not None and first.poll() is None:
            first.kill()
        weston.terminate()
        weston.wait()
        shutil.rmtree(work, ignore_errors=True)


main()
