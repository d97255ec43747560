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

    /// <summary>One connection with one meter.</summary>
    public sealed class OvrinConnection : IDisposable
    {
        private readonly ConnectionHandle handle;
        private readonly Native.ReadingCallback callback;  // alive as long as the connection
        private EventHandler<ReadingEventArgs> readingReceived;
        private volatile bool disposed;

        public OvrinConnection()
        {
            handle = Native.ovrin_create();
            if (handle.IsInvalid) throw new OutOfMemoryException("no memory for a connection");
            callback = OnReading;
        }

        /// <summary>The port of the last successful Open.</summary>
        public string Port { get; private set; }

        /// <summary>Raised for every reading, in order, on the library's receive thread
        /// (keep it short); the reading stays queued as well.</summary>
        public event EventHandler<ReadingEventArgs> ReadingReceived
        {
            add
            {
                lock (callback)
                {
                    if (readingReceived == null) Native.ovrin_set_reading_callback(handle, callback, IntPtr.Zero);
                    readingReceived += value;
                }
            }
            remove
            {
                lock (callback)
                {
                    readingReceived -= value;
                    if (readingReceived == null) Native.ovrin_set_reading_callback(handle, null, IntPtr.Zero);
                }
            }
        }

        /// <summary>Finds the meter and opens it; returns its port.</summary>
        public string Open()
        {
            var port = new byte[256];
            int result = Native.ovrin_open(Live(), port, (UIntPtr)port.Length, IntPtr.Zero);
            if (result != 1) throw new OvrinException("no meter found", result);
            Port = Text(port, Array.IndexOf(port, (byte)0));
            return Port;
        }

        /// <summary>Sends the measure command; its answer comes as a reading.</summary>
        public void Measure()
        {
            int result = Native.ovrin_measure(Live());
            if (result != 1) throw new OvrinException("the measure command was not sent", result);
        }

        /// <summary>Measures and returns the distance reading (kind 6); a device error
        /// is thrown as MeterErrorException.</summary>
        public Reading MeasureDistance(TimeSpan timeout)
        {
            Measure();
            DateTime end = DateTime.UtcNow + timeout;
            for (;;)
            {
                TimeSpan left = end - DateTime.UtcNow;
                Reading? reading = WaitReading(left > TimeSpan.Zero ? left : TimeSpan.Zero);
                if (reading == null) throw new OvrinException("no reply in time", 0);
                if (reading.Value.IsError) throw new MeterErrorException(reading.Value.Value1);
                if (reading.Value.Kind == 6) return reading.Value;
            }
        }

        public void Close() { Native.ovrin_close(Live()); }

        /// <summary>Takes the oldest reading, if one is queued.</summary>
        public bool TryNextReading(out Reading reading)
        {
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
            Native.OvrinReading taken;
            double ms = Math.Min(Math.Ceiling(timeout.TotalMilliseconds), int.MaxValue);
            int result = Native.ovrin_wait_reading(Live(), out taken, timeout == Timeout.InfiniteTimeSpan ? -1 : (int)Math.Max(ms, 0));
            if (result == 1) return Convert(ref taken);
            if (disposed) throw new ObjectDisposedException("OvrinConnection");
            if (result == 0) return null;
            throw new LinkLostException();
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
        public ulong DroppedReadings { get { return Native.ovrin_dropped_readings(Live()); } }

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

        /// <summary>Closes the connection (a wait on another thread ends) and releases it.</summary>
        public void Dispose()
        {
            if (disposed) return;
            disposed = true;
            Native.ovrin_close(handle);
            handle.Dispose();  // destroyed once no call is under way any more
        }

        private ConnectionHandle Live()
        {
            if (disposed) throw new ObjectDisposedException("OvrinConnection");
            return handle;
        }

        private void OnReading(IntPtr reading, IntPtr context)
        {
            var taken = (Native.OvrinReading)Marshal.PtrToStructure(reading, typeof(Native.OvrinReading));
            EventHandler<ReadingEventArgs> handlers = readingReceived;
            if (handlers != null) handlers(this, new ReadingEventArgs(Convert(ref taken)));
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
            protected override bool ReleaseHandle()
            {
                Native.ovrin_destroy(handle);
                return true;
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
