// The C# leg of the differential test (differential.py): reads operation names from standard
// input, one per line, runs each on a CorvaneClient of the server named by args[0] and prints one
// JSON line per operation: "status"; "server" when the assembly has an exception type for the
// server's refusals, whether this was one; "out", the result (on a failure the exception's
// Result, when the assembly attaches it). Records print as arrays of their constructor's
// arguments, dictionaries as [key, value] pairs by key.
using System;
using System.Collections;
using System.Collections.Generic;
using System.Linq;
using System.Reflection;
using System.Text;
using Corvane;

static class DifferentialLeg
{
    static readonly Dictionary<string, Func<CorvaneClient, object>> Ops =
        new Dictionary<string, Func<CorvaneClient, object>>
    {
        { "get_ai_privacy_config", c => c.GetAIPrivacyConfig() },
        { "get_web_enablement", c => c.GetWebEnablement("D1001") },
        { "get_channel_web_enablement", c => c.GetChannelWebEnablement("D1001-C01") },
        { "download_device_picture", c => c.DownloadDevicePicture("P0001", 7) },
        { "get_ip_speaker_volume", c => c.GetIPSpeakerVolume("D2001-C01") },
        { "set_ip_speaker_volume", c => { c.SetIPSpeakerVolume("D2001-C01", 10, 20); return null; } },
        { "get_ip_speaker_audio_list", c => c.GetIPSpeakerAudioList("D2001-C01") },
        { "get_ip_speaker_same_audio_list",
          c => c.GetIPSpeakerSameAudioList(new[] { "D2001-C01", "D2001-C02" }) },
        { "get_alarm_device_contacts", c => c.GetAlarmDeviceContacts("ALM-0001", 1710852658426) },
        { "get_ptz_trail_list", c => c.GetPtzTrailList("D1001-C01") },
        { "start_remote_record", c => c.StartRemoteRecord("D1001-C01", 1, 30) },
        { "get_pos_config", c => c.GetPosConfig() },
        { "get_pos_event_translate", c => c.GetPosEventTranslate() },
        { "query_dictionary_mapper", c => c.QueryDictionaryMapper(2) },
    };

    static int Main(string[] args)
    {
        Console.OutputEncoding = new UTF8Encoding(false);
        using (var client = new CorvaneClient(args[0]))
        {
            string op;
            while ((op = Console.ReadLine()) != null) Console.WriteLine(Run(client, Ops[op]));
        }
        return 0;
    }

    static string Run(CorvaneClient client, Func<CorvaneClient, object> op)
    {
        try
        {
            return "{\"status\":0,\"out\":" + Json(op(client)) + "}";
        }
        catch (CorvaneException e)
        {
            Type type = e.GetType();
            PropertyInfo code = type.GetProperty("Code") ?? type.GetProperty("Status");
            var line = new StringBuilder("{\"status\":" + Json(code.GetValue(e, null)));
            Type server = type.Assembly.GetType("Corvane.CorvaneServerException");
            if (server != null) line.Append(",\"server\":" + Json(server.IsInstanceOfType(e)));
            PropertyInfo result = type.GetProperty("Result");
            if (result != null) line.Append(",\"out\":" + Json(result.GetValue(e, null)));
            return line.Append("}").ToString();
        }
    }

    static string Json(object value)
    {
        if (value == null) return "null";
        if (value is bool) return (bool)value ? "true" : "false";
        if (value is int || value is long) return value.ToString();
        if (value is string) return Text((string)value);
        if (value is byte[]) return Text(Encoding.UTF8.GetString((byte[])value));
        var map = value as IDictionary;
        if (map != null)
        {
            var keys = map.Keys.Cast<int>().OrderBy(k => k);
            return "[" + string.Join(",", keys.Select(k => "[" + k + "," + Json(map[k]) + "]")) + "]";
        }
        var list = value as IEnumerable;
        if (list != null) return "[" + string.Join(",", list.Cast<object>().Select(Json)) + "]";
        // A record: its properties in the order of its constructor's parameters.
        Type type = value.GetType();
        var names = type.GetConstructors()[0].GetParameters().Select(p => p.Name);
        return "[" + string.Join(",", names.Select(n => Json(type.GetProperty(
            n, BindingFlags.Public | BindingFlags.Instance | BindingFlags.IgnoreCase)
            .GetValue(value, null)))) + "]";
    }

    static string Text(string text)
    {
        var json = new StringBuilder("\"");
        foreach (char c in text)
        {
            if (c == '"' || c == '\\' || c < ' ') json.AppendFormat("\\u{0:x4}", (int)c);
            else json.Append(c);
        }
        return json.Append("\"").ToString();
    }
}
