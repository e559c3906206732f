// Every session option of the C# binding, and the exception of each kind of failure, against the
// simulated servers of the integration fixture (tests/integration/mock-server-fixture.sh): one
// row per case, each on a fresh session and a reset server, checked by what the call returned
// or threw and by what the server saw (its request log or its counters).
// Usage: OptionsTest.exe <fixture folder>
//        OptionsTest.exe --trace <server URL> <on|off|environment>   (one call, for the trace rows)
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Threading.Tasks;
using Corvane;
using static Check;

sealed class Row
{
    public string Name;
    public string Server = "url";  // a server of the fixture, or a URL
    public SessionOptions Options = new SessionOptions();
    public Action<Mock> Setup = mock => { };
    public Func<CorvaneClient, object> Call = client => client.GetPosConfig();
    public Type Throws;      // null: the call succeeds
    public int Status;       // of the exception
    public int MostMs = 10000;
    public string Seen = "/__mock/requests";  // what the plain server shows afterwards
    public List<string> Shows = new List<string>();
    public List<string> Hides = new List<string>();
    public bool SameResult;  // the exception's Result is what the call gives without the fault
}

static class OptionsTest
{
    const string Pos = "/vusk/api/v1.1/config/pos";

    static string Header(string name, string value)
    {
        return "{\"name\":\"" + name + "\",\"value\":\"" + value + "\"}";
    }

