#!/usr/bin/env python3
"""GIMP with a display, driven from outside: for what batch mode cannot do.

Starts GIMP (in single-window mode, with a private settings folder whose
plug-ins/ holds the plug-in) on the X display in $DISPLAY, sends it Script-Fu
through its Script-Fu server, and presses keys in its window with the XTEST
extension, the way a person would. Run it under xvfb-run.

  undo OUT      filter a photo (through the progress probe, when given:
                OUT/progress.txt is what GIMP's progress bar was told), save
                OUT/filtered.png; lock the layer, run the filter again
                (OUT/locked.txt: why it failed), unlock it, press Ctrl+Z in
                the image window, save OUT/undone.png
  screenshot F  filter most of a photo and save the screen as F
"""

import argparse
import ctypes
import os
import shutil
import socket
import struct
import subprocess
import sys
import time

DATA_FOLDERS = ("brushes", "dynamics", "fonts", "gradients", "mypaint-brushes",
                "palettes", "patterns", "tool-presets")


def prepare_home(home, plugins):
    for folder in DATA_FOLDERS:
        os.makedirs(os.path.join(home, folder), exist_ok=True)
    for name, plugin in plugins.items():
        target = os.path.join(home, "plug-ins", name)
        os.makedirs(target, exist_ok=True)
        shutil.copy2(plugin, os.path.join(target, name))
    # What an earlier GIMP left would open the image recovery dialog.
    shutil.rmtree(os.path.join(home, "backups"), ignore_errors=True)
    # GIMP rejects a gimprc with a setting it does not know there, whole:
    # the window mode belongs in sessionrc.
    with open(os.path.join(home, "gimprc"), "w") as rc:
        rc.write("(restore-session no)\n(show-tips no)\n(save-session-info no)\n")
    with open(os.path.join(home, "sessionrc"), "w") as rc:
        rc.write("(single-window-mode yes)\n")


class ScriptFu:
    """The Script-Fu server's protocol: 'G', a 16-bit length, the expression;
    the answer is 'G', an error flag, a 16-bit length and the text."""

    def __init__(self, port, deadline):
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("GIMP's Script-Fu server did not start")
                time.sleep(0.5)

    def _read(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise RuntimeError("GIMP closed the Script-Fu connection")
            data += chunk
        return data

    def __call__(self, expression):
        data = expression.encode()
        self.sock.sendall(b"G" + struct.pack(">H", len(data)) + data)
        magic, error, length = struct.unpack(">cBH", self._read(4))
        answer = self._read(length).decode(errors="replace")
        if magic != b"G" or error:
            raise RuntimeError(f"Script-Fu failed on {expression}: {answer}")
        return answer


class Keyboard:
    """Xlib and XTEST through ctypes: find a window by its role, give it the
    keyboard, press keys."""

    CONTROL_L, LETTER_Z = 0xFFE3, 0x7A

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_void_p] * 4
        self.x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.x.XInternAtom.restype = ctypes.c_ulong
        self.x.XGetWindowProperty.argtypes = ([ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                               ctypes.c_long, ctypes.c_int, ctypes.c_ulong] + [ctypes.c_void_p] * 5)
        self.x.XFree.argtypes = [ctypes.c_void_p]
        self.x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
        self.x.XMoveResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + [ctypes.c_uint] * 2
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the X display")

    def _windows(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        self.x.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(count))
        found = [children[i] for i in range(count.value)]
        if children:
            self.x.XFree(children)
        for child in list(found):
            found += self._windows(child)
        return found

    def _text_property(self, window, name):
        atom = self.x.XInternAtom(self.display, name.encode(), 1)
        if not atom:
            return ""
        kind, unit, count, left = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        if self.x.XGetWindowProperty(self.display, window, atom, 0, 1024, 0, 0, ctypes.byref(kind),
                                     ctypes.byref(unit), ctypes.byref(count), ctypes.byref(left),
                                     ctypes.byref(data)) != 0 or not data:
            return ""
        text = ctypes.string_at(data, count.value).decode(errors="replace")
        self.x.XFree(data)
        return text

    def find(self, role, deadline):
        """The first window whose WM_WINDOW_ROLE starts with this."""
        while True:
            for window in self._windows(self.x.XDefaultRootWindow(self.display)):
                if self._text_property(window, "WM_WINDOW_ROLE").startswith(role):
                    return window
            if time.monotonic() > deadline:
                raise RuntimeError(f"no window with the role '{role}'")
            time.sleep(0.5)

    def fill_screen(self, window, width, height):
        self.x.XMoveResizeWindow(self.display, window, 0, 0, width, height)
        self.x.XSync(self.display, 0)

    def press_control(self, window, letter):
        self.x.XSetInputFocus(self.display, window, 2, 0)  # RevertToParent, CurrentTime
        self.x.XSync(self.display, 0)
        control = self.x.XKeysymToKeycode(self.display, self.CONTROL_L)
        key = self.x.XKeysymToKeycode(self.display, letter)
        for code, down in ((control, 1), (key, 1), (key, 0), (control, 0)):
            self.xtst.XTestFakeKeyEvent(self.display, code, down, 0)
            self.x.XSync(self.display, 0)
            time.sleep(0.05)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def open_photo(fu, photo):
    fu(f'(define gm-image (car (gimp-file-load RUN-NONINTERACTIVE "{photo}" "{photo}")))')
    fu("(define gm-layer (car (gimp-image-get-active-drawable gm-image)))")
    fu("(define gm-display (car (gimp-display-new gm-image)))")
    fu("(gimp-displays-flush)")


