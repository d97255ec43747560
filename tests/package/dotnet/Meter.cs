// A simulated meter for one scenario: ovrin-sim (OVRIN_SIM) on a pseudo-terminal
// of its own, the only port the library lists (OVRIN_SERIAL_PORTS), with an
// empty configuration folder so that no port is remembered from before.
using System;
using System.Diagnostics;
using System.IO;
using System.Runtime.InteropServices;

sealed class Meter : IDisposable
{
    readonly Process sim;
    readonly string home;

    // The library reads the process's environment, which .NET's
    // Environment.SetEnvironmentVariable leaves alone on Linux.
    [DllImport("libc", SetLastError = true)]
    static extern int setenv(string name, string value, int overwrite);

    public Meter(params string[] arguments)
    {
        string program = Environment.GetEnvironmentVariable("OVRIN_SIM");
        if (string.IsNullOrEmpty(program) || !File.Exists(program))
            throw new InvalidOperationException("OVRIN_SIM must name the ovrin-sim program, not '" + program + "'");
        var start = new ProcessStartInfo(program) { UseShellExecute = false, RedirectStandardOutput = true };
        foreach (string argument in arguments) start.ArgumentList.Add(argument);
        sim = Process.Start(start);
        Port = sim.StandardOutput.ReadLine();
        home = Directory.CreateTempSubdirectory("ovrin-dotnet-").FullName;
        if (setenv("OVRIN_SERIAL_PORTS", Port, 1) != 0 || setenv("XDG_CONFIG_HOME", home, 1) != 0)
            throw new InvalidOperationException("setenv: " + Marshal.GetLastPInvokeErrorMessage());
    }

    public string Port { get; }

    public void Dispose()
    {
        sim.Kill();
        sim.WaitForExit();
        sim.Dispose();
        Directory.Delete(home, true);
    }
}
