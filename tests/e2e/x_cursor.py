#!/usr/bin/python3
"""Prints the X server's current cursor image as: width height xhot yhot sha1-of-pixels."""
import ctypes
import ctypes.util
import hashlib
import os
import sys


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong),
                ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def main():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xfixes = ctypes.CDLL(ctypes.util.find_library("Xfixes") or "libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        print("no display", os.environ.get("DISPLAY"), file=sys.stderr)
        return 1
    image = xfixes.XFixesGetCursorImage(display)
    if not image:
        return 1
    c = image.contents
    pixels = bytes(str([c.pixels[i] & 0xFFFFFFFF for i in range(c.width * c.height)]), "ascii")
    print(c.width, c.height, c.xhot, c.yhot, hashlib.sha1(pixels).hexdigest())
    return 0


sys.exit(main())
