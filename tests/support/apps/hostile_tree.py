#!/usr/bin/python3
"""An application that puts a hostile accessibility tree on the AT-SPI bus, as a
broken or malicious program could: it answers the bridge's calls itself (no
toolkit bridge), registers with the registry as a bridge does, and shows a plain
window so that it is the frontmost application. Prints its pid once focused,
then stays until killed or until its standard input closes.

    hostile_tree.py CASE     CASE: name | wide | cycle | deep | mute
"""
import os
import sys
import threading

# The window is GTK's; the accessible tree is ours alone.
os.environ["NO_AT_BRIDGE"] = "1"

import gi  # noqa: E402

gi.require_version("Gtk", "3.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

CASE = sys.argv[1] if len(sys.argv) > 1 else "wide"

ROOT = "/org/a11y/atspi/accessible/root"
WINDOW = "/org/a11y/atspi/accessible/window"
BASE = "/n/"  # short: 100,000 of them go into one reply

ROLE_FRAME, ROLE_LABEL, ROLE_PANEL, ROLE_PUSH_BUTTON, ROLE_APPLICATION = 23, 29, 39, 43, 75
STATE_ACTIVE, STATE_ENABLED, STATE_FOCUSABLE, STATE_SENSITIVE, STATE_SHOWING, STATE_VISIBLE = 1, 8, 11, 24, 25, 30

WIDE = 100_000
DEEP = 10_000
MUTE = 20
NAME_BYTES = 10 * 1024 * 1024


class Node:
    def __init__(self, role, name, parent, children=(), mute=()):
        self.role, self.name, self.parent, self.children, self.mute = role, name, parent, children, set(mute)


def node(path):
    """The element at `path`, made on demand so that 100,000 of them cost nothing."""
    if path == ROOT:
        return Node(ROLE_APPLICATION, "Hostile tree", "", [WINDOW])
    if path == WINDOW:
        first = {"name": "big", "wide": "panel", "cycle": "a", "deep": "0", "mute": None}[CASE]
        children = [BASE + f"m{i}" for i in range(MUTE)] if CASE == "mute" else [BASE + first]
        return Node(ROLE_FRAME, f"Hostile {CASE}", ROOT, children)
    if not path.startswith(BASE):
        return None
    key = path[len(BASE):]
    if CASE == "name" and key == "big":
        return Node(ROLE_LABEL, BIG_NAME, WINDOW)
    if CASE == "wide":
        if key == "panel":
            return Node(ROLE_PANEL, "Many", WINDOW, WIDE_CHILDREN)
        if key.startswith("c") and key[1:].isdigit() and int(key[1:]) < WIDE:
            return Node(ROLE_PUSH_BUTTON, f"Item {key[1:]}", BASE + "panel")
    if CASE == "cycle":
        # a's child is b, and b's child is a again.
        if key == "a":
            return Node(ROLE_PANEL, "Cycle A", WINDOW, [BASE + "b"])
        if key == "b":
            return Node(ROLE_PANEL, "Cycle B", BASE + "a", [BASE + "a"])
    if CASE == "deep" and key.isdigit() and int(key) < DEEP:
        level = int(key)
        parent = WINDOW if level == 0 else BASE + str(level - 1)
        children = [BASE + str(level + 1)] if level + 1 < DEEP else []
        return Node(ROLE_PANEL, f"Level {level}", parent, children)
    if CASE == "mute" and key.startswith("m") and key[1:].isdigit() and int(key[1:]) < MUTE:
        # Every other element tells its role and then never answers anything else.
        index = int(key[1:])
        mute = {"GetAll", "Get", "GetState", "GetChildren", "GetLocalizedRoleName", "GetText"} if index % 2 else ()
        return Node(ROLE_PUSH_BUTTON, f"Button {index}", WINDOW, [], mute)
    return None


BIG_NAME = ("hostile " * (NAME_BYTES // 8)) if CASE == "name" else ""
BIG_NAME_VARIANT = GLib.Variant("s", BIG_NAME)  # made once: Python copies 10 MB slowly
WIDE_CHILDREN = [BASE + f"c{i}" for i in range(WIDE)] if CASE == "wide" else []

connection = None
unanswered = []  # calls never to be answered, kept so that GDBus sends no error for them


def states_of(path):
    words = [0, 0]
    shown = [STATE_ENABLED, STATE_SENSITIVE, STATE_SHOWING, STATE_VISIBLE]
    for state in shown + ([STATE_ACTIVE] if path == WINDOW else [STATE_FOCUSABLE]):
        words[state // 32] |= 1 << (state % 32)
    return words


def reference(path):
    return (connection.get_unique_name(), path)


def accessible_property(path, item, name):
    if name == "Name":
        return BIG_NAME_VARIANT if item.name is BIG_NAME else GLib.Variant("s", item.name)
    values = {
        "Description": GLib.Variant("s", ""),
        "Parent": GLib.Variant("(so)", reference(item.parent) if item.parent else ("", "/org/a11y/atspi/null")),
        "ChildCount": GLib.Variant("i", len(item.children)),
        "Locale": GLib.Variant("s", "C"),
        "AccessibleId": GLib.Variant("s", ""),
    }
    return values.get(name)


APPLICATION_PROPERTIES = {
    "ToolkitName": GLib.Variant("s", "Hostile"),
    "Version": GLib.Variant("s", "1"),
    "AtspiVersion": GLib.Variant("s", "2.1"),
    "Id": GLib.Variant("i", 1),
}


def answer(path, interface, method, parameters):
    """(type, value) of the reply, an error name, or None for no answer ever."""
    item = node(path)
    if item is None:
        return "org.freedesktop.DBus.Error.UnknownObject"
    if method in item.mute:
        return None
    if interface == "org.freedesktop.DBus.Properties":
        wanted = parameters.unpack()
        if method == "GetAll":
            if wanted[0] == "org.a11y.atspi.Accessible":
                names = ("Name", "Description", "Parent", "ChildCount", "Locale", "AccessibleId")
                return "(a{sv})", ({n: accessible_property(path, item, n) for n in names},)
            if wanted[0] == "org.a11y.atspi.Application" and path == ROOT:
                return "(a{sv})", (APPLICATION_PROPERTIES,)
            return "(a{sv})", ({},)
        if method == "Get":
            value = None
            if wanted[0] == "org.a11y.atspi.Accessible":
                value = accessible_property(path, item, wanted[1])
            elif wanted[0] == "org.a11y.atspi.Application" and path == ROOT:
                value = APPLICATION_PROPERTIES.get(wanted[1])
            if value is None:
                return "org.freedesktop.DBus.Error.UnknownProperty"
            return "(v)", (value,)
    if interface == "org.a11y.atspi.Accessible":
        if method == "GetRole":
            return "(u)", (item.role,)
        if method in ("GetRoleName", "GetLocalizedRoleName"):
            return "(s)", ({ROLE_FRAME: "frame", ROLE_LABEL: "label", ROLE_PANEL: "panel",
                            ROLE_PUSH_BUTTON: "push button"}.get(item.role, "application"),)
        if method == "GetState":
            return "(au)", (states_of(path),)
        if method == "GetChildren":
            if item.children is WIDE_CHILDREN:
                return WIDE_REPLY
            return "(a(so))", ([reference(child) for child in item.children],)
        if method == "GetChildAtIndex":
            index = parameters.unpack()[0]
            if 0 <= index < len(item.children):
                return "((so))", (reference(item.children[index]),)
            return "((so))", (("", "/org/a11y/atspi/null"),)
        if method == "GetAttributes":
            return "(a{ss})", ({},)
        if method == "GetInterfaces":
            return "(as)", (["org.a11y.atspi.Accessible", "org.a11y.atspi.Component"],)
        if method == "GetIndexInParent":
            return "(i)", (0,)
        if method == "GetApplication":
            return "((so))", (reference(ROOT),)
    if interface == "org.a11y.atspi.Component" and method == "GetExtents":
        return "((iiii))", ((100, 80, 480, 320),)
    if interface == "org.a11y.atspi.Application" and method == "GetApplicationBusAddress":
        return "(s)", ("",)  # no peer-to-peer socket: everything goes through the bus
    return "org.freedesktop.DBus.Error.UnknownMethod"


WIDE_REPLY = None  # the 100,000 children, made once: Python takes seconds to build them


def incoming(conn, message, is_incoming):
    if not is_incoming or message.get_message_type() != Gio.DBusMessageType.METHOD_CALL:
        return message
    if message.get_interface() in ("org.freedesktop.DBus.Peer", "org.freedesktop.DBus.Introspectable"):
        return message
    reply = answer(message.get_path(), message.get_interface(), message.get_member(), message.get_body())
    if reply is None:
        unanswered.append(message)
        return None
    if isinstance(reply, str):
        out = message.new_method_error_literal(reply, "no")
    else:
        out = message.new_method_reply()
        out.set_body(reply if isinstance(reply, GLib.Variant) else GLib.Variant(*reply))
    conn.send_message(out, Gio.DBusSendMessageFlags.NONE)
    return None


def accessibility_bus():
    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", None,
                                GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, 5000, None).unpack()[0]
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


connection = accessibility_bus()
if CASE == "wide":
    WIDE_REPLY = GLib.Variant("(a(so))", ([reference(child) for child in WIDE_CHILDREN],))
connection.add_filter(incoming)
# Registered as a bridge registers its application: embedded in the registry's root.
connection.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                     GLib.Variant("((so))", (reference(ROOT),)), GLib.VariantType("((so))"),
                     Gio.DBusCallFlags.NONE, 5000, None)

window = Gtk.Window(title=f"Hostile {CASE}")
window.move(100, 80)
window.set_default_size(480, 320)
window.add(Gtk.Label(label=f"A hostile accessibility tree: {CASE}"))
window.connect("destroy", Gtk.main_quit)
announced = threading.Event()


def announce(*_):
    if not announced.is_set():
        announced.set()
        print(os.getpid(), flush=True)
    return False


window.connect("focus-in-event", announce)
window.show_all()
window.present()
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit() or False)
Gtk.main()