    static Row[] Rows(string folder, string connectTimesOut)
    {
        string goodCa = Path.Combine(folder, "good-cert.pem");
        string cert = Path.Combine(folder, "client-cert.pem");
        string key = Path.Combine(folder, "client-key.pem");
        string lockedKey = Path.Combine(folder, "client-key-locked.pem");
        Action<Mock> token = mock => mock.Send("POST", "/__mock/token", "{\"token\":\"t\"}");
        var refreshed = new Queue<string>(new[] { "t-old", "t" });
        return new[] {
            new Row { Name = "Token", Options = { Token = "t" }, Setup = token,
                      Shows = { "\"auth\":\"accepted\"", Header("Authorization", "Bearer ***") } },
            new Row { Name = "a wrong Token", Options = { Token = "u" }, Setup = token,
                      Throws = typeof(CorvaneServerException), Status = 4010,
                      Shows = { "\"auth\":\"wrong\"" } },
            new Row { Name = "Authorization", Options = { Authorization = "Bearer t" },
                      Setup = token, Shows = { "\"auth\":\"accepted\"" } },
            new Row { Name = "TokenCallback", Options = { TokenCallback = () => "t" },
                      Setup = token, Shows = { "\"auth\":\"accepted\"" } },
            new Row { Name = "TokenCallback asked again after a 401",
                      Options = { TokenCallback = () => refreshed.Dequeue() }, Setup = token,
                      Shows = { "\"auth\":\"wrong\"", "\"auth\":\"accepted\"" } },
            new Row { Name = "TokenCallback throwing",
                      Options = { TokenCallback = () => { throw new InvalidOperationException(); }
                                },
                      Throws = typeof(CorvaneException), Status = -20106, Hides = { Pos } },
            new Row { Name = "TokenCallback giving null", Options = { TokenCallback = () => null },
                      Throws = typeof(CorvaneException), Status = -20106, Hides = { Pos } },
            new Row { Name = "Headers",
                      Options = { Headers = new Dictionary<string, string> {
                          { "X-Tenant", "7" }, { "X-Site", "north gate" } } },
                      Shows = { Header("X-Tenant", "7"), Header("X-Site", "north gate") } },
            new Row { Name = "Compression", Shows = { "\"Accept-Encoding\",\"value\":\"gzip" } },
            new Row { Name = "no Compression", Options = { Compression = false },
                      Hides = { "gzip" } },
            new Row { Name = "Retries", Options = { Retries = 2 },
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"http-error\","
                                                 + "\"status\":503,\"count\":2}"),
                      Seen = "/__mock/stats", Shows = { "\"apiRequests\":3," } },
            new Row { Name = "no Retries: the HTTP status",
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"http-error\","
                                                 + "\"status\":503,\"count\":2}"),
                      Throws = typeof(CorvaneHttpException), Status = -30503 },
            new Row { Name = "Proxy", Server = "http://proxied.invalid:1",
                      Options = { Proxy = "{url}" },
                      Throws = typeof(CorvaneServerException), Status = 4040,
                      Shows = { "\"target\":\"http://proxied.invalid:1" + Pos } },
            new Row { Name = "RequestTimeoutMs", Options = { RequestTimeoutMs = 300 },
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"delay\","
                                                 + "\"delayMs\":4000,\"count\":1}"),
                      Throws = typeof(CorvaneTimeoutException), Status = -20202, MostMs = 2500 },
            new Row { Name = "ConnectTimeoutMs", Server = connectTimesOut,
                      Options = { ConnectTimeoutMs = 300, RequestTimeoutMs = 20000 },
                      Throws = typeof(CorvaneTimeoutException), Status = -20202, MostMs = 2500 },
            new Row { Name = "MaxConnections", Options = { MaxConnections = 1 },
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"delay\","
                                                 + "\"delayMs\":200}"),
                      Call = client => Task.WhenAll(Enumerable.Range(0, 3).Select(i =>
                          Task.Run(() => client.GetPosConfig()))).Result,
                      Seen = "/__mock/stats",
                      Shows = { "\"connections\":1,", "\"apiRequests\":3," } },
            new Row { Name = "MaxAnswerBytes", Options = { MaxAnswerBytes = 4096 },
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"big\","
                                                 + "\"bytes\":100000}"),
                      Throws = typeof(CorvaneException), Status = -20102 },
            new Row { Name = "VerifyTls", Server = "url-good", Throws = typeof(CorvaneTlsException),
                      Status = -20203 },
            new Row { Name = "VerifyTls off", Server = "url-good",
                      Options = { VerifyTls = false } },
            new Row { Name = "CaFile (and RevocationBestEffort, which Linux ignores)",
                      Server = "url-good",
                      Options = { CaFile = goodCa, RevocationBestEffort = true } },
            new Row { Name = "ClientCert and ClientKey", Server = "url-mtls",
                      Options = { CaFile = goodCa, ClientCert = cert, ClientKey = key } },
            new Row { Name = "no ClientCert", Server = "url-mtls", Options = { CaFile = goodCa },
                      Throws = typeof(CorvaneTlsException), Status = -20203 },
            new Row { Name = "KeyPassword", Server = "url-mtls",
                      Options = { CaFile = goodCa, ClientCert = cert, ClientKey = lockedKey,
                                  KeyPassword = "pw" } },
            new Row { Name = "a wrong KeyPassword", Server = "url-mtls",
                      Options = { CaFile = goodCa, ClientCert = cert, ClientKey = lockedKey,
                                  KeyPassword = "wrong" },
                      Throws = typeof(CorvaneTlsException), Status = -20203 },
            new Row { Name = "a refused connection", Server = "http://127.0.0.1:9",
                      Throws = typeof(CorvaneConnectionException), Status = -20201 },
            new Row { Name = "a list with the server's code",
                      Setup = mock => mock.Fault("{\"path\":\"*\",\"kind\":\"business\","
                                                 + "\"code\":-7,\"keepData\":true}"),
                      Call = client => Describe(client.GetPtzTrailList("D1001-C01")),
                      Throws = typeof(CorvaneServerException), Status = -7, SameResult = true },
        }.Concat(ServerCodes()).ToArray();
    }

    // A server may send any code, also one that the library or the gateway use for their own
    // failures: each is the server's, with what its answer held.
    static IEnumerable<Row> ServerCodes()
    {
        return new[] { 4321, -2, -20201, -30503, -40001, -40002, -40099 }.Select(code => new Row {
            Name = "the server's code " + code,
            Setup = mock => mock.Fault("{\"path\":\"" + Pos + "\",\"kind\":\"business\","
                                       + "\"code\":" + code + ",\"keepData\":true}"),
            Throws = typeof(CorvaneServerException), Status = code, SameResult = true });
    }

    static string Describe(object result)
    {
        var trails = result as IList<PtzTrailInfo>;
        if (result == null) return "null";
        return trails == null ? result.ToString()
                              : string.Join(",", trails.Select(t => t.TrailId + "=" + t.TrailName));
    }

    static void Run(Row row, Dictionary<string, string> urls, Mock mock)
    {
        string server = urls.ContainsKey(row.Server) ? urls[row.Server] : row.Server;
        if (row.Options.Proxy != null)
        {
            row.Options.Proxy = row.Options.Proxy.Replace("{url}", mock.Url);
        }
        mock.Send("POST", "/__mock/reset");
        mock.Send("DELETE", "/__mock/stats");
        row.Setup(mock);
        var clock = Stopwatch.StartNew();
        Exception thrown = null;
        using (var client = new CorvaneClient(server, row.Options))
        {
            try
            {
                row.Call(client);
            }
            catch (Exception e)
            {
                thrown = e is AggregateException ? e.InnerException : e;
            }
            long took = clock.ElapsedMilliseconds;
            if (took > row.MostMs) Fail("took " + took + " ms");
            string seen = mock.Send("GET", row.Seen);
            foreach (string text in row.Shows.Where(t => !seen.Contains(t)))
            {
                Fail("no " + text + " in " + seen);
            }
            foreach (string text in row.Hides.Where(t => seen.Contains(t)))
            {
                Fail(text + " in " + seen);
            }
            Same("thrown", thrown == null ? null : thrown.GetType(), row.Throws);
            var failed = thrown as CorvaneException;
            if (failed == null) return;
            if (row.Status != 0) Same("status", failed.Status, row.Status);
            var http = failed as CorvaneHttpException;
            if (http != null) Same("HTTP status", http.HttpStatus, -30000 - failed.Status);
            if (!row.SameResult) return;
            mock.Send("DELETE", "/__mock/faults");
            Same("result", Describe(failed.Result), Describe(row.Call(client)));
        }
    }

    // A loopback port whose accept queue is full: a connection to it is never accepted.
    static TcpListener Unanswered(List<TcpClient> fillers)
    {
        var listener = new TcpListener(IPAddress.Loopback, 0);
        listener.Start(0);
        int port = ((IPEndPoint)listener.LocalEndpoint).Port;
        fillers.Add(new TcpClient());
        fillers[0].Connect(IPAddress.Loopback, port);
        fillers.Add(new TcpClient());
        fillers[1].BeginConnect(IPAddress.Loopback, port, null, null);
        return listener;
    }

    static int Main(string[] args)
    {
        if (args.Length == 4 && args[0] == "--trace") return TraceChild(args[1], args[2]);
        if (args.Length != 1) return 2;
        string folder = args[0];
        var urls = new Dictionary<string, string>();
        foreach (string name in new[] { "url", "url-good", "url-mtls" })
        {
            urls[name] = File.ReadAllText(Path.Combine(folder, name)).Trim();
        }
        LockKey(folder);
        var mock = new Mock(urls["url"]);
        var fillers = new List<TcpClient>();
        TcpListener unanswered = Unanswered(fillers);
        string connectTimesOut = "http://127.0.0.1:" + ((IPEndPoint)unanswered.LocalEndpoint).Port;
        foreach (Row row in Rows(folder, connectTimesOut))
        {
            int before = FailureCount;
            Run(row, urls, mock);
            if (FailureCount != before) Console.Error.WriteLine("  in row: " + row.Name);
        }
        TraceRows(urls["url"]);
        RefusedAtOpen(urls["url"]);
        mock.Send("POST", "/__mock/reset");
        unanswered.Stop();
        foreach (TcpClient filler in fillers) filler.Close();
        return Report();
    }

    // Options the client or the gateway refuse before a session opens.
    static void RefusedAtOpen(string url)
    {
        var rows = new[] {
            new { Name = "Token and TokenCallback", Type = typeof(ArgumentException), Status = 0,
                  Options = new SessionOptions { Token = "t", TokenCallback = () => "t" } },
            new { Name = "a header value holding CR LF", Type = typeof(CorvaneException),
                  Status = -20008, Options = new SessionOptions {
                      Headers = new Dictionary<string, string> {
                          { "X-Site", "a\r\nX-Evil: 1" } } } },
            new { Name = "a negative Retries", Type = typeof(CorvaneException), Status = -20008,
                  Options = new SessionOptions { Retries = -1 } },
        };
        foreach (var row in rows)
        {
            try
            {
                new CorvaneClient(url, row.Options).Dispose();
                Fail(row.Name + ": opened");
            }
            catch (Exception e)
            {
                Same(row.Name, e.GetType(), row.Type);
                var failed = e as CorvaneException;
                if (failed != null) Same(row.Name + ": status", failed.Status, row.Status);
                if (failed != null && !failed.Message.Contains("(status " + row.Status + ")"))
                {
                    Fail(row.Name + ": " + failed.Message);
                }
            }
        }
    }

    // The client key under a password (client-key-locked.pem, password "pw").
    static void LockKey(string folder)
    {
        var openssl = Process.Start(new ProcessStartInfo("openssl", "pkey -aes256 -passout pass:pw"
            + " -in \"" + Path.Combine(folder, "client-key.pem") + "\" -out \""
            + Path.Combine(folder, "client-key-locked.pem") + "\"") { UseShellExecute = false });
        openssl.WaitForExit();
        if (openssl.ExitCode != 0) Fail("openssl could not lock the client key");
    }

    // Trace: the session's option over the environment's ZENTA_TRACE, seen on the standard error
    // of a child process that makes one call.
    static void TraceRows(string url)
    {
        var rows = new[] { new { Option = "on", Environment = "", Lines = true },
                           new { Option = "off", Environment = "1", Lines = false },
                           new { Option = "environment", Environment = "1", Lines = true },
                           new { Option = "environment", Environment = "", Lines = false } };
        string self = typeof(OptionsTest).Assembly.Location;
        foreach (var row in rows)
        {
            string arguments = "\"" + self + "\" --trace " + url + " " + row.Option + " x";
            var start = new ProcessStartInfo(Process.GetCurrentProcess().MainModule.FileName,
                                             arguments)
                { UseShellExecute = false, RedirectStandardError = true };
            start.EnvironmentVariables["ZENTA_TRACE"] = row.Environment;
            using (Process child = Process.Start(start))
            {
                string error = child.StandardError.ReadToEnd();
                child.WaitForExit();
                Same("trace " + row.Option + " child", child.ExitCode, 0);
                string what = "trace " + row.Option + " with ZENTA_TRACE='" + row.Environment + "'";
                Same(what + ": " + error, error.Contains(Pos), row.Lines);
            }
        }
    }

    static int TraceChild(string url, string option)
    {
        bool? trace = option == "on" ? true : option == "off" ? (bool?)false : null;
        using (var client = new CorvaneClient(url, new SessionOptions { Trace = trace }))
        {
            client.GetPosConfig();
        }
        return 0;
    }
}
