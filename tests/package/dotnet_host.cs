// A C# host as a user writes one against the NuGet package's Ovrin70.Net.dll:
// measures once and prints the native library it used and the distance.
using System;
using System.IO;
using System.Linq;

static class DotnetHost
{
    static void Main()
    {
        using (var meter = new Ovrin70.OvrinConnection())
        {
            meter.Open();
            Ovrin70.Reading distance = meter.MeasureDistance(TimeSpan.FromSeconds(5));
            string library = File.ReadLines("/proc/self/maps").First(line => line.Contains("libOvrin70")).Split(' ').Last();
            Console.WriteLine("{0} {1}", library, distance.Value1);
        }
    }
}
