#!/usr/bin/python3
"""A large GTK window for the accessibility walk benchmark: list rows with a label
and a check button each (600 by default), entries with placeholders, buttons and a
slider; with GTK 4 also the widgets it keeps at no size (an info bar not revealed,
a closed revealer, an empty list). Arguments: seconds to stay (600), rows, and the
GTK version (3 or 4). Prints "ready" once shown."""
import sys

import gi

gtk4 = len(sys.argv) > 3 and sys.argv[3] == "4"
gi.require_version("Gtk", "4.0" if gtk4 else "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def pack(box, child, expand=False, end=False):
    if not gtk4:
        (box.pack_end if end else box.pack_start)(child, expand, expand, 0)
        return
    child.set_hexpand(expand or end)
    child.set_vexpand(expand)
    if end:
        child.set_halign(Gtk.Align.END)
    box.append(child)


def main():
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 600
    window = Gtk.Window(title="Walk benchmark")
    window.set_default_size(900, 800)
    loop = GLib.MainLoop()
    window.connect("destroy" if not gtk4 else "close-request", lambda *_: loop.quit())

    outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    for side in ("top", "bottom", "start", "end"):
        getattr(outer, f"set_margin_{side}")(8)
    window.set_child(outer) if gtk4 else window.add(outer)

    form = Gtk.Grid(column_spacing=8, row_spacing=4)
    for i in range(8):
        entry = Gtk.Entry()
        entry.set_placeholder_text(f"Field {i} placeholder")
        if i % 2:
            entry.set_text(f"value {i}")
        form.attach(Gtk.Label(label=f"Field {i}"), 0, i, 1, 1)
        form.attach(entry, 1, i, 1, 1)
    pack(outer, form)

    buttons = Gtk.Box(spacing=6)
    for name in ("New", "Open", "Save", "Delete", "Help"):
        pack(buttons, Gtk.Button(label=name))
    slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
    slider.set_value(42)
    slider.set_hexpand(True)
    pack(buttons, slider, expand=True)
    pack(outer, buttons)

    if gtk4:
        bar = Gtk.InfoBar(revealed=False)
        bar.add_child(Gtk.Label(label="Info bar not revealed"))
        pack(outer, bar)
        revealer = Gtk.Revealer(reveal_child=False)
        revealer.set_child(Gtk.Label(label="Revealer closed"))
        pack(outer, revealer)
        pack(outer, Gtk.ListBox())

    listbox = Gtk.ListBox()
    for i in range(rows):
        row = Gtk.Box(spacing=6)
        pack(row, Gtk.Label(label=f"Row {i}: an item of the list"))
        check = Gtk.CheckButton(label=f"Done {i}")
        check.set_active(i % 3 == 0)
        pack(row, check, end=True)
        listbox.append(row) if gtk4 else listbox.add(row)
    scrolled = Gtk.ScrolledWindow()
    scrolled.set_child(listbox) if gtk4 else scrolled.add(listbox)
    pack(outer, scrolled, expand=True)

    if not gtk4:
        window.show_all()
    window.present()
    print("ready", flush=True)
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 600, loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
