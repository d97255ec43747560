// Ovrin70 for .NET: the C interface of Ovrin70.dll (libOvrin70.so on Linux)
// in one file that a project adds. C# that .NET Framework 4.x, .NET 8 and
// Mono compile alike.
//
//   using (var meter = new Ovrin70.OvrinConnection()) {
//     string port = meter.Open();                  // finds the meter
//     Ovrin70.Reading distance = meter.MeasureDistance(TimeSpan.FromSeconds(5));
//     Console.WriteLine("{0} on {1}", distance.Value1, port);
//   }
//
// Every reply line of the meter is a Reading, once and in order: take them
// with TryNextReading, WaitReading or Readings, or be handed each on the
// library's receive thread by the ReadingReceived event.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using Microsoft.Win32.SafeHandles;

namespace Ovrin70
{
    /// <summary>One decoded reply line, as the library's record holds it.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct Record
    {
        public short Kind;       // 0 "?" or unknown, 1 device error (Value1 = code), 2..16 data; 6 a distance
        public short Reserved1;
        public short AuxDigit;   // kinds 6, 10, 11
        public short Reserved2;
        public int Value1;
        public int Value2;       // kinds 3 and 4
    }

    /// <summary>One reply line as it was received.</summary>
    public struct Reading
    {
        public ulong Sequence;          // 1 for the first line after Open, then +1 per line
        public DateTimeOffset Time;     // when it was received (UTC)
        public long MonotonicNs;        // the same, on the system's monotonic clock
        public int Kind;
        public int AuxDigit;
        public int Value1;
        public int Value2;
        public string Line;             // the bytes as received, one character each

        public bool IsError { get { return Kind == 1; } }
        /// <summary>The device error's English text (kind 1), else null.</summary>
        public string ErrorText { get { return IsError ? OvrinConnection.ErrorText(Value1) : null; } }
    }

    public sealed class ReadingEventArgs : EventArgs
    {
        public ReadingEventArgs(Reading reading) { Reading = reading; }
        public Reading Reading { get; private set; }
    }

    /// <summary>A failure of the library: Result is what the call returned.</summary>
    public class OvrinException : Exception
    {
        public OvrinException(string message, int result) : base(message) { Result = result; }
        public int Result { get; private set; }
    }

    /// <summary>The meter answered with a device error: Code, and its text as the message.</summary>
    public sealed class MeterErrorException : OvrinException
    {
        public MeterErrorException(int code) : base(OvrinConnection.ErrorText(code), 1) { Code = code; }
        public int Code { get; private set; }
    }

    /// <summary>The link to the meter is gone, and every reading before that was taken.</summary>
    public sealed class LinkLostException : OvrinException
    {
        public LinkLostException() : base("the link to the meter was lost", -1) { }
    }

    /// <summary>A ReadingReceived handler threw: its exception, and the reading it was given.</summary>
    public sealed class HandlerFailedEventArgs : EventArgs
    {
        public HandlerFailedEventArgs(Exception exception, Reading reading) { Exception = exception; Reading = reading; }
        public Exception Exception { get; private set; }
        public Reading Reading { get; private set; }
    }

    /// <summary>One connection with one meter.
    ///
    /// Threads: any member from any thread. Open, Close and Dispose wait for a Measure
    /// under way on another thread, and Measure waits for them. In a ReadingReceived
    /// handler (the receive thread) nothing waits: Measure is refused while the
    /// connection opens or closes, Open is refused, and Close and Dispose take effect
    /// at once on a thread of their own. No Open, Close or Dispose ever waits for a handler,
    /// of this connection or of another: the port is given back at once, and a handler
    /// that is running finishes on its own. Once Dispose has begun, every call throws
    /// ObjectDisposedException; a WaitReading under way on another thread ends with it.
    /// A connection that is never disposed is closed when it is finalized; from the time
    /// it is collected its handlers are no longer called.</summary>
    public sealed class OvrinConnection : IDisposable
    {
        private const int HeldBackCapacity = 4096;  // as the library's own queue

