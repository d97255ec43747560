// The C# binding (bindings/dotnet/Ovrin70.cs) against libOvrin70.so and
// simulated meters, under Mono. Usage: mono binding_test.exe BUILD_DIR
// (with the library where DllImport("Ovrin70") finds it).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;
using Ovrin70;

static class BindingTest
{
    static string build;
    static int failures;

    [DllImport("libc")] static extern int setenv(string name, string value, int overwrite);

    static void Check(bool passed, string what)
    {
        Console.WriteLine("  {0}: {1}", what, passed ? "ok" : "FAILED");
        if (!passed) ++failures;
    }

    // An ovrin-sim on a terminal of its own, listed alone, with settings of its own.
    static Process Meter(params string[] arguments)
    {
        var start = new ProcessStartInfo(Path.Combine(build, "ovrin-sim"), string.Join(" ", arguments));
        start.UseShellExecute = false;
        start.RedirectStandardOutput = true;
        Process sim = Process.Start(start);
        string path = sim.StandardOutput.ReadLine();
        setenv("OVRIN_SERIAL_PORTS", path, 1);
        setenv("XDG_CONFIG_HOME", Directory.CreateDirectory(Path.Combine(Path.GetTempPath(), "ovrin-dotnet-" + sim.Id)).FullName, 1);
        return sim;
    }

    // The meter, let go by the connection before, is opened and measured by a new one.
    static void OpensAgain(string what)
    {
        using (var again = new OvrinConnection())
        {
            again.Open();
            Check(again.MeasureDistance(TimeSpan.FromSeconds(5)).Value1 == 12345, what);
        }
    }

    static void OpenMeasureRead()
    {
        using (Process sim = Meter())
        using (var meter = new OvrinConnection())
        {
            string port = meter.Open();
            Check(port == Environment.GetEnvironmentVariable("OVRIN_SERIAL_PORTS") || port.StartsWith("/dev/pts/"), "Open returns the port");
            DateTimeOffset before = DateTimeOffset.UtcNow;
            Reading distance = meter.MeasureDistance(TimeSpan.FromSeconds(5));
            Check(distance.Value1 == 12345 && distance.Line == "31..00+00012345", "MeasureDistance: the reading and its line");
            Check(Math.Abs((distance.Time - before).TotalSeconds) < 5 && distance.Sequence == 2, "its time and sequence");
            Check(meter.LatestRecord.Value1 == 12345 && meter.DroppedReadings == 0, "LatestRecord and DroppedReadings");
            sim.Kill();
        }
    }

    static void BurstAndHandler()
    {
        using (Process sim = Meter("--burst", "1000", "--value", "1", "--step", "1", "--baud", "0"))
        using (var meter = new OvrinConnection())
        {
            var handled = new List<ulong>();
            int mainThread = Thread.CurrentThread.ManagedThreadId;
            bool onOtherThread = true;
            int handledCount = 0;
            meter.ReadingReceived += (sender, e) => {
                if (Thread.CurrentThread.ManagedThreadId == mainThread) onOtherThread = false;
                lock (handled) handled.Add(e.Reading.Sequence);
                Interlocked.Increment(ref handledCount);
            };
            meter.Open();
            var taken = new List<Reading>();
            using (var cancel = new CancellationTokenSource(TimeSpan.FromSeconds(20)))
            {
                foreach (Reading reading in meter.Readings(cancel.Token))
                {
                    taken.Add(reading);
                    if (taken.Count == 1001) cancel.Cancel();
                }
            }
            Check(taken.Select(r => r.Sequence).SequenceEqual(Enumerable.Range(1, 1001).Select(i => (ulong)i)), "a burst of 1000: every reading once, in order");
            Check(taken.Skip(1).Select(r => r.Value1).SequenceEqual(Enumerable.Range(1, 1000)), "their distances");
            Reading extra;
            Check(!meter.TryNextReading(out extra), "nothing more queued");
            // Close does not wait for the last reading's handler.
            for (int waited = 0; waited < 500 && Volatile.Read(ref handledCount) < 1001; ++waited) Thread.Sleep(10);
            meter.Close();
            Check(handled.SequenceEqual(Enumerable.Range(1, 1001).Select(i => (ulong)i)) && onOtherThread, "the event for each, on the receive thread");
            sim.Kill();
        }
    }

