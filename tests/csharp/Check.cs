// What the C# test programs share: failures counted and reported, and a client of the simulated
// server's control API (/__mock/, tools/mock-server/README.md).
using System;
using System.IO;
using System.Net;
using System.Text;

static class Check
{
    public static int FailureCount;

    public static void Fail(string what)
    {
        Console.Error.WriteLine("FAIL: " + what);
        ++FailureCount;
    }

    // The exception that call throws, or null (a failure then) when it throws none.
    public static T Throws<T>(string what, Action call) where T : Exception
    {
        try
        {
            call();
        }
        catch (T e)
        {
            return e;
        }
        Fail(what + ": no " + typeof(T).Name);
        return null;
    }

    public static void Same(string what, object actual, object wanted)
    {
        if (!Equals(actual, wanted)) Fail(what + ": '" + actual + "', not '" + wanted + "'");
    }

    public static int Report()
    {
        Console.WriteLine(FailureCount + " failure(s)");
        return FailureCount == 0 ? 0 : 1;
    }
}

// The control API of one simulated server; answers come back as their JSON text, which the
// server writes compactly, so that a test looks for exact fragments in it.
sealed class Mock
{
    public readonly string Url;

    public Mock(string url)
    {
        Url = url;
    }

    public string Send(string method, string path, string json = null)
    {
        var request = (HttpWebRequest)WebRequest.Create(Url + path);
        request.Method = method;
        request.Proxy = null;
        if (json != null)
        {
            byte[] body = Encoding.UTF8.GetBytes(json);
            request.ContentType = "application/json";
            using (Stream stream = request.GetRequestStream()) stream.Write(body, 0, body.Length);
        }
        using (var answer = (HttpWebResponse)request.GetResponse())
        using (var reader = new StreamReader(answer.GetResponseStream()))
        {
            return reader.ReadToEnd();
        }
    }

    public void Fault(string json)
    {
        Send("POST", "/__mock/faults", json);
    }

    public string Requests()
    {
        return Send("GET", "/__mock/requests");
    }
}
