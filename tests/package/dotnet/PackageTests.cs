// The NuGet package on .NET: the binding's scenarios against simulated meters,
// with the native library that .NET picks from the package's runtimes/ assets.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Threading;
using Ovrin70;
using Xunit;

// Each scenario lists its own meter in the process's environment.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

public class PackageTests
{
    static readonly TimeSpan Answer = TimeSpan.FromSeconds(5);

    // Up to 5 s for what a handler records to be done, under its lock: Close
    // does not wait for the last reading's handler.
    static void AwaitHandlers(object gate, Func<bool> done)
    {
        for (int waited = 0; waited < 500; ++waited)
        {
            lock (gate) if (done()) return;
            Thread.Sleep(10);
        }
    }

    static string LoadedLibrary()
    {
        return File.ReadLines("/proc/self/maps").Where(line => line.Contains("libOvrin70"))
                   .Select(line => line.Split(' ').Last()).Distinct().Single();
    }

    // .NET resolves the package's runtimes/linux-x64/native asset into the
    // program's own runtimes/ folder (the deps.json names it there); nothing
    // lies beside the program and no library path is set.
    [Fact]
    public void TheNativeLibraryIsThePackagesLinuxAsset()
    {
        Assert.Equal("Temperature too high", OvrinConnection.ErrorText(252));  // loads the library
        string output = AppContext.BaseDirectory;
        Assert.Equal(Path.Combine(output, "runtimes", "linux-x64", "native", "libOvrin70.so"), LoadedLibrary());
        Assert.Empty(Directory.GetFiles(output, "libOvrin70*"));
        Assert.Null(Environment.GetEnvironmentVariable("LD_LIBRARY_PATH"));
        string restored = typeof(PackageTests).Assembly.GetCustomAttributes<AssemblyMetadataAttribute>()
                              .Single(a => a.Key == "OvrinPackageFolder").Value;
        Assert.Equal(File.ReadAllBytes(Path.Combine(restored, "runtimes", "linux-x64", "native", "libOvrin70.so")),
                     File.ReadAllBytes(LoadedLibrary()));
    }

    [Fact]
    public void OpensAndMeasures()
    {
        using (var sim = new Meter())
        using (var meter = new OvrinConnection())
        {
            Assert.Equal(sim.Port, meter.Open());
            Reading distance = meter.MeasureDistance(Answer);
            Assert.Equal((12345, "31..00+00012345"), (distance.Value1, distance.Line));
            Assert.Equal(12345, meter.LatestRecord.Value1);
        }
    }

    [Fact]
    public void ABurstArrivesOnceAndInOrder()
    {
        using (var sim = new Meter("--burst", "1000", "--value", "1", "--step", "1", "--baud", "0"))
        using (var meter = new OvrinConnection())
        {
            var handled = new List<ulong>();
            var handlerThreads = new HashSet<int>();
            meter.ReadingReceived += (sender, e) => {
                lock (handled)
                {
                    handled.Add(e.Reading.Sequence);
                    handlerThreads.Add(Environment.CurrentManagedThreadId);
                }
            };
            meter.Open();
            var taken = new List<Reading>();
            using (var cancel = new CancellationTokenSource(TimeSpan.FromSeconds(30)))
            {
                foreach (Reading reading in meter.Readings(cancel.Token))
                {
                    taken.Add(reading);
                    if (taken.Count == 1001) cancel.Cancel();
                }
            }
            AwaitHandlers(handled, () => handled.Count >= 1001);
            meter.Close();
            // The start-up command's answer, then the burst.
            var sequences = Enumerable.Range(1, 1001).Select(i => (ulong)i).ToList();
            Assert.Equal(sequences, taken.Select(r => r.Sequence));
            Assert.Equal(Enumerable.Range(1, 1000), taken.Skip(1).Select(r => r.Value1));
            lock (handled)
            {
                Assert.Equal(sequences, handled);
                Assert.DoesNotContain(Environment.CurrentManagedThreadId, handlerThreads);
            }
        }
    }