def save(fu, path):
    fu(f'(file-png-save2 RUN-NONINTERACTIVE gm-image gm-layer "{path}" "{path}" 0 1 0 0 0 0 0 0 1)')


def wait_until(condition, deadline, what):
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError(f"timed out waiting for {what}")
        time.sleep(0.25)


def undo(fu, keys, photo, out, probe, deadline):
    open_photo(fu, photo)
    if probe:
        progress = os.path.join(out, "progress.txt")
        fu(f'(call-with-output-file "{progress}" (lambda (port) '
           '(display (car (plug-in-gm-progress-probe RUN-INTERACTIVE gm-image gm-layer)) port)))')
    else:
        fu("(plug-in-glyphmosaic RUN-INTERACTIVE gm-image gm-layer)")
    fu("(gimp-displays-flush)")
    save(fu, os.path.join(out, "filtered.png"))
    # A refused run leaves no step in the undo history, not even an empty one
    # that the next Ctrl+Z would undo instead of the filter. (Locking through
    # the procedure database records no step either.)
    fu("(gimp-item-set-lock-content gm-layer TRUE)")
    with open(os.path.join(out, "locked.txt"), "w") as locked:
        try:
            fu("(plug-in-glyphmosaic RUN-INTERACTIVE gm-image gm-layer)")
            locked.write("the run succeeded\n")
        except RuntimeError as refused:
            locked.write(f"{refused}\n")
    fu("(gimp-item-set-lock-content gm-layer FALSE)")
    # The corner pixel the filter changes, to see when the undo has happened.
    filtered = fu("(gimp-drawable-get-pixel gm-layer 0 0)")
    window = keys.find("gimp-image-window", deadline)
    keys.press_control(window, Keyboard.LETTER_Z)
    soon = min(deadline, time.monotonic() + 30)
    wait_until(lambda: fu("(gimp-drawable-get-pixel gm-layer 0 0)") != filtered, soon, "Ctrl+Z to undo the filter")
    save(fu, os.path.join(out, "undone.png"))


def screenshot(fu, keys, photo, path, size, deadline):
    window = keys.find("gimp-image-window", deadline)
    keys.fill_screen(window, *size)
    open_photo(fu, photo)
    # Most of the photo as text art, its left edge kept for comparison.
    fu("(gimp-image-select-rectangle gm-image CHANNEL-OP-REPLACE 160 0 "
       "(car (gimp-image-width gm-image)) (car (gimp-image-height gm-image)))")
    fu("(plug-in-glyphmosaic RUN-INTERACTIVE gm-image gm-layer)")
    fu("(gimp-selection-none gm-image)")
    fu("(gimp-displays-flush)")
    time.sleep(3)  # let the canvas redraw
    subprocess.run(["/usr/bin/import", "-window", "root", path], check=True)


def stop(gimp, fu):
    """Quits GIMP the way a user would, so that it leaves no crash backup;
    kills it if it does not go."""
    if fu:
        try:
            fu("(gimp-quit 1)")
        except Exception:
            pass  # GIMP may go before it answers
    try:
        gimp.wait(20)
    except subprocess.TimeoutExpired:
        gimp.kill()
        gimp.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--gimp", default="gimp")
    parser.add_argument("--plugin", required=True, help="the built plug-in")
    parser.add_argument("--probe", help="the tests' progress probe plug-in")
    parser.add_argument("--home", required=True, help="GIMP's private settings folder")
    parser.add_argument("--photo", required=True)
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("--size", default="1280x800", help="the screen's size, for the screenshot")
    parser.add_argument("action", choices=("undo", "screenshot"))
    parser.add_argument("target")
    args = parser.parse_args()

    deadline = time.monotonic() + args.timeout
    port = free_port()
    plugins = {"glyphmosaic": args.plugin}
    if args.probe:
        plugins["gm-progress-probe"] = args.probe
    prepare_home(args.home, plugins)
    env = dict(os.environ, GIMP2_DIRECTORY=args.home)
    log = open(os.path.join(args.home, "gimp.log"), "w")
    server = f'(plug-in-script-fu-server RUN-NONINTERACTIVE "127.0.0.1" {port} "")'
    gimp = subprocess.Popen([args.gimp, "--no-splash", "--no-fonts", "-b", server],
                            env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
    fu = None
    try:
        fu = ScriptFu(port, deadline)
        keys = Keyboard()
        if args.action == "undo":
            undo(fu, keys, args.photo, args.target, args.probe, deadline)
        else:
            size = tuple(int(v) for v in args.size.split("x"))
            screenshot(fu, keys, args.photo, args.target, size, deadline)
    except Exception as e:
        print(f"gimp_display: {e} (GIMP's log: {log.name})", file=sys.stderr)
        return 1
    finally:
        stop(gimp, fu)
    return 0


if __name__ == "__main__":
    sys.exit(main())
