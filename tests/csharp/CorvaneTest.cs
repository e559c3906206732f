// The C# binding (bindings/csharp) through every setting and operation against
// corvane-mock-server, under mono. tests/capi/capi_driver.py runs it as it runs the C program:
// standard input holds the result lines it must find (made from the server's catalog), the first
// dictionary-mapper answer holds a word, and the driver checks afterwards that the settings
// reached every request. Then the failures: the server's refusal, the gateway's, a NUL in a
// text, a disposed client.
// Usage: CorvaneTest.exe <server URL> <alarm code> <alarm date> < expected lines
using System;
using System.Collections.Generic;
using System.Linq;
using Corvane;
using static Check;

static class CorvaneTest
{
    static HashSet<string> expected;

    // A result read through the binding, as a line that must be among the expected ones.
    static void Found(params object[] fields)
    {
        string line = string.Join("|", fields.Select(f => f.ToString()));
        if (!expected.Contains(line)) Fail("result not expected: " + line);
    }

    static int Main(string[] args)
    {
        if (args.Length != 3) return 2;
        expected = new HashSet<string>(Console.In.ReadToEnd().Split('\n'));
        string[] devices = { "D1001", "D1002", "D1003", "D2001" };
        string[] channels = { "D1001-C01", "D1001-C02", "D1001-C03", "D1002-C01" };
        string[] speakers = { "D2001-C01", "D2001-C02", "D2001-C03", "D2001-C04" };
        CorvaneClient.SetLanguage("fr-CH");
        CorvaneClient.SetTimeZone("Europe/Zurich");
        CorvaneClient.SetMacAddress("02-00-5E-10-00-2A");
        var options = new SessionOptions { RequestTimeoutMs = 10000 };
        using (var client = new CorvaneClient(args[0], options))
        {
            var word = Throws<CorvaneException>("mapping holding a word",
                                                () => client.QueryDictionaryMapper(1));
            if (word != null)
            {
                Same("its status", word.Status, -40002);
                Same("its type", word.GetType(), typeof(CorvaneException));  // the library's own
            }
            for (int type = 1; type <= 4; ++type)
            {
                var map = client.QueryDictionaryMapper(type);
                Found("mapper", type, map.Count);
                foreach (var entry in map) Found("map", type, entry.Key, entry.Value);
            }
            Found("ai-privacy", client.GetAIPrivacyConfig());
            Found("pos", client.GetPosConfig());
            for (int i = 0; i < 4; ++i)
            {
                Found("web", devices[i], client.GetWebEnablement(devices[i]) ? 1 : 0);
                Found("channel-web", channels[i],
                      client.GetChannelWebEnablement(channels[i]) ? 1 : 0);
                var trails = client.GetPtzTrailList(channels[i]);
                Found("trails", channels[i], trails.Count);
                foreach (var t in trails) Found("trail", channels[i], t.TrailId, t.TrailName);
            }
            foreach (string id in new[] { "P0100", "P 0200" })
            {
                var picture = client.DownloadDevicePicture(id, 41);
                Same("picture tag", picture.Tag, 41);
                byte[] png = picture.PictureData;
                Found("picture", id, png.Length, png[18] << 8 | png[19], png[22] << 8 | png[23]);
            }
            foreach (string id in speakers)
            {
                var v = client.GetIPSpeakerVolume(id);
                Found("volume", v.ChannelId, v.ChannelName, v.MicrophoneVolume, v.SpeakerVolume,
                      v.Successful);
                int status = 0;
                try
                {
                    client.SetIPSpeakerVolume(id, 37, 63);
                }
                catch (CorvaneException e)
                {
                    status = e.Status;
                }
                Found("set-volume", id, status);
            }
            var set = client.GetIPSpeakerVolume(speakers[0]);
            Same("volumes set", set.MicrophoneVolume + "/" + set.SpeakerVolume, "37/63");
            var files = client.GetIPSpeakerAudioList(speakers[0]);
            Found("audio-files", speakers[0], files.Count);
            foreach (var f in files) Found("audio", f.ChannelId, f.FileId, f.FileName);
            var same = client.GetIPSpeakerSameAudioList(speakers.Take(2));
            Found("same-audio", same.Count);
            foreach (var f in same)
            {
                foreach (var c in f.ChannelFiles) Found("same", f.FileName, c.ChannelId, c.FileId);
            }
            var sources = client.GetAlarmDeviceContacts(args[1], long.Parse(args[2]));
            Found("alarm", args[1], sources.Count);
            foreach (var s in sources)
            {
                Found("source", s.SourceName, s.DevicePosition, s.DeviceContacts.Count);
                foreach (var c in s.DeviceContacts)
                {
                    Found("contact", s.SourceName, c.ContactName, c.ContactPhone, c.ContactEmail,
                          c.ContactNote);
                }
            }
            var names = client.GetPosEventTranslate();
            Found("pos-events", names.Count);
            foreach (var entry in names) Found("pos-event", entry.Key, entry.Value);
            var first = client.StartRemoteRecord(channels[0], 0, 60);
            var second = client.StartRemoteRecord(channels[0], 0, 60);
            Same("plan ids", second.PlanId - first.PlanId, 1);
            long today = DateTimeOffset.UtcNow.ToUnixTimeMilliseconds();
            if (Math.Abs(first.Now - today) > 86400000L) Fail("record start " + first.Now);

            // The server's refusal: its code, its words and the whole sentence.
            var refused = Throws<CorvaneServerException>("unknown device",
                                                         () => client.GetWebEnablement("D9999"));
            if (refused != null)
            {
                Same("refusal code", refused.Code, 4004);
                Same("server message", refused.ServerMessage, "no device D9999");
                Same("message", refused.Message,
                     "the server refused the request with code 4004: no device D9999");
            }
            Throws<ArgumentException>("a NUL in an id", () => client.GetPtzTrailList("D1001\0"));
            Same("version", CorvaneClient.LibraryVersion,
                 Environment.GetEnvironmentVariable("CORVANE_EXPECTED_VERSION"));
            client.Dispose();
            Throws<ObjectDisposedException>("a disposed client", () => client.GetPosConfig());
        }

        // The gateway's failure, with the transport's words after the code's text.
        using (var closed = new CorvaneClient("http://127.0.0.1:9"))
        {
            var failed = Throws<CorvaneConnectionException>("closed port",
                                                            () => closed.GetPosConfig());
            if (failed != null)
            {
                Same("gateway status", failed.Status, -20201);
                string text = "the connection to the server was refused or could not be made " +
                              "(status -20201): ";
                if (!failed.Message.StartsWith(text, StringComparison.Ordinal) ||
                    failed.Message.Length <= text.Length)
                {
                    Fail("gateway message: " + failed.Message);
                }
            }
        }
        return Report();
    }
}
