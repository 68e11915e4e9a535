#!/usr/bin/python3
"""A GTK 3 window for the desktop tests: prints its pid once it is mapped and
focused, then stays until killed or until its standard input closes."""
import argparse
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib, Gdk, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--title", default="Zoba test window")
parser.add_argument("--name", default="zoba-test-window", help="WM_CLASS instance; the class is capitalised")
parser.add_argument("--text", default="Hello from GTK")
parser.add_argument("--form", action="store_true", help="add a placeholder, a check box and a password")
parser.add_argument("--colour", help="background colour RRGGBB")
parser.add_argument("--hidden-toolbar", action="store_true", help="add a toolbar of buttons, hidden once shown")
parser.add_argument("--at", default="100,80", help="the window's position X,Y on the root window")
parser.add_argument("--size", default="480x320", help="the window's size WxH")
parser.add_argument("--tiny", action="store_true", help="an empty 30 × 30 window, too small to capture")
parser.add_argument("--report-clicks", action="store_true",
                    help="after the pid, print \"button X Y\" (the OK button's centre on the root), then \"clicked\" per click")
args = parser.parse_args()

GLib.set_prgname(args.name)
Gdk.set_program_class(args.name.capitalize())

window = Gtk.Window(title=args.title)
if args.colour:
    css = Gtk.CssProvider()
    css.load_from_data(f"window {{ background-color: #{args.colour}; }}".encode())
    window.get_style_context().add_provider(css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
# A plain blue 48 × 48 icon, so that _NET_WM_ICON is set.
icon = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, True, 8, 48, 48)
icon.fill(0x3366CCFF)
window.set_icon(icon)
window.move(*(int(v) for v in args.at.split(",")))
if args.tiny:
    window.set_default_size(30, 30)
    window.set_resizable(False)
else:
    window.set_default_size(*(int(v) for v in args.size.split("x")))
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8)
box.pack_start(Gtk.Label(label=args.text), False, False, 0)
entry = Gtk.Entry()
entry.set_text("editable text")
box.pack_start(entry, False, False, 0)
ok = Gtk.Button(label="OK")
box.pack_start(ok, False, False, 0)
if args.form:
    where = Gtk.Entry()
    where.set_placeholder_text("Where to?")
    box.pack_start(where, False, False, 0)
    remember = Gtk.CheckButton(label="Remember me")
    remember.set_active(True)
    box.pack_start(remember, False, False, 0)
    password = Gtk.Entry()
    password.set_visibility(False)
    password.set_text("hunter2")
    box.pack_start(password, False, False, 0)
toolbar = None
if args.hidden_toolbar:
    toolbar = Gtk.Toolbar()
    for name in ("Hidden cut", "Hidden copy", "Hidden paste"):
        toolbar.insert(Gtk.ToolButton(label=name), -1)
    box.pack_start(toolbar, False, False, 0)
if args.tiny:
    # An empty GTK window opens at 200 × 200; a small child sizes it.
    spot = Gtk.DrawingArea()
    spot.set_size_request(30, 30)
    window.add(spot)
else:
    window.add(box)
window.connect("destroy", Gtk.main_quit)
if args.report_clicks:
    ok.connect("clicked", lambda *_: print("clicked", flush=True))

announced = False


def announce(*_):
    global announced
    if not announced:
        announced = True
        print(os.getpid(), flush=True)
        if args.report_clicks:
            allocation = ok.get_allocation()
            x, y = ok.translate_coordinates(window, allocation.width // 2, allocation.height // 2)
            _, originX, originY = window.get_window().get_origin()
            print(f"button {originX + x} {originY + y}", flush=True)
    return False


# Focused means the window manager gave it the input focus.
window.connect("focus-in-event", announce)
window.show_all()
if toolbar:
    toolbar.hide()  # as an application hides a toolbar the user switched off
window.present()

# The parent closing our stdin ends us too, so no window outlives its test.
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit() or False)
Gtk.main()