        private readonly ConnectionHandle handle;
        // Open, Close and the release hold it alone; Measure shares it.
        private readonly ReaderWriterLockSlim gate = new ReaderWriterLockSlim();
        private readonly object events = new object();
        private readonly object measuring = new object();
        // Readings MeasureDistance took that were not its answer, for TryNextReading and WaitReading.
        private readonly Queue<Reading> heldBack = new Queue<Reading>();
        private ulong heldBackDropped;
        private EventHandler<ReadingEventArgs> readingReceived;
        private int disposed;
        private volatile int opens;  // a Close left by a handler closes only the run it saw

        public OvrinConnection()
        {
            handle = Native.ovrin_create();
            if (handle.IsInvalid) throw new OutOfMemoryException("no memory for a connection");
            handle.Owner = Owners.Add(this);
        }

        /// <summary>The port of the last successful Open.</summary>
        public string Port { get; private set; }

        /// <summary>Raised for every reading, in order, on the library's receive thread
        /// (keep it short); the reading stays queued as well.</summary>
        public event EventHandler<ReadingEventArgs> ReadingReceived
        {
            add
            {
                lock (events)
                {
                    if (readingReceived == null) SetCallback(Dispatch);
                    readingReceived += value;
                }
            }
            remove
            {
                lock (events)
                {
                    readingReceived -= value;
                    if (readingReceived == null) SetCallback(null);
                }
            }
        }

        /// <summary>Raised on the receive thread when a ReadingReceived handler throws. The
        /// exception goes no further (thrown into the library's thread it would end the
        /// process); the other handlers still get the reading and later readings still
        /// come. An exception thrown by a HandlerFailed handler is dropped.</summary>
        public event EventHandler<HandlerFailedEventArgs> HandlerFailed;

        /// <summary>Finds the meter and opens it; returns its port. Not from a ReadingReceived handler.</summary>
        public string Open()
        {
            if (OnReceiveThread) throw new InvalidOperationException("Open cannot run in a ReadingReceived handler");
            PortReleases.WaitForAll();  // a port a handler let go of is free first
            var port = new byte[256];
            int result;
            EnterAlone();
            try
            {
                ++opens;
                result = Native.ovrin_open(handle, port, (UIntPtr)port.Length, IntPtr.Zero);
                lock (heldBack)
                {
                    heldBack.Clear();  // the library's queue starts empty too
                    heldBackDropped = 0;
                }
            }
            finally { gate.ExitWriteLock(); }
            if (result != 1) throw new OvrinException("no meter found", result);
            Port = Text(port, Array.IndexOf(port, (byte)0));
            return Port;
        }

        /// <summary>Sends the measure command; its answer comes as a reading.</summary>
        public void Measure()
        {
            // The receive thread never waits: an Open or Close under way waits for it.
            if (!gate.TryEnterReadLock(OnReceiveThread ? 0 : Timeout.Infinite))
            {
                if (IsDisposed) throw Disposed();
                throw new OvrinException("the connection is being opened or closed", 0);
            }
            int result;
            try
            {
                if (IsDisposed) throw Disposed();
                result = Native.ovrin_measure(handle);
            }
            finally { gate.ExitReadLock(); }
            if (result != 1) throw new OvrinException("the measure command was not sent", result);
        }

        /// <summary>Measures and returns the distance reading (kind 6) that answers this
        /// command; a device error is thrown as MeterErrorException. Readings queued before
        /// the call, and any other reading that comes before the answer, stay queued in
        /// their order for TryNextReading, WaitReading and Readings; the answer is not
        /// queued again. One call at a time, never in a ReadingReceived handler; readings
        /// taken on another thread meanwhile may include the answer.</summary>
        public Reading MeasureDistance(TimeSpan timeout)
        {
            if (OnReceiveThread) throw new InvalidOperationException("MeasureDistance cannot wait in a ReadingReceived handler: its answer comes on that thread");
            lock (measuring)
            {
                Native.OvrinReading taken;
                while (Native.ovrin_next_reading(Live(), out taken) == 1) HoldBack(Convert(ref taken));
                Measure();
                DateTime end = DateTime.UtcNow + timeout;
                for (;;)
                {
                    TimeSpan left = end - DateTime.UtcNow;
                    Reading? reading = WaitQueued(left > TimeSpan.Zero ? left : TimeSpan.Zero);
                    if (reading == null) throw new OvrinException("no reply in time", 0);
                    if (reading.Value.IsError) throw new MeterErrorException(reading.Value.Value1);
                    if (reading.Value.Kind == 6) return reading.Value;
                    HoldBack(reading.Value);
                }
            }
        }

