"""A desktop portal of the tests' own on a private session bus: it owns the portal's name
and answers Screenshot as the desktop's portal does, on the request object named by the
caller's handle_token.

    fake_portal.py ADDRESS ANSWER_FILE LOG_FILE

What it answers is read from ANSWER_FILE at each call: "file PATH" (success, with PATH as
a file: URI), "uri URI" (success with that URI), "cancel" (response 1), "fail" (response
2) or "silent" (no answer). Each call's arguments go to LOG_FILE as one JSON line; "ready"
is the first line once the name is owned."""
import json
import sys
import urllib.parse

from gi.repository import Gio, GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
XML = """<node><interface name="org.freedesktop.portal.Screenshot">
  <method name="Screenshot">
    <arg type="s" name="parent_window" direction="in"/>
    <arg type="a{sv}" name="options" direction="in"/>
    <arg type="o" name="handle" direction="out"/>
  </method>
  <property name="version" type="u" access="read"/>
</interface></node>"""


def main(address, answer_file, log_file):
    log = open(log_file, "a", buffering=1)
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
             | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    loop = GLib.MainLoop()

    def respond(path, code, results):
        bus.emit_signal(None, path, "org.freedesktop.portal.Request", "Response",
                        GLib.Variant("(ua{sv})", (code, results)))
        return False

    def call(connection, sender, path, interface, method, params, invocation):
        parent, options = params.unpack()
        token = options.get("handle_token", "")
        request = f"{PATH}/request/{sender[1:].replace('.', '_')}/{token}"
        answer = open(answer_file).read().strip()
        log.write(json.dumps({"parent_window": parent, "options": options,
                              "answer": answer}) + "\n")
        invocation.return_value(GLib.Variant("(o)", (request,)))
        kind, _, arg = answer.partition(" ")
        if kind == "file":
            uri = "file://" + urllib.parse.quote(arg)
            GLib.idle_add(respond, request, 0, {"uri": GLib.Variant("s", uri)})
        elif kind == "uri":
            GLib.idle_add(respond, request, 0, {"uri": GLib.Variant("s", arg)})
        elif kind == "cancel":
            GLib.idle_add(respond, request, 1, {})
        elif kind == "fail":
            GLib.idle_add(respond, request, 2, {})

    def get_property(connection, sender, path, interface, name):
        return GLib.Variant("u", 1)

    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    bus.register_object(PATH, info, call, get_property, None)
    Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: log.write("ready\n"), lambda *_: loop.quit())
    loop.run()


if __name__ == "__main__":
    main(*sys.argv[1:4])
