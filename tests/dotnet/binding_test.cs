// The C# binding (bindings/dotnet/Ovrin70.cs) against libOvrin70.so and
// simulated meters, under Mono. Usage: mono binding_test.exe BUILD_DIR
// (with the library where DllImport("Ovrin70") finds it).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
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
            meter.ReadingReceived += (sender, e) => {
                lock (handled) handled.Add(e.Reading.Sequence);
                if (Thread.CurrentThread.ManagedThreadId == mainThread) onOtherThread = false;
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
        Failures();
        Console.WriteLine("binding_test: {0} failed", failures);
        return failures == 0 ? 0 : 1;
    }
}
