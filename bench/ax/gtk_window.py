#!/usr/bin/python3
"""A large GTK 3 window for the accessibility walk benchmark: 600 list rows with a
label and a check button each, entries with placeholders, buttons and a slider.
Prints "ready" once shown; quits after the number of seconds given (600)."""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 600
    window = Gtk.Window(title="Walk benchmark")
    window.set_default_size(900, 800)
    window.connect("destroy", Gtk.main_quit)

    outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6, margin=8)
    window.add(outer)

    form = Gtk.Grid(column_spacing=8, row_spacing=4)
    for i in range(8):
        entry = Gtk.Entry()
        entry.set_placeholder_text(f"Field {i} placeholder")
        if i % 2:
            entry.set_text(f"value {i}")
        form.attach(Gtk.Label(label=f"Field {i}"), 0, i, 1, 1)
        form.attach(entry, 1, i, 1, 1)
    outer.pack_start(form, False, False, 0)

    buttons = Gtk.Box(spacing=6)
    for name in ("New", "Open", "Save", "Delete", "Help"):
        buttons.pack_start(Gtk.Button(label=name), False, False, 0)
    slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
    slider.set_value(42)
    slider.set_hexpand(True)
    buttons.pack_start(slider, True, True, 0)
    outer.pack_start(buttons, False, False, 0)

    listbox = Gtk.ListBox()
    for i in range(rows):
        row = Gtk.Box(spacing=6)
        row.pack_start(Gtk.Label(label=f"Row {i}: an item of the list"), False, False, 0)
        check = Gtk.CheckButton(label=f"Done {i}")
        check.set_active(i % 3 == 0)
        row.pack_end(check, False, False, 0)
        listbox.add(row)
    scrolled = Gtk.ScrolledWindow()
    scrolled.add(listbox)
    outer.pack_start(scrolled, True, True, 0)

    window.show_all()
    window.present()
    print("ready", flush=True)
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 600, Gtk.main_quit)
    Gtk.main()


if __name__ == "__main__":
    main()
