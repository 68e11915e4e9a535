#!/usr/bin/python3
"""A GTK 4 window for the desktop tests: an entry with the focus, a button, and a
stack whose second page is hidden behind the first. Prints its pid once the
entry has the focus; stays until killed."""
import os

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk  # noqa: E402

app = Gtk.Application(application_id="org.zoba.Gtk4Window")


def activate(application):
    window = Gtk.ApplicationWindow(application=application, title="GTK 4 test window")
    window.set_default_size(420, 240)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
    entry = Gtk.Entry(text="gtk4 typed text")
    box.append(entry)
    box.append(Gtk.Button(label="GTK 4 button"))
    stack = Gtk.Stack()
    stack.add_named(Gtk.Label(label="Shown stack page"), "shown")
    stack.add_named(Gtk.Label(label="Hidden stack page"), "hidden")
    stack.set_visible_child_name("shown")
    box.append(stack)
    window.set_child(box)
    window.present()
    entry.grab_focus()

    def announce():
        if not entry.has_focus():
            return True
        print(os.getpid(), flush=True)
        return False

    GLib.timeout_add(20, announce)


app.connect("activate", activate)
app.run([])
