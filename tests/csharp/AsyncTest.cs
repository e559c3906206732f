// Scopes, cancellation, the asynchronous operations and progress of the C# binding, against the
// integration fixture's plain server (tests/integration/mock-server-fixture.sh), with the picture
// P0900 (922,218 bytes) trickled over 8 s for the calls that are cancelled while it arrives.
// Usage: AsyncTest.exe <fixture folder>
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;
using System.Threading;
using System.Threading.Tasks;
using Corvane;
using static Check;

// Records every report on the reporting thread, in order.
sealed class Recorder : IProgress<long>
{
    public readonly List<long> Seen = new List<long>();
    public bool Throws;

    public void Report(long received)
    {
        lock (Seen) Seen.Add(received);
        if (Throws) throw new InvalidOperationException("the view is gone");
    }
}

// A way to end a call that runs on Target (made from the test's client) after 300 ms.
sealed class Way
{
    public string Name;
    public Func<CorvaneClient, CorvaneOperations> Target = client => client.OpenScope();
    public Action<CorvaneOperations> Stop = target => ((CorvaneScope)target).Cancel();
    public bool Async;
    public Type Later = typeof(OperationCanceledException);  // a later call on Target; null: none
}

static class AsyncTest
{
    const string PicturePath = "/vusk/api/v1.1/common/request/picture/P0900";
    const long PictureBytes = 922218;
    const long Prompt = 500;  // ms from a cancel to the call's end

    static Mock mock;

    static void Trickle(int bytesPerSecond)
    {
        mock.Send("POST", "/__mock/reset");
        mock.Fault("{\"path\":\"" + PicturePath + "\",\"kind\":\"trickle\",\"bytesPerSecond\":"
                   + bytesPerSecond + "}");
    }

    static int ApiRequests()
    {
        string stats = mock.Send("GET", "/__mock/stats");
        return int.Parse(Regex.Match(stats, "\"apiRequests\":([0-9]+)").Groups[1].Value);
    }

    // What ending the task threw (the inner exception of an AggregateException), or null.
    static Exception Ending(Task task)
    {
        try
        {
            task.Wait();
            return null;
        }
        catch (AggregateException e)
        {
            return e.InnerException;
        }
    }

    static void Cancelled(string what, Exception thrown, Stopwatch sinceCancel)
    {
        long ms = sinceCancel.ElapsedMilliseconds;
        Console.WriteLine(what + ": ended " + ms + " ms after the cancel");
        if (!(thrown is OperationCanceledException)) Fail(what + ": ended with " + thrown);
        if (ms > Prompt) Fail(what + ": ended " + ms + " ms after the cancel");
    }

    static void NonDecreasing(string what, Recorder progress, long most)
    {
        List<long> seen;
        lock (progress.Seen) seen = progress.Seen.ToList();
        if (seen.Count == 0) Fail(what + ": no progress reported");
        for (int i = 1; i < seen.Count; ++i)
        {
            if (seen[i] < seen[i - 1]) Fail(what + ": progress went back to " + seen[i]);
        }
        if (seen.Count > 0 && seen.Last() > most) Fail(what + ": progress " + seen.Last());
    }

    // The token cancelled 300 ms into the trickled picture: OperationCanceledException at once,
    // with the bytes received so far reported; a token cancelled before the call sends nothing.
    static void TokenCancels(CorvaneClient client)
    {
        Trickle(115000);
        var progress = new Recorder();
        var source = new CancellationTokenSource();
        Task<DevicePicture> task =
            client.DownloadDevicePictureAsync("P0900", progress, source.Token);
        Thread.Sleep(300);
        Stopwatch clock = Stopwatch.StartNew();
        source.Cancel();
        Cancelled("token", Ending(task), clock);
        Same("task cancelled", task.IsCanceled, true);
        NonDecreasing("token", progress, PictureBytes - 1);

        int sent = ApiRequests();
        Task<int> early = client.GetPosConfigAsync(source.Token);
        Same("a cancelled token's call", Ending(early) is OperationCanceledException, true);
        Same("requests after a cancelled token's call", ApiRequests(), sent);
    }

    // Asynchronous calls run side by side, as many as the session has connections for: none
    // waits for another to give its thread back.
    static void SideBySide()
    {
        mock.Send("POST", "/__mock/reset");
        mock.Fault("{\"path\":\"*\",\"kind\":\"delay\",\"delayMs\":500}");
        using (var client = new CorvaneClient(mock.Url, new SessionOptions { MaxConnections = 16 }))
        {
            Stopwatch clock = Stopwatch.StartNew();
            Task.WaitAll(Enumerable.Range(0, 12).Select(i => client.GetPosConfigAsync()).ToArray());
            long took = clock.ElapsedMilliseconds;
            if (took > 1200) Fail("twelve calls of 500 ms side by side took " + took + " ms");
        }
    }

    // A whole download reports its bytes in order; a progress that throws ends the call with its
    // exception.
    static void ProgressReports(CorvaneClient client)
    {
        Trickle(4000000);
        var progress = new Recorder();
        DevicePicture picture = client.DownloadDevicePictureAsync("P0900", progress).Result;
        Same("picture bytes", picture.PictureData.LongLength, PictureBytes);
        NonDecreasing("whole download", progress, PictureBytes);

        Trickle(115000);
        var throwing = new Recorder { Throws = true };
        Stopwatch clock = Stopwatch.StartNew();
        Exception thrown = Ending(client.DownloadDevicePictureAsync("P0900", throwing));
        Same("a throwing progress", thrown == null ? null : thrown.GetType(),
             typeof(InvalidOperationException));
        long took = clock.ElapsedMilliseconds;
        if (took > 2000) Fail("a throwing progress took " + took + " ms");
    }

