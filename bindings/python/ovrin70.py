"""Ovrin70 for Python: the distance meter through the library's C interface.

    from ovrin70 import Meter

    with Meter() as meter:          # finds the meter and opens it
        print(meter.port)
        reply = meter.measure()     # sends "g", waits for the reply line
        print(reply.value1)
        for reply in meter.replies(timeout=10):   # every line, as it comes
            ...

The library is found through OVRIN70_LIBRARY (a path), else beside this file,
else by the system's search ("libOvrin70.so" / "Ovrin70.dll"). Linux only for
the queue-based notifications used here; on Windows the C interface posts to
a window instead.
"""
import ctypes
import os
import sys
from collections import namedtuple

MEASURE_READY = 1124
LINK_LOST = 1125
BUTTON_OK, BUTTON_YES, BUTTON_NO = 1, 6, 7
STYLE_YES_NO = 0x04
STARTUP_REPLY_MS = 500

Reply = namedtuple("Reply", "kind aux_digit value1 value2")


class OvrinError(Exception):
    """The meter could not be found, written to, or stopped answering."""


class LinkLost(OvrinError):
    """The meter went away; close and open again."""


class _Record(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_short), ("reserved1", ctypes.c_short), ("auxDigit", ctypes.c_short),
                ("reserved2", ctypes.c_short), ("value1", ctypes.c_int), ("value2", ctypes.c_int)]


_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_uint, ctypes.c_void_p)


def _load():
    names = [os.environ.get("OVRIN70_LIBRARY"),
             os.path.join(os.path.dirname(os.path.abspath(__file__)), "libOvrin70.so"),
             "libOvrin70.so", "libOvrin70.so.0", "Ovrin70.dll"]
    for name in filter(None, names):
        try:
            library = ctypes.CDLL(name)
            break
        except OSError:
            continue
    else:
        raise OSError("Ovrin70 library not found; set OVRIN70_LIBRARY to its path")
    signatures = {
        "ovrin_create": (ctypes.c_void_p, []),
        "ovrin_destroy": (None, [ctypes.c_void_p]),
        "ovrin_open": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p]),
        "ovrin_close": (ctypes.c_int, [ctypes.c_void_p]),
        "ovrin_measure": (ctypes.c_int, [ctypes.c_void_p]),
        "ovrin_set_listen": (None, [ctypes.c_void_p, ctypes.c_int]),
        "ovrin_latest_record": (None, [ctypes.c_void_p, ctypes.POINTER(_Record)]),
        "ovrin_error_text": (None, [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]),
        "ovrin_set_message_box_handler": (None, [_HANDLER, ctypes.c_void_p]),
        "ovrin_set_remembered_port": (ctypes.c_int, [ctypes.c_char_p]),
        "ovrin_queue_create": (ctypes.c_void_p, []),
        "ovrin_queue_destroy": (None, [ctypes.c_void_p]),
        "ovrin_queue_wait": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint), ctypes.c_int]),
        "ovrin_queue_fd": (ctypes.c_int, [ctypes.c_void_p]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


_lib = _load()
_handler_keepalive = None


def error_text(code):
    """The English text of a device error code."""
    buffer = ctypes.create_string_buffer(64)
    _lib.ovrin_error_text(code, buffer, len(buffer))
    return buffer.value.decode("ascii")


def set_question_answer(keep_searching):
    """Answers the library's 'keep searching?' question (asked after three
    silent ports) with keep_searching; other messages go to stderr as usual.
    None restores the library's default."""
    global _handler_keepalive
    if keep_searching is None:
        _handler_keepalive = None
        _lib.ovrin_set_message_box_handler(_HANDLER(), None)
        return

    def handler(text, style, _context):
        if style == STYLE_YES_NO:
            return BUTTON_YES if keep_searching else BUTTON_NO
        print("Ovrin70:", text.decode("gbk", "replace"), file=sys.stderr)
        return BUTTON_OK

    _handler_keepalive = _HANDLER(handler)
    _lib.ovrin_set_message_box_handler(_handler_keepalive, None)


class Meter:
    """One connection with the meter. Not thread-safe: use it from one thread."""

    def __init__(self, port=None, open=True):
        self._queue = _lib.ovrin_queue_create()
        self._connection = _lib.ovrin_create()
        if not self._queue or not self._connection:
            self._release()
            raise MemoryError("Ovrin70: out of memory")
        self.port = None
        if open:
            self.open(port)

    def open(self, port=None):
        """Finds the meter (port, if given, is tried first) and opens it."""
        if port is not None and not _lib.ovrin_set_remembered_port(port.encode()):
            raise OvrinError("not a usable port name: %r" % port)
        name = ctypes.create_string_buffer(256)
        if _lib.ovrin_open(self._connection, name, len(name), self._queue) != 1:
            raise OvrinError("no meter found")
        self.port = name.value.decode()
        # The meter's answer to the start-up command, if it gives one, is not
        # a measurement: let it arrive and drop it.
        message = ctypes.c_uint()
        _lib.ovrin_queue_wait(self._queue, ctypes.byref(message), STARTUP_REPLY_MS)
        return self

    def close(self):
        """Stops receiving and releases the port."""
        _lib.ovrin_close(self._connection)

    def measure(self, timeout=10.0):
        """Sends the measure command and returns the next reply line."""
        self.drain()
        if _lib.ovrin_measure(self._connection) != 1:
            raise OvrinError("the measure command could not be sent")
        for reply in self.replies(timeout):
            return reply
        raise OvrinError("no reply within %s s" % timeout)

    def replies(self, timeout=None):
        """Yields every reply line as it comes; ends after timeout seconds
        without one (None: never). Raises LinkLost when the meter goes away."""
        message = ctypes.c_uint()
        wait_ms = -1 if timeout is None else int(timeout * 1000)
        while _lib.ovrin_queue_wait(self._queue, ctypes.byref(message), wait_ms):
            if message.value == LINK_LOST:
                raise LinkLost("the link to the meter was lost")
            yield self.latest()

    def drain(self):
        """Drops notifications not yet taken (e.g. the start-up answer)."""
        message = ctypes.c_uint()
        while _lib.ovrin_queue_wait(self._queue, ctypes.byref(message), 0):
            if message.value == LINK_LOST:
                raise LinkLost("the link to the meter was lost")

    def latest(self):
        """The latest reply line as a Reply."""
        record = _Record()
        _lib.ovrin_latest_record(self._connection, ctypes.byref(record))
        return Reply(record.kind, record.auxDigit, record.value1, record.value2)

    def set_listen(self, listen):
        _lib.ovrin_set_listen(self._connection, 1 if listen else 0)

    def fileno(self):
        """Readable while replies are waiting: for select/selectors."""
        return _lib.ovrin_queue_fd(self._queue)

    def _release(self):
        if getattr(self, "_connection", None):
            _lib.ovrin_destroy(self._connection)
            self._connection = None
        if getattr(self, "_queue", None):
            _lib.ovrin_queue_destroy(self._queue)
            self._queue = None

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self._release()

    def __del__(self):
        self._release()
