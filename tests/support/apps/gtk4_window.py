#!/usr/bin/python3
"""A GTK 4 window for the desktop tests: an entry with the focus, a button, two
stacks, each showing one page: the first stack's other page was never shown, the
second stack's other page was shown first and then put behind; and widgets GTK 4
keeps at no size: an info bar not revealed, a closed revealer, an empty list.
With a number N as argument, N rows of four labels follow: a large window.
Prints its pid once all of that holds; stays until killed."""
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

# Not unique: every test starts a window of its own.
app = Gtk.Application(application_id="org.zoba.Gtk4Window", flags=Gio.ApplicationFlags.NON_UNIQUE)


def stack_of(first, second, shown):
    stack = Gtk.Stack()
    stack.add_named(Gtk.Label(label=first), "first")
    stack.add_named(Gtk.Label(label=second), "second")
    stack.set_visible_child_name(shown)
    return stack


def activate(application):
    window = Gtk.ApplicationWindow(application=application, title="GTK 4 test window")
    window.set_default_size(420, 240)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    entry = Gtk.Entry(text="gtk4 typed text")
    box.append(entry)
    box.append(Gtk.Button(label="GTK 4 button"))
    never = stack_of("Shown stack page", "Never shown page", "first")
    behind = stack_of("Front stack page", "Put behind page", "second")
    box.append(never)
    box.append(behind)
    bar = Gtk.InfoBar(revealed=False)
    bar.add_child(Gtk.Label(label="Info bar not revealed"))
    box.append(bar)
    revealer = Gtk.Revealer(reveal_child=False)
    revealer.set_child(Gtk.Label(label="Revealer closed"))
    box.append(revealer)
    box.append(Gtk.ListBox())
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 0
    if rows:
        grid = Gtk.Grid()
        for row in range(rows):
            for column in range(4):
                grid.attach(Gtk.Label(label=f"Cell {row}.{column}"), column, row, 1, 1)
        box.append(grid)
    window.set_child(box)
    window.present()
    entry.grab_focus()

    def announce():
        # The page put behind must have had its area before it is hidden.
        if behind.get_visible_child_name() == "second":
            if behind.get_visible_child().get_width() > 0:
                behind.set_visible_child_name("first")
            return True
        focus = window.get_focus()
        if focus is None or not (focus == entry or focus.is_ancestor(entry)):
            entry.grab_focus()
            return True
        print(os.getpid(), flush=True)
        return False

    GLib.timeout_add(20, announce)


app.connect("activate", activate)
app.run([])