        /// <summary>Closes the connection and gives its port back at once, without waiting for a
        /// handler that is running (one that waits for the closing thread, as Control.Invoke
        /// does while a form reconnects, cannot hold it up): that one finishes on its own, and
        /// no other is called. In a ReadingReceived handler it takes effect at once on a
        /// thread of its own.</summary>
        public void Close()
        {
            if (IsDisposed) throw Disposed();
            if (OnReceiveThread)
            {
                int run = opens;
                PortReleases.Run(() => CloseRun(run));
                return;
            }
            EnterAlone();
            try { Native.ovrin_close(handle); }
            finally { gate.ExitWriteLock(); }
        }

        /// <summary>Takes the oldest reading, if one is queued.</summary>
        public bool TryNextReading(out Reading reading)
        {
            if (TakeHeldBack(out reading)) return true;
            Native.OvrinReading taken;
            bool found = Native.ovrin_next_reading(Live(), out taken) == 1;
            reading = found ? Convert(ref taken) : default(Reading);
            return found;
        }

        /// <summary>Takes the oldest reading, waiting up to timeout: null on time-out;
        /// LinkLostException when none will come; ObjectDisposedException when the
        /// connection was disposed meanwhile.</summary>
        public Reading? WaitReading(TimeSpan timeout)
        {
            Reading held;
            return TakeHeldBack(out held) ? held : WaitQueued(timeout);
        }

        /// <summary>Every reading as it comes, until cancelled; LinkLostException once
        /// the link is gone and every reading before it was given.</summary>
        public IEnumerable<Reading> Readings(CancellationToken cancel)
        {
            while (!cancel.IsCancellationRequested)
            {
                Reading? reading = WaitReading(TimeSpan.FromMilliseconds(100));
                if (reading != null) yield return reading.Value;
            }
        }

        /// <summary>Readings dropped since Open because the queue was full.</summary>
        public ulong DroppedReadings
        {
            get
            {
                ulong dropped = Native.ovrin_dropped_readings(Live());
                lock (heldBack) return dropped + heldBackDropped;
            }
        }

        /// <summary>The latest reply line's record, never half of one line and half of the next.</summary>
        public Record LatestRecord
        {
            get
            {
                Record record;
                Native.ovrin_latest_record(Live(), out record);
                return record;
            }
        }

        /// <summary>The English text of a device error code.</summary>
        public static string ErrorText(int code)
        {
            var text = new byte[64];
            Native.ovrin_error_text(code, text, text.Length);
            return Text(text, Array.IndexOf(text, (byte)0));
        }

        /// <summary>Closes the connection (a wait on another thread ends) and releases it,
        /// without waiting for a handler that is running; in a ReadingReceived handler, on
        /// a thread of its own, at once. No handler is called after Dispose has begun.</summary>
        public void Dispose()
        {
            if (Interlocked.Exchange(ref disposed, 1) != 0) return;
            // The library's close is refused on the receive thread, and waits for nothing elsewhere.
            if (OnReceiveThread) PortReleases.Run(Release);
            else Release();
        }

        private void Release()
        {
            gate.EnterWriteLock();
            try { Native.ovrin_close(handle); }  // the port is free from here on
            finally { gate.ExitWriteLock(); }
            // ovrin_destroy waits for a handler still running, which may wait for this thread.
            Background(handle.Dispose);  // destroyed once no call is under way any more
        }

        private void CloseRun(int run)
        {
            gate.EnterWriteLock();
            try
            {
                if (opens == run && !IsDisposed) Native.ovrin_close(handle);
            }
            finally { gate.ExitWriteLock(); }
        }

        // Open and Close: no Measure under way, and none begins.
        private void EnterAlone()
        {
            gate.EnterWriteLock();
            if (!IsDisposed) return;
            gate.ExitWriteLock();
            throw Disposed();
        }

        private bool IsDisposed { get { return Thread.VolatileRead(ref disposed) != 0; } }

        private bool OnReceiveThread { get { return ConnectionHandle.Delivering == handle; } }

        private ConnectionHandle Live()
        {
            if (IsDisposed) throw Disposed();
            return handle;
        }

