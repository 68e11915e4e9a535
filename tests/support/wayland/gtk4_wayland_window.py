#!/usr/bin/python3
"""A native Wayland GTK 4 window for the Wayland tests (run with GDK_BACKEND=wayland):
its background a solid colour, a label, a button and an entry that has the focus.
Prints its pid once the window is active. Stays until killed or until its standard
input closes."""
import argparse
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--title", default="Zoba GTK 4 window")
parser.add_argument("--app-id", default="zoba-gtk4-window", help="the xdg-shell app_id (GLib's prgname)")
parser.add_argument("--colour", default="c08020", help="the background colour RRGGBB")
parser.add_argument("--label", default="GTK 4 label")
parser.add_argument("--button", default="GTK 4 button")
args = parser.parse_args()

GLib.set_prgname(args.app_id)
Gtk.init()
loop = GLib.MainLoop()
window = Gtk.Window(title=args.title)
window.set_decorated(False)
css = Gtk.CssProvider()
css.load_from_data(f"window {{ background-color: #{args.colour}; background-image: none; }}".encode())
Gtk.StyleContext.add_provider_for_display(window.get_display(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
area = Gtk.Box()
area.set_size_request(400, 200)
box.append(area)
box.append(Gtk.Label(label=args.label))
box.append(Gtk.Button(label=args.button))
entry = Gtk.Entry()
box.append(entry)
window.set_child(box)
window.connect("close-request", lambda *_: loop.quit() or False)

announced = False


def announce(*_):
    global announced
    if window.is_active() and not announced:
        announced = True
        print(os.getpid(), flush=True)


window.connect("notify::is-active", announce)
window.present()
entry.grab_focus()

GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_HUP | GLib.IO_IN, lambda *_: loop.quit() or False)
loop.run()
