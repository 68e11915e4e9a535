#!/usr/bin/python3
"""A GTK 3 window for the Wayland tests (native with GDK_BACKEND=wayland, an X11
client of Xwayland with GDK_BACKEND=x11):
a solid colour area at the top, a label, a button and an entry that has the focus.
Prints its pid once the window has the keyboard focus, then "text TEXT" whenever the
entry's text changes and "clicked" per click of the button. Stays until killed or
until its standard input closes."""
import argparse
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--title", default="Zoba Wayland window")
parser.add_argument("--app-id", default="zoba-wayland-window", help="the xdg-shell app_id (GLib's prgname)")
parser.add_argument("--colour", default="20c060", help="the colour area's colour RRGGBB")
parser.add_argument("--area", default="400x200", help="the colour area's size WxH")
parser.add_argument("--label", default="Wayland label")
parser.add_argument("--button", default="Wayland button")
parser.add_argument("--text", default="", help="the entry's first text")
parser.add_argument("--report-keys", action="store_true",
                    help="print \"press KEYSYM\" and \"release KEYSYM\" for every key event the window gets")
args = parser.parse_args()

GLib.set_prgname(args.app_id)
window = Gtk.Window(title=args.title)
window.set_decorated(False)  # no client-side title bar: the colour area starts at the top
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=0)
# The window's background is the colour; the empty area at the top shows only it.
css = Gtk.CssProvider()
css.load_from_data(f"window {{ background-color: #{args.colour}; background-image: none; }}".encode())
window.get_style_context().add_provider(css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
area = Gtk.Box()
width, height = (int(v) for v in args.area.split("x"))
area.set_size_request(width, height)
box.pack_start(area, False, False, 0)
box.pack_start(Gtk.Label(label=args.label), False, False, 4)
button = Gtk.Button(label=args.button)
button.connect("clicked", lambda *_: print("clicked", flush=True))
box.pack_start(button, False, False, 4)
entry = Gtk.Entry()
entry.set_text(args.text)
entry.connect("changed", lambda e: print("text", e.get_text(), flush=True))
box.pack_start(entry, False, False, 4)
window.add(box)
window.connect("destroy", Gtk.main_quit)
if args.report_keys:
    def report(_, event, what):
        print(what, Gdk.keyval_name(event.keyval), flush=True)
        return False

    window.connect("key-press-event", report, "press")
    window.connect("key-release-event", report, "release")

announced = False


def announce(*_):
    global announced
    if not announced:
        announced = True
        print(os.getpid(), flush=True)
    return False


window.connect("focus-in-event", announce)
window.show_all()
entry.grab_focus()
window.present()

# The parent closing our stdin ends us too, so no window outlives its test.
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit() or False)
Gtk.main()
