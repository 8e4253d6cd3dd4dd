#!/usr/bin/python3
"""Test helper: the desktop's online accounts (GNOME Online Accounts) as a test scripts them.

  fake_online_accounts.py ADDRESS SMTPHOST TOKEN [DELAY_MS]

On the session bus, owns org.gnome.OnlineAccounts and keeps two accounts under its object
manager: a Google one of ADDRESS whose mail goes out through SMTPHOST ("host:port") with
STARTTLS and whose GetAccessToken gives TOKEN, and a password-based IMAP/SMTP one of
other@example.jp. Every call is answered after DELAY_MS (default 0). Prints "READY" once it
owns the name; ends when its standard input closes."""
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ROOT = "/org/gnome/OnlineAccounts"
GOA = "org.gnome.OnlineAccounts."


def main(address, smtp_host, token, delay_ms="0"):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    later = lambda answer: GLib.timeout_add(int(delay_ms), lambda: answer() and False)

    def account(provider, email, oauth2):
        interfaces = {
            GOA + "Account": {"ProviderName": provider, "MailDisabled": False, "Identity": email},
            GOA + "Mail": {"EmailAddress": email, "SmtpSupported": True, "SmtpHost": smtp_host,
                           "SmtpUserName": email, "SmtpUseSsl": False, "SmtpUseTls": True},
        }
        if oauth2:
            interfaces[GOA + "OAuth2Based"] = {"ClientId": "desktop-client"}
        return interfaces

    accounts = {ROOT + "/Accounts/account_1": account("Google", address, True),
                ROOT + "/Accounts/account_2": account("IMAP and SMTP", "other@example.jp", False)}

    class Account(dbus.service.Object):
        def __init__(self, path):
            super().__init__(bus, path)
            self.interfaces = accounts[path]

        @dbus.service.method(GOA + "OAuth2Based", out_signature="si", async_callbacks=("ok", "fail"))
        def GetAccessToken(self, ok, fail):
            later(lambda: ok(token, 3600))

        @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}",
                             async_callbacks=("ok", "fail"))
        def GetAll(self, interface, ok, fail):
            later(lambda: ok(self.interfaces.get(interface, {})))

    class Manager(dbus.service.Object):
        @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}",
                             async_callbacks=("ok", "fail"))
        def GetManagedObjects(self, ok, fail):
            later(lambda: ok({dbus.ObjectPath(path): interfaces for path, interfaces in accounts.items()}))

    keep = [Manager(bus, ROOT)] + [Account(path) for path in accounts]
    name = dbus.service.BusName("org.gnome.OnlineAccounts", bus)
    print("READY", flush=True)
    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP,
                      lambda fd, _: (os.read(fd, 4096) or loop.quit()) and True)
    loop.run()
    del keep, name


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    main(*sys.argv[1:])