        private static ObjectDisposedException Disposed() { return new ObjectDisposedException("OvrinConnection"); }

        private void SetCallback(Native.ReadingCallback callback)
        {
            if (IsDisposed) return;  // subscribers may still leave a disposed connection
            try { Native.ovrin_set_reading_callback(handle, callback, handle.Owner); }
            catch (ObjectDisposedException) { }  // released meanwhile
        }

        // The library's queue, past what MeasureDistance held back.
        private Reading? WaitQueued(TimeSpan timeout)
        {
            Native.OvrinReading taken;
            double ms = Math.Min(Math.Ceiling(timeout.TotalMilliseconds), int.MaxValue);
            int result = Native.ovrin_wait_reading(Live(), out taken, timeout == Timeout.InfiniteTimeSpan ? -1 : (int)Math.Max(ms, 0));
            if (result == 1) return Convert(ref taken);
            if (IsDisposed) throw Disposed();
            if (result == 0) return null;
            throw new LinkLostException();
        }

        private void HoldBack(Reading reading)
        {
            lock (heldBack)
            {
                if (heldBack.Count == HeldBackCapacity)
                {
                    heldBack.Dequeue();
                    ++heldBackDropped;
                }
                heldBack.Enqueue(reading);
            }
        }

        private bool TakeHeldBack(out Reading reading)
        {
            if (IsDisposed) throw Disposed();
            lock (heldBack)
            {
                bool found = heldBack.Count > 0;
                reading = found ? heldBack.Dequeue() : default(Reading);
                return found;
            }
        }

        // The one callback of every connection, never collected: a delegate of the
        // connection's own could be collected, and its code freed, before the finalizer
        // has stopped the receive thread. The context finds the connection while it is
        // reachable; after that, readings are only queued.
        private static readonly Native.ReadingCallback Dispatch = DispatchReading;

        private static void DispatchReading(IntPtr reading, IntPtr context)
        {
            OvrinConnection connection = Owners.Find(context);
            if (connection != null) connection.OnReading(reading);
        }

        // Called on the library's receive thread: nothing may be thrown back into it.
        private void OnReading(IntPtr reading)
        {
            ConnectionHandle.Delivering = handle;
            try
            {
                EventHandler<ReadingEventArgs> handlers = readingReceived;
                if (handlers == null || IsDisposed) return;
                var taken = (Native.OvrinReading)Marshal.PtrToStructure(reading, typeof(Native.OvrinReading));
                var arguments = new ReadingEventArgs(Convert(ref taken));
                foreach (EventHandler<ReadingEventArgs> handler in handlers.GetInvocationList())
                {
                    if (IsDisposed) break;
                    try { handler(this, arguments); }
                    catch (Exception e) { Report(e, arguments.Reading); }
                }
            }
            catch (Exception) { }  // no memory for the reading: the host has it in the queue
            finally { ConnectionHandle.Delivering = null; }
        }

        private void Report(Exception exception, Reading reading)
        {
            EventHandler<HandlerFailedEventArgs> handlers = HandlerFailed;
            if (handlers == null) return;
            var arguments = new HandlerFailedEventArgs(exception, reading);
            foreach (EventHandler<HandlerFailedEventArgs> handler in handlers.GetInvocationList())
            {
                try { handler(this, arguments); }
                catch (Exception) { }
            }
        }

        private static readonly DateTimeOffset Epoch = new DateTimeOffset(1970, 1, 1, 0, 0, 0, TimeSpan.Zero);

        private static Reading Convert(ref Native.OvrinReading taken)
        {
            Reading reading;
            reading.Sequence = taken.sequence;
            reading.Time = Epoch.AddTicks(taken.utcNs / 100);
            reading.MonotonicNs = taken.monotonicNs;
            reading.Kind = taken.record.Kind;
            reading.AuxDigit = taken.record.AuxDigit;
            reading.Value1 = taken.record.Value1;
            reading.Value2 = taken.record.Value2;
            reading.Line = Text(taken.line, (int)Math.Min(taken.lineLength, 127));
            return reading;
        }

        // The library's 8-bit text, one character per byte.
        private static string Text(byte[] bytes, int length)
        {
            if (length < 0) length = bytes.Length;
            var text = new StringBuilder(length);
            for (int i = 0; i < length; ++i) text.Append((char)bytes[i]);
            return text.ToString();
        }

