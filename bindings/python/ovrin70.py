"""Ovrin70 for Python: the distance meter through the library's C interface.

    from ovrin70 import Meter

    with Meter() as meter:          # finds the meter and opens it
        print(meter.port)
        reading = meter.measure()   # sends "g", returns the reply's reading
        print(reading.value1, reading.time)
        for reading in meter.readings(timeout=10):   # every line, once, in order
            ...

Works the same on Linux and Windows: readings are taken from the
connection's queue (ovrin_wait_reading), so no window or message loop is
needed. The library is found through OVRIN70_LIBRARY (a path), else beside
this file, else by the system's search ("libOvrin70.so" / "Ovrin70.dll").
"""
import collections
import ctypes
import datetime
import os
import sys

STARTUP_REPLY_MS = 500
BUTTON_OK, BUTTON_YES, BUTTON_NO = 1, 6, 7
STYLE_YES_NO = 0x04
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)

# The decoded record of a reply line.
Reply = collections.namedtuple("Reply", "kind aux_digit value1 value2")
# One reply line as it was received: its sequence number from 1 after open,
# its time of receipt (an aware UTC datetime, and monotonic nanoseconds),
# the decoded record and the line's bytes.
Reading = collections.namedtuple("Reading", "seq time monotonic_ns kind aux_digit value1 value2 line")


class OvrinError(Exception):
    """The meter could not be found, written to, or stopped answering."""


class LinkLost(OvrinError):
    """The meter went away; close and open again."""


class _Record(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_short), ("reserved1", ctypes.c_short), ("auxDigit", ctypes.c_short),
                ("reserved2", ctypes.c_short), ("value1", ctypes.c_int), ("value2", ctypes.c_int)]


class _Reading(ctypes.Structure):
    _fields_ = [("record", _Record), ("sequence", ctypes.c_uint64), ("utcNs", ctypes.c_int64),
                ("monotonicNs", ctypes.c_int64), ("lineLength", ctypes.c_uint), ("reserved", ctypes.c_uint),
                ("line", ctypes.c_char * 128)]


# The C interface is __stdcall on 32-bit Windows (WinDLL, WINFUNCTYPE), the
# one convention elsewhere.
_STDCALL = os.name == "nt" and ctypes.sizeof(ctypes.c_void_p) == 4
_LIBRARY = ctypes.WinDLL if _STDCALL else ctypes.CDLL
_FUNCTYPE = ctypes.WINFUNCTYPE if _STDCALL else ctypes.CFUNCTYPE
_HANDLER = _FUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_uint, ctypes.c_void_p)


def _load():
    names = [os.environ.get("OVRIN70_LIBRARY"),
             os.path.join(os.path.dirname(os.path.abspath(__file__)), "libOvrin70.so"),
             "libOvrin70.so", "libOvrin70.so.0", "Ovrin70.dll"]
    for name in filter(None, names):
        try:
            library = _LIBRARY(name)
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
        "ovrin_next_reading": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(_Reading)]),
        "ovrin_wait_reading": (ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(_Reading), ctypes.c_int]),
        "ovrin_dropped_readings": (ctypes.c_uint64, [ctypes.c_void_p]),
        "ovrin_set_reading_capacity": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_size_t]),
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


def _reading(raw):
    record = raw.record
    when = _EPOCH + datetime.timedelta(microseconds=raw.utcNs // 1000)
    return Reading(raw.sequence, when, raw.monotonicNs, record.kind, record.auxDigit, record.value1, record.value2,
                   ctypes.string_at(raw.line, raw.lineLength))


class Meter:
    """One connection with the meter. Use it from one thread at a time."""

    def __init__(self, port=None, open=True, capacity=None):
        self._connection = _lib.ovrin_create()
        if not self._connection:
            raise MemoryError("Ovrin70: out of memory")
        if capacity is not None and not _lib.ovrin_set_reading_capacity(self._connection, capacity):
            self._release()
            raise ValueError("not a usable queue size: %r" % capacity)
        self._held = collections.deque()  # taken from the queue, not yet handed out
        self.port = None
        if open:
            self.open(port)

    def open(self, port=None):
        """Finds the meter (port, if given, is tried first) and opens it."""
        if port is not None and not _lib.ovrin_set_remembered_port(port.encode()):
            raise OvrinError("not a usable port name: %r" % port)
        name = ctypes.create_string_buffer(256)
        if _lib.ovrin_open(self._connection, name, len(name), None) != 1:
            raise OvrinError("no meter found")
        self.port = name.value.decode()
        self._held.clear()
        # The meter's answer to the start-up command, if it gives one, is not
        # a measurement: let it arrive and set it aside.
        self._take(STARTUP_REPLY_MS)
        return self

    def close(self):
        """Stops receiving and releases the port."""
        _lib.ovrin_close(self._connection)

    def measure(self, timeout=10.0):
        """Sends the measure command and returns the reading of its reply:
        the first line that comes after those already received. Those stay
        for readings()."""
        while self._take(0):
            pass
        before = len(self._held)
        if _lib.ovrin_measure(self._connection) != 1:
            raise OvrinError("the measure command could not be sent")
        if not self._take(int(timeout * 1000)):
            raise OvrinError("no reply within %s s" % timeout)
        reply = self._held[before]
        del self._held[before]
        return reply

    def readings(self, timeout=None):
        """Yields every reading, once and in order, as it comes; ends after
        timeout seconds without one (None: never). Raises LinkLost when the
        meter goes away and every reading before that has been given."""
        wait_ms = -1 if timeout is None else int(timeout * 1000)
        while self._held or self._take(wait_ms):
            yield self._held.popleft()

    def latest(self):
        """The latest reply line's record, as a Reply."""
        record = _Record()
        _lib.ovrin_latest_record(self._connection, ctypes.byref(record))
        return Reply(record.kind, record.auxDigit, record.value1, record.value2)

    @property
    def dropped(self):
        """Readings dropped since open because nobody took them in time."""
        return _lib.ovrin_dropped_readings(self._connection)

    def set_listen(self, listen):
        _lib.ovrin_set_listen(self._connection, 1 if listen else 0)

    def _take(self, wait_ms):
        """Takes one reading from the library into _held; False on time-out."""
        raw = _Reading()
        result = _lib.ovrin_wait_reading(self._connection, ctypes.byref(raw), wait_ms)
        if result < 0:
            raise LinkLost("the link to the meter was lost")
        if result == 1:
            self._held.append(_reading(raw))
        return result == 1

    def _release(self):
        if getattr(self, "_connection", None):
            _lib.ovrin_destroy(self._connection)
            self._connection = None

    def __enter__(self):
        return self

    def __exit__(self, *_exc):
        self._release()

    def __del__(self):
        self._release()

