#!/usr/bin/python3
"""Test helper: a desktop whose keyring is slow. Run in a D-Bus session of its own
(dbus-run-session), it starts an X server (Xvfb, on a display it finds free itself) with a
window manager (openbox), puts a Secret Service on the session bus that answers every call
only after DELAY_MS and then with an error (as a locked keyring nobody unlocks), runs the
command given in its arguments there (for 50 s at most) and exits with the command's code."""
import subprocess
import sys
import time

from gi.repository import Gio, GLib

from desktop_session import start_x11_with_window_manager

DELAY_MS = 10000
SERVICE = """<node><interface name="org.freedesktop.Secret.Service">
<method name="OpenSession"><arg type="s" direction="in"/><arg type="v" direction="in"/>
<arg type="v" direction="out"/><arg type="o" direction="out"/></method>
<method name="SearchItems"><arg type="a{ss}" direction="in"/>
<arg type="ao" direction="out"/><arg type="ao" direction="out"/></method>
</interface></node>"""


def answer_late(connection, sender, path, interface, method, parameters, invocation):
    def fail():
        invocation.return_dbus_error("org.freedesktop.Secret.Error.IsLocked", "the keyring stays locked")
        return GLib.SOURCE_REMOVE
    GLib.timeout_add(DELAY_MS, fail)


def main():
    server, window_manager = start_x11_with_window_manager()
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    interface = Gio.DBusNodeInfo.new_for_xml(SERVICE).interfaces[0]
    bus.register_object("/org/freedesktop/secrets", interface, answer_late)
    loop = GLib.MainLoop()
    result = {}

    def run_command(*_):
        process = subprocess.Popen(sys.argv[1:])
        started = time.monotonic()

        def ended():
            if time.monotonic() - started > 50:
                process.kill()
            result["code"] = process.poll()
            if result["code"] is None:
                return GLib.SOURCE_CONTINUE
            loop.quit()
            return GLib.SOURCE_REMOVE
        GLib.timeout_add(100, ended)

    Gio.bus_own_name_on_connection(bus, "org.freedesktop.secrets", Gio.BusNameOwnerFlags.NONE, run_command,
                                   lambda *_: loop.quit())
    loop.run()
    window_manager.terminate()
    server.terminate()
    sys.exit(result.get("code", 1))


main()
