#!/usr/bin/python3
# The demo game's terms program (installed as terms.exe): it shows the terms
# of use and says it runs the way the game's programs do, by holding the
# named mutex RUNTERMS.MUTEX for as long as it runs. The updater waits for
# that mutex after starting it, then closes.
#
# The mutex is a shared flock on the lock file the updater's platform layer
# uses: $XDG_RUNTIME_DIR/brinefall-mutex/m-RUNTERMS.MUTEX (the demo sets
# XDG_RUNTIME_DIR for both programs).
import fcntl
import os
import sys

runtime = os.environ.get("XDG_RUNTIME_DIR", "")
if not runtime.startswith("/"):
    sys.exit("terms: XDG_RUNTIME_DIR is not set")
lock_dir = os.path.join(runtime, "brinefall-mutex")
os.makedirs(lock_dir, mode=0o700, exist_ok=True)
lock = open(os.path.join(lock_dir, "m-RUNTERMS.MUTEX"), "a")
fcntl.flock(lock, fcntl.LOCK_SH)
print("terms: running, RUNTERMS.MUTEX held", flush=True)
if os.environ.get("BRF_DEMO_TERMS_PIDFILE"):
    with open(os.environ["BRF_DEMO_TERMS_PIDFILE"], "w") as pid_file:
        pid_file.write(str(os.getpid()))

import gi  # noqa: E402

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

TERMS = (
    "Brinefall - terms of use (demo)\n\n"
    "1. Sail fair: no boarding other captains outside the open sea.\n"
    "2. Keep your powder dry and your language civil.\n"
    "3. The harbour master's word on rules is final.\n"
)

window = Gtk.Window(title="Brinefall - terms of use")
window.set_default_size(420, 220)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=12)
label = Gtk.Label(label=TERMS, xalign=0)
box.pack_start(label, True, True, 0)
buttons = Gtk.Box(spacing=8)
accept = Gtk.Button(label="Accept and start the game")
decline = Gtk.Button(label="Decline")


def finish(answer):
    print("terms: " + answer, flush=True)
    Gtk.main_quit()


accept.connect("clicked", lambda _: finish("accepted"))
decline.connect("clicked", lambda _: finish("declined"))
window.connect("destroy", lambda _: finish("closed"))
buttons.pack_end(accept, False, False, 0)
buttons.pack_end(decline, False, False, 0)
box.pack_end(buttons, False, False, 0)
window.add(box)
window.show_all()
Gtk.main()
