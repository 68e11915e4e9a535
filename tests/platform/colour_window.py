#!/usr/bin/python3
"""A GTK 3 window filled with one colour: colour_window.py RRGGBB WIDTH HEIGHT X Y TITLE.

Prints the X window id once the window is on screen, then runs until killed.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401


def main():
    colour, width, height, x, y, title = sys.argv[1:7]
    css = Gtk.CssProvider()
    css.load_from_data(f"window {{ background-color: #{colour}; }}".encode())
    window = Gtk.Window(title=title)
    window.get_style_context().add_provider(css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    window.set_default_size(int(width), int(height))
    window.move(int(x), int(y))
    window.connect("destroy", Gtk.main_quit)

    def shown(*_):
        window.disconnect(handler)
        GLib.timeout_add(300, lambda: print(window.get_window().get_xid(), flush=True) and False)

    handler = window.connect("map-event", shown)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
