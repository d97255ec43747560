/** @file
 * Ovrin70 for hosts written in C, or in any language that calls C (C#,
 * Python, Delphi, hosts built with another compiler). A thin layer over the
 * C++ class OvrinComm of ovrin_comm.h, with the same behaviour.
 *
 * Ownership: ovrin_create makes a connection that the caller destroys with
 * ovrin_destroy (which closes it if open).
 *
 * Threads, as for the class:
 * - ovrin_open, ovrin_close and ovrin_destroy: one thread at a time, and not
 *   while another call on the same connection runs (the reading functions
 *   excepted). From the connection's own receive thread (a reading callback)
 *   ovrin_open and ovrin_close return 0 at once.
 * - ovrin_measure and ovrin_set_listen: any thread, the receive thread too,
 *   also at the same time as each other and as the reading functions; not
 *   while the same connection is being opened, closed or destroyed. A host
 *   that measures from a second thread keeps the connection open meanwhile.
 * - The reading functions (ovrin_next_reading, ovrin_wait_reading,
 *   ovrin_dropped_readings, ovrin_latest_record, ovrin_set_reading_capacity,
 *   ovrin_set_reading_callback) and ovrin_error_text: any thread, at any
 *   time while the connection exists. ovrin_close on another thread ends an
 *   ovrin_wait_reading; on the receive thread ovrin_wait_reading never waits.
 * - ovrin_close and a new ovrin_open never wait for a reading callback that
 *   is running on another thread (one that waits for the closing thread, as
 *   a form's Invoke does, cannot hold them up): the port is given back at
 *   once, no callback is called after they begin, and the receive thread
 *   ends by itself once the callback returns, without touching the port
 *   again (an ovrin_measure from that callback then sends nothing).
 *   ovrin_destroy closes in the same way and then waits for such a callback
 *   to return, so that neither the connection nor its context is used after
 *   it: a host whose callback waits for a thread closes the connection on
 *   that thread and destroys it elsewhere or later. The class's Close waits
 *   for the callback.
 *
 * Bad pointers: every function checks its pointers before it does anything.
 * A NULL connection, or NULL where a result is to be written, does nothing
 * and takes nothing off the queue: the function returns 0 (ovrin_wait_reading,
 * ovrin_queue_wait and ovrin_queue_fd: -1) or nothing; ovrin_latest_record
 * with a NULL connection writes an all-zero record.
 *
 * Time-outs in milliseconds: -1 waits without limit; 0, or any other
 * negative value, does not wait. */
#ifndef OVRIN_H
#define OVRIN_H

#include <stddef.h>

#if defined(_WIN32)
#if defined(OVRIN_BUILDING)
#define OVRIN_C_API __declspec(dllexport)
#elif defined(OVRIN_STATIC) /* linked with the library's objects, not the DLL */
#define OVRIN_C_API
#else
#define OVRIN_C_API __declspec(dllimport)
#endif
#else
#define OVRIN_C_API __attribute__((visibility("default")))
#endif

/** The calling convention of every function and callback: __stdcall (WINAPI)
 * on 32-bit Windows, as VB6, VBA, Delphi and C# call by default (0.1.0 used
 * cdecl there); the one convention elsewhere. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define OVRIN_CALL __stdcall
#else
#define OVRIN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Notifications: one per reply line, and one when the meter is gone. */
#define OVRIN_MEASURE_READY 1124 /**< after every reply line */
#define OVRIN_LINK_LOST 1125     /**< the meter is gone (see ovrin_notify_link_lost) */

/** Buttons a message-box handler returns, and the styles it is asked for. */
#define OVRIN_BUTTON_OK 1        /**< OK */
#define OVRIN_BUTTON_YES 6       /**< Yes */
#define OVRIN_BUTTON_NO 7        /**< No */
#define OVRIN_STYLE_OK 0x00      /**< a message with an OK button */
#define OVRIN_STYLE_WARNING 0x30 /**< a warning with an OK button */
#define OVRIN_STYLE_YES_NO 0x04  /**< a question: Yes or No */

