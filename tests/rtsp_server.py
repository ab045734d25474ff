#!/usr/bin/env python3
"""A live RTSP stream for the stream tests: rtsp://127.0.0.1:PORT/live,
320x240 JPEG at 30 fps. Prints "ready" once listening, serves until killed.
Usage: rtsp_server.py PORT"""
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402

Gst.init(None)
server = GstRtspServer.RTSPServer()
server.set_address("127.0.0.1")
server.set_service(sys.argv[1])
factory = GstRtspServer.RTSPMediaFactory()
# Without format=I420 the payloader refuses the frames jpegenc gives it.
factory.set_launch(
    "( videotestsrc is-live=true"
    " ! video/x-raw,format=I420,width=320,height=240,framerate=30/1"
    " ! jpegenc ! rtpjpegpay name=pay0 pt=96 )")
factory.set_shared(True)
server.get_mount_points().add_factory("/live", factory)
if server.attach(None) == 0:
    sys.exit(f"{sys.argv[0]}: cannot listen on port {sys.argv[1]}")
print("ready", flush=True)
GLib.MainLoop().run()