    // A handler that throws is reported through HandlerFailed; the handlers
    // after it are still called, and the readings after it still come.
    [Fact]
    public void AThrowingHandlerStopsNothing()
    {
        using (var sim = new Meter())
        using (var meter = new OvrinConnection())
        {
            var failed = new List<(string, ulong)>();
            var others = new List<ulong>();
            meter.ReadingReceived += (sender, e) => throw new InvalidOperationException("handler " + e.Reading.Sequence);
            meter.ReadingReceived += (sender, e) => { lock (others) others.Add(e.Reading.Sequence); };
            meter.HandlerFailed += (sender, e) => { lock (failed) failed.Add((e.Exception.Message, e.Reading.Sequence)); };
            meter.Open();
            Assert.Equal(12345, meter.MeasureDistance(Answer).Value1);
            AwaitHandlers(others, () => others.Count >= 2);
            meter.Close();
            Assert.Equal(new[] { ("handler 1", 1UL), ("handler 2", 2UL) }, failed);
            Assert.Equal(new ulong[] { 1, 2 }, others);
        }
    }

    // Dispose in a handler returns; the connection is then gone, and the port
    // free for the next connection at once.
    [Fact]
    public void DisposeInAHandler()
    {
        using (var sim = new Meter())
        using (var handled = new ManualResetEventSlim())
        {
            var meter = new OvrinConnection();
            Exception after = null;
            meter.ReadingReceived += (sender, e) => {
                meter.Dispose();
                try { meter.Measure(); } catch (Exception caught) { after = caught; }
                handled.Set();
            };
            meter.Open();
            Assert.True(handled.Wait(Answer), "the handler that disposes returns");
            Assert.IsType<ObjectDisposedException>(after);
            using (var again = new OvrinConnection())
            {
                again.Open();
                Assert.Equal(12345, again.MeasureDistance(Answer).Value1);
            }
        }
    }

    // A form opens the meter on its UI thread and shows each reading there
    // (Send, as Control.Invoke does). Busy on that thread, it reconnects
    // while the handler waits in Send for it: Dispose, then a new connection
    // opens the same meter and measures, all before the old handler returns.
    [Fact]
    public void ReconnectFromAUiThread()
    {
        using (var sim = new Meter())
        using (var ui = new UiThread())
        using (var inSend = new ManualResetEventSlim())
        using (var reconnected = new ManualResetEventSlim())
        {
            var shown = new List<int>();  // the form's list: touched on the UI thread alone
            bool handlerWaited = false;
            int measured = 0, shownBeforeReturn = -1;
            ui.Post(_ => {
                SynchronizationContext form = SynchronizationContext.Current;
                var meter = new OvrinConnection();
                meter.ReadingReceived += (sender, e) => {
                    inSend.Set();
                    form.Send(__ => shown.Add(e.Reading.Value1), null);
                };
                meter.Open();
                handlerWaited = inSend.Wait(Answer);
                meter.Dispose();
                using (var again = new OvrinConnection())
                {
                    again.Open();
                    measured = again.MeasureDistance(Answer).Value1;
                }
                shownBeforeReturn = shown.Count;
                reconnected.Set();
            }, null);
            Assert.True(reconnected.Wait(TimeSpan.FromSeconds(20)), "Dispose and the new connection return on the UI thread");
            Assert.True(handlerWaited, "the first reading's handler waited in Send");
            Assert.Equal((12345, 0), (measured, shownBeforeReturn));
            Assert.True(ui.Drain(Answer), "the UI thread runs what the old handler sent");
            Thread.Sleep(200);  // room for a reading after Dispose, which must not come
            Assert.True(ui.Drain(Answer));
            Assert.Single(shown);
            Assert.Empty(ui.Failures);
        }
    }
}
