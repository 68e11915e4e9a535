#!/usr/bin/python3
"""The reference host's window: a card that shows the capture's preview, then its
image and text. It only draws; host.js speaks to the helper and to this window over
JSON lines: it reads {"type":"status"|"preview"|"capture"} on standard input and
writes {"type":"frame","frame":{x,y,width,height}} whenever the card moves, in
screen points from the primary screen's top-left corner, as the helper's
"captureTarget" wants them. GTK 3, not 4: GTK 4 cannot tell where its window is on
the screen, and the card's real frame is the point of this host."""
import base64
import json
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib, Gdk, Gtk  # noqa: E402

CARD_WIDTH, CARD_HEIGHT = 240, 150


def send(message):
    print(json.dumps(message), flush=True)


def pixbuf_from(data, width, height):
    loader = GdkPixbuf.PixbufLoader()
    loader.write(data)
    loader.close()
    image = loader.get_pixbuf()
    scale = min(width / image.get_width(), height / image.get_height(), 1.0)
    return image.scale_simple(max(1, int(image.get_width() * scale)), max(1, int(image.get_height() * scale)),
                              GdkPixbuf.InterpType.BILINEAR)


class HostWindow(Gtk.Window):
    def __init__(self):
        super().__init__(title="Zoba reference host")
        self.set_default_size(420, 560)
        box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=12)
        self.add(box)
        # The card the overlay flies into: a fixed-size frame the helper is told about.
        self.card = Gtk.Frame()
        self.card.set_size_request(CARD_WIDTH, CARD_HEIGHT)
        self.card.set_halign(Gtk.Align.CENTER)
        self.picture = Gtk.Image()
        self.card.add(self.picture)
        box.pack_start(self.card, False, False, 0)
        self.title = Gtk.Label(xalign=0, wrap=True)
        box.pack_start(self.title, False, False, 0)
        self.text = Gtk.TextView(editable=False, wrap_mode=Gtk.WrapMode.WORD_CHAR, monospace=True)
        scroller = Gtk.ScrolledWindow(vexpand=True)
        scroller.add(self.text)
        box.pack_start(scroller, True, True, 0)
        # Below the card, so that a longer status never moves the card the overlay flies to.
        self.status = Gtk.Label(label="Starting the helper…", xalign=0, wrap=True)
        box.pack_start(self.status, False, False, 0)
        self.frame = None
        # Polled as well: a window manager that adds its frame after mapping moves the
        # window without a configure event GTK passes on.
        self.connect("configure-event", lambda *_: GLib.idle_add(self.report_frame) and False)
        GLib.timeout_add(250, lambda: self.report_frame() or True)
        self.connect("destroy", Gtk.main_quit)

    def report_frame(self):
        window = self.get_window()
        if window is None:
            return False
        _, origin_x, origin_y = window.get_origin()
        allocation = self.card.get_allocation()
        x, y = self.card.translate_coordinates(self, 0, 0)
        frame = {"x": origin_x + x, "y": origin_y + y, "width": allocation.width, "height": allocation.height}
        if frame != self.frame:
            self.frame = frame
            send({"type": "frame", "frame": frame})
        return False

    def receive(self, message):
        kind = message.get("type")
        if kind == "status":
            self.status.set_text(message["text"])
        elif kind == "preview":
            data = base64.b64decode(message["dataUrl"].split(",", 1)[1])
            self.picture.set_from_pixbuf(pixbuf_from(data, CARD_WIDTH, CARD_HEIGHT))
            self.title.set_text(f"{message['appName']} — {message['windowTitle']}")
            self.text.get_buffer().set_text("")
        elif kind == "capture":
            self.picture.set_from_pixbuf(pixbuf_from(base64.b64decode(message["pngBase64"]), CARD_WIDTH, CARD_HEIGHT))
            self.title.set_text(f"{message['appName']} — {message['windowTitle']} ({message['width']} × {message['height']})")
            self.text.get_buffer().set_text(message["text"])


def main():
    GLib.set_prgname("zoba-reference-host")
    Gdk.set_program_class("Zoba Reference Host")
    window = HostWindow()
    window.show_all()

    # Lines are read asynchronously: a capture's line holds a whole PNG.
    lines = Gio.DataInputStream.new(Gio.UnixInputStream.new(sys.stdin.fileno(), False))
    lines.set_buffer_size(1 << 20)

    def read(stream, result):
        line, _ = stream.read_line_finish_utf8(result)
        if line is None:  # the host ended
            Gtk.main_quit()
            return
        window.receive(json.loads(line))
        stream.read_line_async(GLib.PRIORITY_DEFAULT, None, read)

    lines.read_line_async(GLib.PRIORITY_DEFAULT, None, read)
    Gtk.main()


if __name__ == "__main__":
    main()
