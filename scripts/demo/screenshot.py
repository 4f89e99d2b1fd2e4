#!/usr/bin/python3
# Saves the X window WINDOW_ID (or the whole screen with "root") as a PNG.
#   screenshot.py WINDOW_ID|root FILE.png
import sys

import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GdkX11  # noqa: E402

target, path = sys.argv[1], sys.argv[2]
display = Gdk.Display.get_default()
if display is None:
    sys.exit("screenshot: no display")
if target == "root":
    window = Gdk.get_default_root_window()
else:
    window = GdkX11.X11Window.foreign_new_for_display(display, int(target))
width, height = window.get_width(), window.get_height()
pixbuf = Gdk.pixbuf_get_from_window(window, 0, 0, width, height)
if pixbuf is None:
    sys.exit("screenshot: cannot read window " + target)
pixbuf.savev(path, "png", [], [])
print("screenshot: " + path)
