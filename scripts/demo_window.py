#!/usr/bin/python3
"""A small GTK 3 window for the demo: a form with known texts, focused on its entry."""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402


def main():
    GLib.set_prgname("zoba-demo")
    Gdk.set_program_class("Zoba Demo")
    window = Gtk.Window(title="ZobaCapture demo")
    window.set_default_size(640, 420)
    window.connect("destroy", Gtk.main_quit)

    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=16)
    window.add(box)

    heading = Gtk.Label()
    heading.set_markup("<big><b>Trip notes</b></big>")
    heading.set_xalign(0)
    box.pack_start(heading, False, False, 0)

    entry = Gtk.Entry()
    entry.set_placeholder_text("Where to?")
    entry.set_text("Lisbon in May")
    box.pack_start(entry, False, False, 0)

    remember = Gtk.CheckButton(label="Remember me")
    remember.set_active(True)
    box.pack_start(remember, False, False, 0)

    notes = Gtk.TextView()
    notes.get_buffer().set_text("Pastéis de nata, tram 28, Alfama at dusk.")
    box.pack_start(notes, True, True, 0)

    buttons = Gtk.Box(spacing=8)
    buttons.pack_end(Gtk.Button(label="Save"), False, False, 0)
    buttons.pack_end(Gtk.Button(label="Cancel"), False, False, 0)
    box.pack_start(buttons, False, False, 0)

    announced = []

    # Ready once the window manager has given it the focus: then it is the frontmost application.
    def announce(*_):
        if not announced:
            announced.append(True)
            print("ready", flush=True)
        return False

    window.connect("focus-in-event", announce)
    window.show_all()
    entry.grab_focus()
    window.present()
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 600, Gtk.main_quit)
    Gtk.main()


if __name__ == "__main__":
    main()