/** One decoded reply line (16 bytes; short is 16 bits, int 32 bits). */
typedef struct OvrinRecord {
  short kind;      /**< 0 "?" or unknown, 1 device error (value1 = code), 2..16 data */
  short reserved1; /**< always 0 */
  short auxDigit;  /**< kinds 6, 10, 11: the digit in column 5 */
  short reserved2; /**< always 0 */
  int value1;      /**< the value the line carries (the error code for kind 1) */
  int value2;      /**< kinds 3 and 4 */
} OvrinRecord;

/** 64-bit integers, also for C89 compilers that know them only as an extension. */
#if defined(_MSC_VER)
typedef unsigned __int64 OvrinUInt64;
typedef __int64 OvrinInt64;
#elif defined(__GNUC__)
__extension__ typedef unsigned long long OvrinUInt64;
__extension__ typedef long long OvrinInt64;
#else
typedef unsigned long long OvrinUInt64; /**< 64 bits, unsigned */
typedef long long OvrinInt64;           /**< 64 bits, signed */
#endif

/** One reply line as it was received (176 bytes on every platform). */
typedef struct OvrinReading {
  OvrinRecord record;     /**< the line decoded */
  OvrinUInt64 sequence;   /**< 1 for the first line after ovrin_open, then +1 per line */
  OvrinInt64 utcNs;       /**< time of receipt, nanoseconds since 1970-01-01 UTC */
  OvrinInt64 monotonicNs; /**< time of receipt on the system's monotonic clock */
  unsigned lineLength;    /**< bytes in line, without CR LF (at most 127) */
  unsigned reserved;      /**< 0 */
  char line[128];         /**< the bytes as received, then a NUL */
} OvrinReading;

/** One connection with one meter, made by ovrin_create. */
typedef struct OvrinConnection OvrinConnection;

#if defined(_WIN32)
/** The window that receives the notifications as posted messages (an HWND). */
typedef struct HWND__* OvrinWindow;
#else
/** A queue the host owns, standing in for a window. */
typedef struct OvrinQueue OvrinQueue;
typedef OvrinQueue* OvrinWindow; /**< where the notifications go: a queue */

/** Makes a queue; NULL when out of memory. Destroy it after every connection
 * that posts to it. */
OVRIN_C_API OvrinQueue* OVRIN_CALL ovrin_queue_create(void);
/** Destroys a queue made by ovrin_queue_create. */
OVRIN_C_API void OVRIN_CALL ovrin_queue_destroy(OvrinQueue* queue);
/** Takes the next notification into *message (OVRIN_MEASURE_READY or
 * OVRIN_LINK_LOST; message may be NULL). 1 taken, 0 time-out. */
OVRIN_C_API int OVRIN_CALL ovrin_queue_wait(OvrinQueue* queue, unsigned* message, int timeoutMs);
/** A descriptor, readable while notifications are pending, for poll/epoll. */
OVRIN_C_API int OVRIN_CALL ovrin_queue_fd(const OvrinQueue* queue);
#endif

/** A new connection, not open; NULL when out of memory. */
OVRIN_C_API OvrinConnection* OVRIN_CALL ovrin_create(void);
/** Closes the connection if it is open and frees it; NULL does nothing. */
OVRIN_C_API void OVRIN_CALL ovrin_destroy(OvrinConnection* connection);

/** Finds the meter and opens it; window may be NULL (no notifications). Every
 * port is probed at once, the remembered one preferred when it answers; no
 * question is asked and no message box shown. The
 * name of the port that was opened is copied into port (portSize bytes,
 * always NUL-terminated; 256 bytes hold every name). 1 open, 0 not. */
OVRIN_C_API int OVRIN_CALL ovrin_open(OvrinConnection* connection, char* port, size_t portSize, OvrinWindow window);
/** 1 when the connection was open and is closed now, 0 when it was not open. */
OVRIN_C_API int OVRIN_CALL ovrin_close(OvrinConnection* connection);
/** Sends the measure command: 1 sent, 0 not sent, -1 no event could be made. */
OVRIN_C_API int OVRIN_CALL ovrin_measure(OvrinConnection* connection);
/** Nonzero: listening; 0: idle. */
OVRIN_C_API void OVRIN_CALL ovrin_set_listen(OvrinConnection* connection, int listen);
/** Copies the latest reply line's record, never half of one and half of the next. */
OVRIN_C_API void OVRIN_CALL ovrin_latest_record(const OvrinConnection* connection, OvrinRecord* record);