        private sealed class ConnectionHandle : SafeHandleZeroOrMinusOneIsInvalid
        {
            public ConnectionHandle() : base(true) { }

            // The connection whose handlers run on this thread: its receive thread.
            [ThreadStatic] internal static ConnectionHandle Delivering;

            // The callback's context: the OvrinConnection's number in Owners.
            internal IntPtr Owner;

            protected override bool ReleaseHandle()
            {
                // Never on the receive thread: Dispose from a handler releases on the pool.
                Destroy(handle, Owner);
                return true;
            }

            private static void Destroy(IntPtr connection, IntPtr owner)
            {
                Native.ovrin_destroy(connection);
                Owners.Remove(owner);
            }
        }

        private static void Background(ThreadStart action) { new Thread(action) { IsBackground = true }.Start(); }

        // What a handler asked for that only another thread can do: giving a port back.
        // It runs at once on a thread of its own and never waits for a handler (the
        // library's close does not), so Open can wait for every one of them.
        private static class PortReleases
        {
            private static readonly object gate = new object();
            private static int pending;

            internal static void Run(ThreadStart release)
            {
                lock (gate) ++pending;
                Background(delegate {
                    try { release(); }
                    finally
                    {
                        lock (gate)
                        {
                            --pending;
                            Monitor.PulseAll(gate);
                        }
                    }
                });
            }

            internal static void WaitForAll()
            {
                lock (gate)
                {
                    while (pending > 0) Monitor.Wait(gate);
                }
            }
        }

        // Every connection by a number never used again: a callback that had begun when
        // the connection was closed, which the library lets run without waiting for it,
        // may still look its connection up after ovrin_destroy, and finds nothing. A
        // GCHandle would be freed by then, and its slot perhaps another's.
        private static class Owners
        {
            private static readonly Dictionary<long, WeakReference> live = new Dictionary<long, WeakReference>();
            private static long last;

            internal static IntPtr Add(OvrinConnection connection)
            {
                lock (live)
                {
                    live.Add(++last, new WeakReference(connection));
                    return new IntPtr(last);
                }
            }

            internal static OvrinConnection Find(IntPtr number)
            {
                WeakReference owner;
                lock (live)
                {
                    if (!live.TryGetValue(number.ToInt64(), out owner)) return null;
                }
                return owner.Target as OvrinConnection;
            }

            internal static void Remove(IntPtr number)
            {
                lock (live) live.Remove(number.ToInt64());
            }
        }

        // Winapi: __stdcall on 32-bit Windows, the one convention elsewhere.
        private static class Native
        {
            private const string Library = "Ovrin70";  // Ovrin70.dll; libOvrin70.so on Linux

            [StructLayout(LayoutKind.Sequential)]
            internal struct OvrinReading
            {
                internal Record record;
                internal ulong sequence;
                internal long utcNs;
                internal long monotonicNs;
                internal uint lineLength;
                internal uint reserved;
                [MarshalAs(UnmanagedType.ByValArray, SizeConst = 128)] internal byte[] line;
            }

            [UnmanagedFunctionPointer(CallingConvention.Winapi)]
            internal delegate void ReadingCallback(IntPtr reading, IntPtr context);

            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern ConnectionHandle ovrin_create();
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern void ovrin_destroy(IntPtr connection);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern int ovrin_open(ConnectionHandle connection, byte[] port, UIntPtr portSize, IntPtr window);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern int ovrin_close(ConnectionHandle connection);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern int ovrin_measure(ConnectionHandle connection);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern void ovrin_latest_record(ConnectionHandle connection, out Record record);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern int ovrin_next_reading(ConnectionHandle connection, out OvrinReading reading);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern int ovrin_wait_reading(ConnectionHandle connection, out OvrinReading reading, int timeoutMs);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern ulong ovrin_dropped_readings(ConnectionHandle connection);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern void ovrin_set_reading_callback(ConnectionHandle connection, ReadingCallback callback, IntPtr context);
            [DllImport(Library, CallingConvention = CallingConvention.Winapi)]
            internal static extern void ovrin_error_text(int code, byte[] buffer, int bufferLength);
        }
    }
}
