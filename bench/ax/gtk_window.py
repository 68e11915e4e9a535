#!/usr/bin/python3
"""A large GTK window for the accessibility walk benchmark: list rows with a label
and a check button each (600 by default), entries with placeholders, buttons and a
slider; with GTK 4 also the widgets it keeps at no size (an info bar not revealed,
a closed revealer, an empty list). Arguments: seconds to stay (600), rows, the
GTK version (3 or 4) and the layout: "list" (default) scrolls its rows, so most are
off screen; "grid" lays about four elements per row out on screen at once, small,
in a window that fills a 1920 x 1080 desktop. Prints "ready" once shown."""
import sys

import gi

gtk4 = len(sys.argv) > 3 and sys.argv[3] == "4"
grid = len(sys.argv) > 4 and sys.argv[4] == "grid"
gi.require_version("Gtk", "4.0" if gtk4 else "3.0")
gi.require_version("Gdk", "4.0" if gtk4 else "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


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
    window.set_default_size(*((1900, 1000) if grid else (900, 800)))
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

    if grid:
        pack(outer, cells(rows * 4), expand=True)
    else:
        pack(outer, scrolled_list(rows), expand=True)

    if not gtk4:
        window.show_all()
    window.present()
    print("ready", flush=True)
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 600, loop.quit)
    loop.run()


def scrolled_list(rows):
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
    return scrolled


def cells(count):
    """Labels with a check box or a button now and then, in a small font and
    without padding, so that all of them fit on the screen; in lines of 60, as a
    real window nests its widgets (GTK 3 finds a container's nth child by walking
    its list: thousands in one container would cost it a square)."""
    css = Gtk.CssProvider()
    css.load_from_data(b".cells, .cells * { font-size: 7px; padding: 0; margin: 0;"
                       b" min-height: 0; min-width: 0; border-width: 0; }"
                       b" .cells check { min-height: 8px; min-width: 8px; -gtk-icon-transform: scale(0.6); }")
    if gtk4:
        Gtk.StyleContext.add_provider_for_display(Gdk.Display.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    else:
        Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
    table = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    table.get_style_context().add_class("cells")
    line = None
    for i in range(count):
        if i % 60 == 0:
            line = Gtk.Box(spacing=2, homogeneous=True)
            pack(table, line)
        if i % 8 == 3:
            cell = Gtk.CheckButton(label=f"C{i}")
            cell.set_active(i % 3 == 0)
        elif i % 8 == 7:
            cell = Gtk.Button(label=f"B{i}")
        else:
            cell = Gtk.Label(label=f"L{i}")
        pack(line, cell, expand=True)
    return table

if __name__ == "__main__":
    main()