/** Every reply line, once and in order: the connection queues a reading for
 * each (4096 by default; when full, the oldest is dropped and counted).
 * ovrin_next_reading takes the oldest: 1 taken, 0 none queued. */
OVRIN_C_API int OVRIN_CALL ovrin_next_reading(OvrinConnection* connection, OvrinReading* reading);
/** Takes the oldest reading, waiting up to timeoutMs for one: 1 taken, 0
 * time-out, -1 none queued and none will come for the run the wait began in
 * (the link is lost, or the connection is not open or was closed). Needs no
 * window and no message loop. */
OVRIN_C_API int OVRIN_CALL ovrin_wait_reading(OvrinConnection* connection, OvrinReading* reading, int timeoutMs);
/** Readings dropped since ovrin_open because the queue was full. */
OVRIN_C_API OvrinUInt64 OVRIN_CALL ovrin_dropped_readings(const OvrinConnection* connection);
/** The queue's size (1 to 1048576) from the next ovrin_open: 1 set, 0 refused
 * (the connection is open, or the size is out of range). */
OVRIN_C_API int OVRIN_CALL ovrin_set_reading_capacity(OvrinConnection* connection, size_t capacity);
/** Posts OVRIN_LINK_LOST to the window when the link is lost (notify nonzero);
 * off unless asked for, since a classic host may use WM_USER + 101 itself. */
OVRIN_C_API void OVRIN_CALL ovrin_notify_link_lost(OvrinConnection* connection, int notify);
/** Calls callback for every reading, in order, on the connection's receive
 * thread, before OVRIN_MEASURE_READY is posted; the reading stays queued too.
 * The callback must be short. It may call ovrin_measure, ovrin_set_listen and
 * the reading functions (ovrin_wait_reading there takes what is queued or
 * returns 0 at once: no reading can come while it waits); ovrin_close and
 * ovrin_open from it return 0 at once, and it must not destroy the
 * connection. NULL removes the callback. */
typedef void(OVRIN_CALL* OvrinReadingCallback)(const OvrinReading* reading, void* context);
/** Sets the connection's reading callback (see OvrinReadingCallback). */
OVRIN_C_API void OVRIN_CALL ovrin_set_reading_callback(OvrinConnection* connection, OvrinReadingCallback callback,
                                                       void* context);

/** Why the meter was not found, and what went over the line (as in
 * ovrin_diagnostics.h). Kinds of event: */
#define OVRIN_TRACE_CANDIDATE 0 /**< the search got this far with port: see outcome */
#define OVRIN_TRACE_CONNECTED 1 /**< ovrin_open succeeded on port */
#define OVRIN_TRACE_LINK_LOST 2 /**< the meter is gone */
#define OVRIN_TRACE_CLOSED 3    /**< ovrin_close released port */
#define OVRIN_TRACE_SENT 4      /**< bytes were written to port */
#define OVRIN_TRACE_RECEIVED 5  /**< bytes were read from port */
/** Outcomes of a candidate port: opened, busy, no permission, no such device,
 * not a serial device, no answer, wrong answer, accepted, cannot be opened,
 * not probed, not needed, given up. */
