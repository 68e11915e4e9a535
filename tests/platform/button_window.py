#!/usr/bin/python3
"""A GTK 3 window that is one big button: button_window.py WIDTH HEIGHT X Y.

Prints the X window id once the window is on screen and "clicked" on every click.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401


def main():
    width, height, x, y = (int(v) for v in sys.argv[1:5])
    window = Gtk.Window(title="Button")
    window.set_default_size(width, height)
    window.move(x, y)
    button = Gtk.Button(label="Press")
    button.connect("clicked", lambda *_: print("clicked", flush=True))
    window.add(button)
    window.connect("destroy", Gtk.main_quit)

    def shown(*_):
        window.disconnect(handler)
        GLib.timeout_add(300, lambda: print(window.get_window().get_xid(), flush=True) and False)

    handler = window.connect("map-event", shown)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
