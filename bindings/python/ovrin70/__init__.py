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
needed. The library is the one OVRIN70_LIBRARY names (a path) when it is
set, so that another build can be tried; else the one inside this package
(the wheels carry it), else the system's ("libOvrin70.so.0", which the
Debian package installs, or "Ovrin70.dll").
"""
import collections
import ctypes
import datetime
import os
import sys
from typing import Any, Deque, Iterator, List, NamedTuple, Optional

STARTUP_REPLY_MS = 500
BUTTON_OK, BUTTON_YES, BUTTON_NO = 1, 6, 7
STYLE_YES_NO = 0x04
_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


class Reply(NamedTuple):
    """The decoded record of a reply line."""

    kind: int
    aux_digit: int
    value1: int
    value2: int


class Reading(NamedTuple):
    """One reply line as it was received: its sequence number from 1 after
    open, its time of receipt (an aware UTC datetime, and monotonic
    nanoseconds), the decoded record and the line's bytes."""

    seq: int
    time: datetime.datetime
    monotonic_ns: int
    kind: int
    aux_digit: int
    value1: int
    value2: int
    line: bytes


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
_LIBRARY: Any
_FUNCTYPE: Any
if sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4:
    _LIBRARY = ctypes.WinDLL
    _FUNCTYPE = ctypes.WINFUNCTYPE
else:
    _LIBRARY = ctypes.CDLL
    _FUNCTYPE = ctypes.CFUNCTYPE
_HANDLER = _FUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_uint, ctypes.c_void_p)


def _candidates() -> List[str]:
    """Where the library is looked for, in order."""
    inside = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "Ovrin70.dll" if os.name == "nt" else "libOvrin70.so")
    named = os.environ.get("OVRIN70_LIBRARY")
    system = ["Ovrin70.dll"] if os.name == "nt" else ["libOvrin70.so.0", "libOvrin70.so"]
    return ([named] if named else []) + ([inside] if os.path.isfile(inside) else []) + system


def _load() -> Any:
    tried = []
    for name in _candidates():
        try:
            library = _LIBRARY(name)
            break
        except OSError as error:
            if name == os.environ.get("OVRIN70_LIBRARY"):
                # The build the user named, and no other.
                raise OSError("OVRIN70_LIBRARY names %s, which cannot be loaded: %s" % (name, error)) from error
            tried.append("%s (%s)" % (name, error))
    else:
        raise OSError("Ovrin70 library not found; set OVRIN70_LIBRARY to its path. Tried: " + "; ".join(tried))
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
_handler_keepalive: Any = None


def error_text(code: int) -> str:
    """The English text of a device error code."""
    buffer = ctypes.create_string_buffer(64)
    _lib.ovrin_error_text(code, buffer, len(buffer))
    return buffer.value.decode("ascii")


def set_question_answer(keep_searching: Optional[bool]) -> None:
    """Answers the library's 'keep searching?' question (asked after three
    silent ports) with keep_searching; other messages go to stderr as usual.
    None restores the library's default."""
    global _handler_keepalive
    if keep_searching is None:
        _handler_keepalive = None
        _lib.ovrin_set_message_box_handler(_HANDLER(), None)
        return

    def handler(text: bytes, style: int, _context: Any) -> int:
        if style == STYLE_YES_NO:
            return BUTTON_YES if keep_searching else BUTTON_NO
        print("Ovrin70:", text.decode("gbk", "replace"), file=sys.stderr)
        return BUTTON_OK

    _handler_keepalive = _HANDLER(handler)
    _lib.ovrin_set_message_box_handler(_handler_keepalive, None)


def _reading(raw: _Reading) -> Reading:
    record = raw.record
    when = _EPOCH + datetime.timedelta(microseconds=raw.utcNs // 1000)
    return Reading(raw.sequence, when, raw.monotonicNs, record.kind, record.auxDigit, record.value1, record.value2,
                   ctypes.string_at(raw.line, raw.lineLength))


class Meter:
    """One connection with the meter. Use it from one thread at a time."""

    def __init__(self, port: Optional[str] = None, open: bool = True, capacity: Optional[int] = None) -> None:
        self._connection = _lib.ovrin_create()
        if not self._connection:
            raise MemoryError("Ovrin70: out of memory")
        if capacity is not None and not _lib.ovrin_set_reading_capacity(self._connection, capacity):
            self._release()
            raise ValueError("not a usable queue size: %r" % capacity)
        self._held: Deque[Reading] = collections.deque()  # taken from the queue, not yet handed out
        self.port: Optional[str] = None
        if open:
            self.open(port)

    def open(self, port: Optional[str] = None) -> "Meter":
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

    def close(self) -> None:
        """Stops receiving and releases the port."""
        _lib.ovrin_close(self._connection)

    def measure(self, timeout: float = 10.0) -> Reading:
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

    def readings(self, timeout: Optional[float] = None) -> Iterator[Reading]:
        """Yields every reading, once and in order, as it comes; ends after
        timeout seconds without one (None: never). Raises LinkLost when the
        meter goes away and every reading before that has been given."""
        wait_ms = -1 if timeout is None else int(timeout * 1000)
        while self._held or self._take(wait_ms):
            yield self._held.popleft()

    def latest(self) -> Reply:
        """The latest reply line's record, as a Reply."""
        record = _Record()
        _lib.ovrin_latest_record(self._connection, ctypes.byref(record))
        return Reply(record.kind, record.auxDigit, record.value1, record.value2)

    @property
    def dropped(self) -> int:
        """Readings dropped since open because nobody took them in time."""
        return int(_lib.ovrin_dropped_readings(self._connection))

    def set_listen(self, listen: bool) -> None:
        _lib.ovrin_set_listen(self._connection, 1 if listen else 0)

    def _take(self, wait_ms: int) -> bool:
        """Takes one reading from the library into _held; False on time-out."""
        raw = _Reading()
        result: int = _lib.ovrin_wait_reading(self._connection, ctypes.byref(raw), wait_ms)
        if result < 0:
            raise LinkLost("the link to the meter was lost")
        if result == 1:
            self._held.append(_reading(raw))
        return result == 1

    def _release(self) -> None:
        if getattr(self, "_connection", None):
            _lib.ovrin_destroy(self._connection)
            self._connection = None

    def __enter__(self) -> "Meter":
        return self

    def __exit__(self, *_exc: Any) -> None:
        self._release()

    def __del__(self) -> None:
        self._release()

