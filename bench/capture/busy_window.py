#!/usr/bin/python3
"""A GTK 3 window of ordinary widgets at a given size, for the capture benchmark.

Usage: busy_window.py WIDTH HEIGHT TITLE
Prints the X window id once the window is drawn ("wayland" for a native Wayland
window, which has none).
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401


def main():
    width, height, title = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    window = Gtk.Window(title=title)
    window.set_default_size(width, height)
    window.connect("destroy", Gtk.main_quit)

    paned = Gtk.Paned()
    window.add(paned)

    rows = Gtk.ListBox()
    for i in range(120):
        row = Gtk.Box(spacing=8, margin=4)
        row.pack_start(Gtk.CheckButton(active=i % 3 == 0), False, False, 0)
        row.pack_start(Gtk.Label(label=f"Message {i}: quarterly report, draft {i % 7}"), False, False, 0)
        rows.add(row)
    scroller = Gtk.ScrolledWindow()
    scroller.add(rows)
    scroller.set_size_request(width // 3, -1)
    paned.pack1(scroller, False, False)

    form = Gtk.Grid(row_spacing=6, column_spacing=12, margin=16)
    for i in range(40):
        form.attach(Gtk.Label(label=f"Field {i}", xalign=1), 0, i, 1, 1)
        entry = Gtk.Entry(hexpand=True)
        if i % 2:
            entry.set_text(f"The quick brown fox jumps over the lazy dog {i}")
        else:
            entry.set_placeholder_text("Optional")
        form.attach(entry, 1, i, 1, 1)
        form.attach(Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1), 2, i, 1, 1)
        form.attach(Gtk.Button(label="Apply"), 3, i, 1, 1)
    form_scroller = Gtk.ScrolledWindow()
    form_scroller.add(form)
    paned.pack2(form_scroller, True, False)

    def shown(*_):
        window.disconnect(handler)
        # Let the first frame reach the screen before reporting.
        surface = window.get_window()
        ident = surface.get_xid() if hasattr(surface, "get_xid") else "wayland"
        GLib.timeout_add(400, lambda: print(ident, flush=True) and False)

    handler = window.connect("map-event", shown)
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
