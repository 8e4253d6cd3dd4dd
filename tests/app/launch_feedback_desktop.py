#!/usr/bin/python3
"""Test helper: an X11 desktop (Xvfb, on a display it finds free itself) that launches kelvo
twice. The first kelvo (the program in argv[1]) runs without a token; once it listens on
argv[2], a second start is launched with DESKTOP_STARTUP_ID. Exits 0 when the second start
ends at once and the launch's "remove" message for that token reaches the root window, while
a window of the first kelvo carries the token as _NET_STARTUP_ID; else prints what it saw."""
import os
import socket
import subprocess
import sys
import time

from Xlib import X, display

TOKEN = "kelvo launch_TIME1234"  # a space, which the message escapes
EXPECTED = "remove: ID=kelvo\\ launch_TIME1234"


def listens(path):
    with socket.socket(socket.AF_UNIX) as probe:
        return probe.connect_ex(path) == 0


def read_startup_messages(screen, deadline):
    """The startup-notification messages that reach the root window before the deadline."""
    begin, more = (screen.intern_atom(name) for name in ("_NET_STARTUP_INFO_BEGIN", "_NET_STARTUP_INFO"))
    messages, current = [], b""
    while time.monotonic() < deadline and not (messages and messages[-1] == EXPECTED):
        if not screen.pending_events():
            time.sleep(0.05)
            continue
        event = screen.next_event()
        if event.type != X.ClientMessage or event.client_type not in (begin, more):
            continue
        current = (b"" if event.client_type == begin else current) + bytes(event.data[1])
        if b"\0" in current:
            messages.append(current.split(b"\0")[0].decode())
            current = b""
    return messages


def startup_ids(screen):
    atom = screen.intern_atom("_NET_STARTUP_ID")
    values = (window.get_full_property(atom, X.AnyPropertyType) for window in screen.screen().root.query_tree().children)
    return [value.value.decode() for value in values if value]


def main():
    ready, ready_to_write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(ready_to_write), "-nolisten", "tcp"],
                              pass_fds=[ready_to_write], stderr=subprocess.DEVNULL)
    os.close(ready_to_write)
    environment = dict(os.environ, DISPLAY=":" + os.read(ready, 16).decode().strip(), QT_QPA_PLATFORM="xcb")
    for variable in ("DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN", "WAYLAND_DISPLAY"):
        environment.pop(variable, None)
    screen = display.Display(environment["DISPLAY"])
    screen.screen().root.change_attributes(event_mask=X.PropertyChangeMask)
    screen.sync()
    first = subprocess.Popen([sys.argv[1]], env=environment)
    deadline = time.monotonic() + 30
    while not listens(sys.argv[2]) and time.monotonic() < deadline:
        time.sleep(0.1)
    second = subprocess.run([sys.argv[1]], env=dict(environment, DESKTOP_STARTUP_ID=TOKEN), timeout=30)
    messages = read_startup_messages(screen, time.monotonic() + 10)
    ids = startup_ids(screen)
    first.terminate()
    first.wait()
    server.terminate()
    if second.returncode != 0 or messages != [EXPECTED] or TOKEN not in ids:
        sys.exit(f"second start: {second.returncode}, messages: {messages}, _NET_STARTUP_ID: {ids}")


main()