#define OVRIN_PORT_OPENED 0         /**< opened; the probe's outcome follows */
#define OVRIN_PORT_BUSY 1           /**< another program has it open */
#define OVRIN_PORT_NO_PERMISSION 2  /**< the user may not open it */
#define OVRIN_PORT_NO_SUCH_DEVICE 3 /**< listed, but no device is there */
#define OVRIN_PORT_NOT_SERIAL 4     /**< not a serial port */
#define OVRIN_PORT_NO_ANSWER 5      /**< nothing answered the probe */
#define OVRIN_PORT_WRONG_ANSWER 6   /**< it answered, but not as the meter does */
#define OVRIN_PORT_ACCEPTED 7       /**< the meter answered: the search ends here */
#define OVRIN_PORT_CANNOT_OPEN 8    /**< it could not be opened for another reason */
#define OVRIN_PORT_NOT_PROBED 9     /**< not probed: an incoming Bluetooth port, which never reaches a meter */
#define OVRIN_PORT_NOT_NEEDED 10    /**< not needed: the meter answered on another port first */
#define OVRIN_PORT_GIVEN_UP 11      /**< still opening when the meter answered elsewhere: given up */
/** One event of the trace (the layout of ovrin::Trace). */
typedef struct OvrinTrace {
  int kind;          /**< OVRIN_TRACE_... */
  int outcome;       /**< OVRIN_TRACE_CANDIDATE */
  const char* port;  /**< the port's name */
  const char* bytes; /**< OVRIN_TRACE_SENT, _RECEIVED: not NUL-terminated; _CANDIDATE: what became of it in words, where
                        there is more to tell than the outcome (else NULL) */
  size_t size;       /**< of bytes */
  OvrinInt64 monotonicNs; /**< when */
  int systemError;        /**< OVRIN_TRACE_CANDIDATE: errno or GetLastError where it tells more, else 0 */
} OvrinTrace;
/** Called for every event, on the thread where it happens; process-wide; the
 * pointers live only during the call. NULL removes it. */
typedef void(OVRIN_CALL* OvrinTraceCallback)(const OvrinTrace* trace, void* context);
/** Sets the process's trace callback (see OvrinTraceCallback). */
OVRIN_C_API void OVRIN_CALL ovrin_set_trace_callback(OvrinTraceCallback callback, void* context);
/** Kinds of port (as ovrin::PortKind). */
#define OVRIN_PORT_KIND_UNKNOWN 0            /**< the system does not tell */
#define OVRIN_PORT_KIND_BLUETOOTH_OUTGOING 1 /**< a Bluetooth link this computer opens */
#define OVRIN_PORT_KIND_BLUETOOTH_INCOMING 2 /**< a Bluetooth service others connect to: never the meter */
#define OVRIN_PORT_KIND_USB 3                /**< a USB serial adapter or device */
#define OVRIN_PORT_KIND_BUILT_IN 4           /**< a port of the computer itself */
#define OVRIN_PORT_KIND_VIRTUAL 5            /**< a pseudo-terminal and the like */
/** What is known of a port; an unknown text is empty. Texts longer than a
 * field are cut, always NUL-terminated. */
typedef struct OvrinPortIdentity {
  int kind;                  /**< OVRIN_PORT_KIND_... */
  char description[256];     /**< the system's friendly name */
  char hardwareId[256];      /**< the system's hardware id */
  char vid[8];               /**< USB vendor id, four hex digits */
  char pid[8];               /**< USB product id, four hex digits */
  char serialNumber[128];    /**< USB serial number */
  char manufacturer[128];    /**< USB manufacturer */
  char product[128];         /**< USB product name */
  char bluetoothAddress[24]; /**< "00:11:22:33:44:55" */
} OvrinPortIdentity;
/** Fills *identity with what the system knows of port: 1, or 0 (identity
 * untouched) when port or identity is NULL. */
OVRIN_C_API int OVRIN_CALL ovrin_identify_port(const char* port, OvrinPortIdentity* identity);
/** "no answer", "busy", ... for an outcome. */
OVRIN_C_API const char* OVRIN_CALL ovrin_outcome_text(int outcome);

/** The English text of a device error code, as DescError gives it: all
 * bufferLength bytes written, NUL-terminated; 63 bytes hold every text. */
OVRIN_C_API void OVRIN_CALL ovrin_error_text(int code, char* buffer, int bufferLength);

/** Routes every message box through handler (NULL: the default), which
 * returns the button pressed. */
typedef int(OVRIN_CALL* OvrinMessageBoxHandler)(const char* text, unsigned style, void* context);
/** Sets the process's message-box handler (see OvrinMessageBoxHandler). */
OVRIN_C_API void OVRIN_CALL ovrin_set_message_box_handler(OvrinMessageBoxHandler handler, void* context);
/** The port the next open tries first; 1 stored, 0 not. */
OVRIN_C_API int OVRIN_CALL ovrin_set_remembered_port(const char* port);

#ifdef __cplusplus
}
#endif

#endif /* OVRIN_H */