    static void DisposeEndsAWait()
    {
        using (Process sim = Meter("--start-reply", "12....+00000001"))
        {
            var meter = new OvrinConnection();
            meter.Open();
            meter.WaitReading(TimeSpan.FromSeconds(5));  // the answer to the start-up command
            Exception ended = null;
            var waiter = new Thread(() => {
                try { meter.WaitReading(TimeSpan.FromSeconds(30)); } catch (Exception e) { ended = e; }
            });
            var clock = Stopwatch.StartNew();
            waiter.Start();
            Thread.Sleep(200);
            meter.Dispose();
            Check(waiter.Join(TimeSpan.FromSeconds(10)) && clock.Elapsed < TimeSpan.FromSeconds(10), "Dispose ends a wait under way");
            Check(ended is ObjectDisposedException, "with ObjectDisposedException");
            sim.Kill();
        }
    }

    // A form that closes its connection when a reading arrives: Close in the
    // handler, Open again, then Dispose in the handler and the same meter opened
    // again at once.
    static void CloseAndDisposeFromHandler()
    {
        using (Process sim = Meter())
        {
            var meter = new OvrinConnection();
            var handled = new AutoResetEvent(false);
            int calls = 0;
            Exception after = null;
            meter.ReadingReceived += (sender, e) => {
                if (++calls == 1) meter.Close();
                else
                {
                    meter.Dispose();
                    try { meter.Measure(); } catch (Exception caught) { after = caught; }
                }
                handled.Set();
            };
            meter.Open();
            Check(handled.WaitOne(TimeSpan.FromSeconds(5)) && meter.WaitReading(TimeSpan.FromSeconds(5)) != null, "Close in a handler returns");
            try { meter.WaitReading(TimeSpan.FromSeconds(5)); Check(false, "and closes once the handler has returned"); }
            catch (LinkLostException) { Check(true, "and closes once the handler has returned"); }
            meter.Open();
            Check(handled.WaitOne(TimeSpan.FromSeconds(5)), "Dispose in a handler returns");
            Check(after is ObjectDisposedException, "a call after it: ObjectDisposedException");
            OpensAgain("the same meter opened again at once, and measured");
            sim.Kill();
        }
    }

    // A form's thread as WinForms runs one: its work one item at a time; Invoke
    // waits until the form has run the item.
    sealed class FormThread : IDisposable
    {
        readonly Queue<Action> work = new Queue<Action>();
        readonly Thread thread;

        public FormThread()
        {
            thread = new Thread(Loop) { IsBackground = true };
            thread.Start();
        }

        public void Post(Action action)
        {
            lock (work) { work.Enqueue(action); Monitor.Pulse(work); }
        }

        public void Invoke(Action action)
        {
            var done = new ManualResetEvent(false);
            Post(() => { action(); done.Set(); });
            done.WaitOne();
        }

        void Loop()
        {
            for (;;)
            {
                Action next;
                lock (work)
                {
                    while (work.Count == 0) Monitor.Wait(work);
                    next = work.Dequeue();
                }
                if (next == null) return;
                next();
            }
        }

        public void Dispose() { Post(null); }
    }

