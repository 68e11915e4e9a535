#!/usr/bin/python3
"""A GTK 3 window with known widgets for the accessibility backend's tests. Prints
its pid once it has the input focus; stays until killed or its stdin closes."""
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

window = Gtk.Window(title="Backend test window")
window.set_default_size(480, 320)
window.move(120, 90)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=6)
box.pack_start(Gtk.Label(label="Hello label"), False, False, 0)
entry = Gtk.Entry()
entry.set_placeholder_text("Type here")
entry.set_text("typed text")
box.pack_start(entry, False, False, 0)
password = Gtk.Entry()
password.set_visibility(False)
password.set_text("secret-pw-123")
password.set_placeholder_text("Password")
box.pack_start(password, False, False, 0)
check = Gtk.CheckButton(label="Remember me")
check.set_active(True)
box.pack_start(check, False, False, 0)
box.pack_start(Gtk.Button(label="Submit"), False, False, 0)
slider = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
slider.set_value(42)
box.pack_start(slider, False, False, 0)
if "--combos" in sys.argv:
    # An editable combo box (its entry child is editable, the box itself is not) and a plain one.
    editable = Gtk.ComboBoxText.new_with_entry()
    editable.append_text("first choice")
    editable.get_child().set_text("typed choice")
    box.pack_start(editable, False, False, 0)
    plain = Gtk.ComboBoxText()
    plain.append_text("first choice")
    plain.append_text("chosen choice")
    plain.set_active(1)
    box.pack_start(plain, False, False, 0)
window.add(box)
window.connect("destroy", Gtk.main_quit)

announced = False


def announce(*_):
    global announced
    if not announced:
        announced = True
        print(os.getpid(), flush=True)
    return False


def rename(*_):
    # A line on stdin renames the button, for the observer's test, or moves the focus.
    line = sys.stdin.readline()
    if not line:
        Gtk.main_quit()
        return False
    if line.strip() == "focus the password":
        password.grab_focus()
    else:
        check.set_label(line.strip())
    return True


window.connect("focus-in-event", announce)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, rename)
window.show_all()
entry.grab_focus()
window.present()
Gtk.main()