    static Way[] Ways()
    {
        return new[] {
            new Way { Name = "CorvaneScope.Cancel" },
            new Way { Name = "CorvaneScope.Cancel of an async call", Async = true },
            new Way { Name = "CorvaneScope.Dispose",
                      Stop = target => ((CorvaneScope)target).Dispose(),
                      Later = typeof(ObjectDisposedException) },
            new Way { Name = "the parent scope's Cancel",
                      Target = client => client.OpenScope().OpenScope(),
                      Stop = target => ((CorvaneScope)((CorvaneScope)target).Parent).Cancel() },
            new Way { Name = "CorvaneClient.Dispose",
                      Target = client => new CorvaneClient(mock.Url),
                      Stop = target => ((CorvaneClient)target).Dispose(),
                      Later = typeof(ObjectDisposedException) },
        };
    }

    // Each way of ending a call from another thread: the call ends promptly, the way returns at
    // once, a later call on the target fails at once without a request, the client still works.
    static void WaysToEnd(CorvaneClient client)
    {
        foreach (Way way in Ways())
        {
            int before = FailureCount;
            Trickle(115000);
            CorvaneOperations target = way.Target(client);
            Task<DevicePicture> call = way.Async
                ? target.DownloadDevicePictureAsync("P0900")
                : Task.Run(() => target.DownloadDevicePicture("P0900"));
            Thread.Sleep(300);
            Stopwatch clock = Stopwatch.StartNew();
            way.Stop(target);
            long stopped = clock.ElapsedMilliseconds;
            if (stopped > 100) Fail("returned after " + stopped + " ms");
            Cancelled("the call", Ending(call), clock);
            if (way.Later != null)
            {
                int sent = ApiRequests();
                clock.Restart();
                Exception later = Ending(Task.Run(() => target.GetPosConfig()));
                Same("a later call", later == null ? null : later.GetType(), way.Later);
                long took = clock.ElapsedMilliseconds;
                if (took > 100) Fail("a later call took " + took + " ms");
                Same("requests after the later call", ApiRequests(), sent);
            }
            client.GetPosConfig();  // the parent is untouched
            if (FailureCount != before) Console.Error.WriteLine("  in way: " + way.Name);
        }
    }

    // Each kind of result, asynchronously as synchronously (the synchronous call first).
    static void SameAsSynchronous(CorvaneClient client)
    {
        mock.Send("POST", "/__mock/reset");
        const string Channel = "D1001-C01";
        const string Speaker = "D2001-C01";
        var rows = new[] {
            Twin("value", c => c.GetPosConfig(), c => c.GetPosConfigAsync().Result),
            Twin("list", c => Trails(c.GetPtzTrailList(Channel)),
                 c => Trails(c.GetPtzTrailListAsync(Channel).Result)),
            Twin("map", c => Map(c.QueryDictionaryMapper(2)),
                 c => Map(c.QueryDictionaryMapperAsync(2).Result)),
            Twin("picture with its tag", c => c.DownloadDevicePicture("P0100", 41).Tag,
                 c => c.DownloadDevicePictureAsync("P0100", 41).Result.Tag),
            Twin("fields", c => c.StartRemoteRecord(Channel, 0, 60).PlanId + 1,
                 c => c.StartRemoteRecordAsync(Channel, 0, 60).Result.PlanId),
            Twin("none", c => { c.SetIPSpeakerVolume(Speaker, 11); return Volume(c) + 1; },
                 c => { c.SetIPSpeakerVolumeAsync(Speaker, 12).Wait(); return Volume(c); }),
            Twin("the server's refusal", c => Refusal(() => c.GetWebEnablement("D9999")),
                 c => Refusal(() => c.GetWebEnablementAsync("D9999").Wait())),
        };
        foreach (var row in rows)
        {
            object wanted = row.Item2(client);  // first: the fields and none rows count on it
            Same(row.Item1, row.Item3(client), wanted);
        }
    }

    // A case of SameAsSynchronous: its name, the synchronous call, the asynchronous one.
    static Tuple<string, Func<CorvaneClient, object>, Func<CorvaneClient, object>> Twin(
        string name, Func<CorvaneClient, object> sync, Func<CorvaneClient, object> async)
    {
        return Tuple.Create(name, sync, async);
    }

    static string Trails(IList<PtzTrailInfo> trails)
    {
        return string.Join(",", trails.Select(t => t.TrailId));
    }

    static string Map(IDictionary<int, int> map)
    {
        return string.Join(",", map.Select(e => e.Key + "=" + e.Value));
    }

    static int Volume(CorvaneClient client)
    {
        return client.GetIPSpeakerVolume("D2001-C01").MicrophoneVolume;
    }

    static string Refusal(Action call)
    {
        try
        {
            call();
            return "none";
        }
        catch (Exception e)
        {
            Exception inner = e is AggregateException ? e.InnerException : e;
            var refused = inner as CorvaneServerException;
            return refused == null ? inner.ToString() : "code " + refused.Code;
        }
    }

    static int Main(string[] args)
    {
        if (args.Length != 1) return 2;
        mock = new Mock(File.ReadAllText(Path.Combine(args[0], "url")).Trim());
        SideBySide();
        using (var client = new CorvaneClient(mock.Url))
        {
            TokenCancels(client);
            ProgressReports(client);
            WaysToEnd(client);
            SameAsSynchronous(client);
        }
        mock.Send("POST", "/__mock/reset");
        return Report();
    }
}