    // The form's Reconnect: its handler hands each reading to the form and waits
    // (Control.Invoke); the form disposes the connection, opens a new one and
    // measures while that handler still waits for it.
    static void FormReconnects()
    {
        using (Process sim = Meter())
        using (var form = new FormThread())
        {
            var meter = new OvrinConnection();
            var shown = new List<int>();
            var handlerWaits = new ManualResetEvent(false);
            meter.ReadingReceived += (sender, e) => {
                handlerWaits.Set();
                form.Invoke(() => shown.Add(e.Reading.Value1));
            };
            int measured = 0;
            var reconnected = new ManualResetEvent(false);
            form.Post(() => {
                handlerWaits.WaitOne();
                meter.Dispose();
                using (var again = new OvrinConnection())
                {
                    again.Open();
                    measured = again.MeasureDistance(TimeSpan.FromSeconds(5)).Value1;
                }
                reconnected.Set();
            });
            meter.Open();
            Check(reconnected.WaitOne(TimeSpan.FromSeconds(20)) && measured == 12345,
                  "Reconnect: the new connection measures while the old handler waits for the form");
            var drained = new ManualResetEvent(false);
            form.Post(() => drained.Set());
            Check(drained.WaitOne(TimeSpan.FromSeconds(5)) && shown.Count == 1, "the old handler returns, and none comes after Dispose");
            sim.Kill();
        }
    }

    // A slow handler of one meter, whose connection was disposed meanwhile,
    // holds up the Open of no other connection.
    static void SlowHandlerHoldsUpNoOtherOpen()
    {
        var slowEnds = new ManualResetEvent(false);
        using (Process first = Meter())
        {
            var slow = new OvrinConnection();
            var inHandler = new ManualResetEvent(false);
            slow.ReadingReceived += (sender, e) => { inHandler.Set(); slowEnds.WaitOne(); };
            slow.Open();
            Check(inHandler.WaitOne(TimeSpan.FromSeconds(5)), "a slow handler runs");
            slow.Dispose();
            using (Process second = Meter())
            {
                var opened = new Thread(() => OpensAgain("another connection opens and measures meanwhile"));
                opened.Start();
                Check(opened.Join(TimeSpan.FromSeconds(20)), "its Open did not wait for the handler");
                slowEnds.Set();
                opened.Join();
                second.Kill();
            }
            first.Kill();
        }
    }

