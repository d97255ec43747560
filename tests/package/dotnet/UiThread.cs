// A UI thread as WinForms and WPF run one: a thread of its own that runs its
// work one item at a time, with a SynchronizationContext whose Send waits
// until the thread has run the item (Control.Invoke, Dispatcher.Invoke).
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Threading;

sealed class UiThread : SynchronizationContext, IDisposable
{
    readonly BlockingCollection<Action> work = new BlockingCollection<Action>();
    readonly Thread thread;

    public UiThread()
    {
        thread = new Thread(() => {
            SetSynchronizationContext(this);
            foreach (Action item in work.GetConsumingEnumerable()) item();
        }) { IsBackground = true, Name = "UI" };
        thread.Start();
    }

    // What an item posted threw: the test asserts that nothing did.
    public List<Exception> Failures { get; } = new List<Exception>();

    public override void Post(SendOrPostCallback callback, object state)
    {
        work.Add(() => {
            try { callback(state); }
            catch (Exception e) { lock (Failures) Failures.Add(e); }
        });
    }

    public override void Send(SendOrPostCallback callback, object state)
    {
        if (Thread.CurrentThread == thread)
        {
            callback(state);
            return;
        }
        Exception thrown = null;
        using (var done = new ManualResetEventSlim())
        {
            work.Add(() => {
                try { callback(state); }
                catch (Exception e) { thrown = e; }
                done.Set();
            });
            done.Wait();
        }
        if (thrown != null) throw new InvalidOperationException("the UI thread's item threw", thrown);
    }

    // Returns once the thread has run every item queued before.
    public bool Drain(TimeSpan timeout)
    {
        using (var drained = new ManualResetEventSlim())
        {
            work.Add(() => drained.Set());
            return drained.Wait(timeout);
        }
    }

    public void Dispose()
    {
        work.CompleteAdding();
        thread.Join(TimeSpan.FromSeconds(10));
    }
}