    // A handler that throws: reported through HandlerFailed, the other handler
    // still called, and the readings after it still come.
    static void ThrowingHandler()
    {
        using (Process sim = Meter())
        using (var meter = new OvrinConnection())
        {
            var failures = new List<HandlerFailedEventArgs>();
            var others = new List<ulong>();
            meter.ReadingReceived += (sender, e) => {
                if (e.Reading.Sequence == 1) Console.WriteLine(NoText().Length);  // a fault, as a null dereference makes one
                throw new InvalidOperationException("handler " + e.Reading.Sequence);
            };
            meter.ReadingReceived += (sender, e) => { lock (others) others.Add(e.Reading.Sequence); };
            int handled = 0;
            meter.HandlerFailed += (sender, e) => { lock (failures) failures.Add(e); };
            meter.ReadingReceived += (sender, e) => Interlocked.Increment(ref handled);  // the last one called
            meter.Open();
            Check(meter.MeasureDistance(TimeSpan.FromSeconds(5)).Value1 == 12345, "the next reading after a throwing handler");
            // The answer's handlers may still run: Close does not wait for them.
            for (int waited = 0; waited < 500 && Volatile.Read(ref handled) < 2; ++waited) Thread.Sleep(10);
            meter.Close();
            Check(failures.Select(f => f.Exception.GetType().Name + "/" + f.Reading.Sequence)
                      .SequenceEqual(new[] { "NullReferenceException/1", "InvalidOperationException/2" }), "HandlerFailed with each exception and its reading");
            Check(others.SequenceEqual(new ulong[] { 1, 2 }), "the other handler called for both");
            sim.Kill();
        }
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static string NoText() { return null; }

    // A connection never disposed, whose handler measures again at every
    // reading, left to the finalizer while readings arrive. Other objects of the
    // host, collected with it, keep the finalizer thread busy meanwhile.
    class SlowToFinalize { ~SlowToFinalize() { Thread.Sleep(100); } }
    static int finalizedReadings;
    static void FinalizedWhileReading()
    {
        using (Process sim = Meter("--delay", "5"))
        {
            StartMeasuringForEver();
            for (int i = 0; i < 20; ++i)
            {
                GC.Collect();
                GC.WaitForPendingFinalizers();
                Thread.Sleep(20);
            }
            int counted = Volatile.Read(ref finalizedReadings);
            Thread.Sleep(300);
            Check(counted > 1 && Volatile.Read(ref finalizedReadings) == counted, "readings handled until the connection was collected");
            OpensAgain("the finalizer released the port");
            sim.Kill();
        }
    }

    [MethodImpl(MethodImplOptions.NoInlining)]  // leaves no reference to the connection on the caller's stack
    static void StartMeasuringForEver()
    {
        var meter = new OvrinConnection();
        meter.ReadingReceived += (sender, e) => {
            Interlocked.Increment(ref finalizedReadings);
            ((OvrinConnection)sender).Measure();
        };
        meter.Open();
        for (int i = 0; i < 8; ++i) new SlowToFinalize();
        while (Volatile.Read(ref finalizedReadings) < 3) Thread.Sleep(5);
    }

    // Readings queued before MeasureDistance are not its answer, and stay queued.
    static void MeasureDistanceAfterQueuedReadings()
    {
        using (Process sim = Meter("--burst", "3", "--value", "1", "--step", "1"))
        using (var meter = new OvrinConnection())
        {
            meter.Open();
            var clock = Stopwatch.StartNew();
            while (meter.LatestRecord.Value1 != 3 && clock.Elapsed < TimeSpan.FromSeconds(5)) Thread.Sleep(5);
            Reading answer = meter.MeasureDistance(TimeSpan.FromSeconds(5));
            Check(answer.Value1 == 4 && answer.Sequence == 5, "MeasureDistance: the answer to its own command");
            var queued = new List<Reading>();
            Reading reading;
            while (meter.TryNextReading(out reading)) queued.Add(reading);
            Check(queued.Select(r => r.Sequence).SequenceEqual(new ulong[] { 1, 2, 3, 4 }) &&
                  queued.Skip(1).Select(r => r.Value1).SequenceEqual(new[] { 1, 2, 3 }), "the older readings still queued, in order");
            sim.Kill();
        }
    }

    static void Failures()
    {
        var cases = new[] {
            new { Arguments = new[] { "--error", "252" }, Code = 252, Text = "Temperature too high" },
            new { Arguments = new[] { "--error", "203" }, Code = 203, Text = OvrinConnection.ErrorText(203) },
        };
        foreach (var c in cases)
        {
            using (Process sim = Meter(c.Arguments))
            using (var meter = new OvrinConnection())
            {
                meter.Open();
                try
                {
                    meter.MeasureDistance(TimeSpan.FromSeconds(5));
                    Check(false, "error " + c.Code + " thrown");
                }
                catch (MeterErrorException e)
                {
                    Check(e.Code == c.Code && e.Message == c.Text && e.Result == 1, "error " + c.Code + ": " + e.Message);
                }
                sim.Kill();
            }
        }
        setenv("OVRIN_SERIAL_PORTS", "", 1);
        using (var meter = new OvrinConnection())
        {
            try { meter.Open(); Check(false, "no meter: OvrinException"); }
            catch (OvrinException e) { Check(e.Result == 0 && e.Message == "no meter found", "no meter: OvrinException with the result 0"); }
        }
    }

    static int Main(string[] arguments)
    {
        build = arguments[0];
        OpenMeasureRead();
        BurstAndHandler();
        DisposeEndsAWait();
        CloseAndDisposeFromHandler();
        FormReconnects();
        SlowHandlerHoldsUpNoOtherOpen();
        ThrowingHandler();
        FinalizedWhileReading();
        MeasureDistanceAfterQueuedReadings();
        Failures();
        Console.WriteLine("binding_test: {0} failed", failures);
        return failures == 0 ? 0 : 1;
    }
}
