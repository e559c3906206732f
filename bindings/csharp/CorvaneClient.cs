// Corvane for C#: a CorvaneClient per platform server, one method per operation of the library
// (named as the operation without "API_"), records with PascalCase properties, and a
// CorvaneException carrying the status, the server's message and the whole error as its Message.
//
//   CorvaneClient.SetLanguage("en-US");
//   using (var client = new CorvaneClient("http://127.0.0.1:8080"))
//   {
//       foreach (PtzTrailInfo trail in client.GetPtzTrailList("D1001-C01"))
//           Console.WriteLine(trail.TrailId + " " + trail.TrailName);
//   }
//
// Text goes out as UTF-8 and comes back decoded from UTF-8; a text holding a NUL character is
// refused with ArgumentException before anything is sent. A client may be used from several
// threads at once; the settings are process-wide and must not change while an operation runs.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Corvane
{
    /// <summary>A failed operation: Status is the library's status (a gateway code, -1, a code of
    /// the C interface or the server's own code), ServerMessage the server's words with its answer
    /// ("" when there were none) and Message the whole error in one sentence.</summary>
    public class CorvaneException : Exception
    {
        public CorvaneException(string message, int status, string serverMessage)
            : base(message)
        {
            Status = status;
            ServerMessage = serverMessage;
        }

        public int Status { get; }
        public string ServerMessage { get; }
    }

    /// <summary>Options of the gateway session; 0 means the gateway's default.</summary>
    public sealed class SessionOptions
    {
        public int ConnectTimeoutMs { get; set; }
        public int RequestTimeoutMs { get; set; }
        public int MaxConnections { get; set; }
        /// <summary>false: the server's certificate is not verified (test servers only).</summary>
        public bool VerifyTls { get; set; } = true;
        /// <summary>A PEM file of trusted CAs instead of the system's store (Linux).</summary>
        public string CaFile { get; set; }
        public int MaxAnswerBytes { get; set; }
    }

    public sealed class DevicePicture
    {
        public DevicePicture(int tag, byte[] pictureData)
        {
            Tag = tag;
            PictureData = pictureData;
        }

        public int Tag { get; }
        public byte[] PictureData { get; }
    }

    public sealed class SpeakerVolumeInfo
    {
        public SpeakerVolumeInfo(string channelId, int microphoneVolume, int speakerVolume,
                             int successful, string channelName)
        {
            ChannelId = channelId;
            MicrophoneVolume = microphoneVolume;
            SpeakerVolume = speakerVolume;
            Successful = successful;
            ChannelName = channelName;
        }

        public string ChannelId { get; }
        public int MicrophoneVolume { get; }
        public int SpeakerVolume { get; }
        public int Successful { get; }
        public string ChannelName { get; }
    }

    public sealed class AudioFileInfo
    {
        public AudioFileInfo(string channelId, string fileId, string fileName)
        {
            ChannelId = channelId;
            FileId = fileId;
            FileName = fileName;
        }

        public string ChannelId { get; }
        public string FileId { get; }
        public string FileName { get; }
    }

    public sealed class ChannelFileInfo
    {
        public ChannelFileInfo(string channelId, string fileId)
        {
            ChannelId = channelId;
            FileId = fileId;
        }

        public string ChannelId { get; }
        public string FileId { get; }
    }

    public sealed class SameAudioFileInfo
    {
        public SameAudioFileInfo(string fileName, IList<ChannelFileInfo> channelFiles)
        {
            FileName = fileName;
            ChannelFiles = channelFiles;
        }

        public string FileName { get; }
        public IList<ChannelFileInfo> ChannelFiles { get; }
    }

    public sealed class ContactInfo
    {
        public ContactInfo(string contactName, string contactPhone, string contactEmail,
                       string contactNote)
        {
            ContactName = contactName;
            ContactPhone = contactPhone;
            ContactEmail = contactEmail;
            ContactNote = contactNote;
        }

        public string ContactName { get; }
        public string ContactPhone { get; }
        public string ContactEmail { get; }
        public string ContactNote { get; }
    }

    public sealed class DeviceContactInfo
    {
        public DeviceContactInfo(string sourceName, string devicePosition,
                             IList<ContactInfo> deviceContacts)
        {
            SourceName = sourceName;
            DevicePosition = devicePosition;
            DeviceContacts = deviceContacts;
        }

        public string SourceName { get; }
        public string DevicePosition { get; }
        public IList<ContactInfo> DeviceContacts { get; }
    }

    public sealed class PtzTrailInfo
    {
        public PtzTrailInfo(string trailId, string trailName)
        {
            TrailId = trailId;
            TrailName = trailName;
        }

        public string TrailId { get; }
        public string TrailName { get; }
    }

    public sealed class RemoteRecord
    {
        public RemoteRecord(int planId, long now)
        {
            PlanId = planId;
            Now = now;
        }

        public int PlanId { get; }
        /// <summary>The server's time when the record started, epoch milliseconds.</summary>
        public long Now { get; }
    }

    /// <summary>The gateway session, closed once: by Dispose, or by the finalizer.</summary>
    internal sealed class SessionHandle : SafeHandle
    {
        public SessionHandle(int handle) : base(IntPtr.Zero, true)
        {
            SetHandle(new IntPtr(handle));
        }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        public int Value { get { return handle.ToInt32(); } }

        protected override bool ReleaseHandle()
        {
            return Native.ZENTA_CloseSession(handle.ToInt32()) == 0;
        }
    }

    /// <summary>One gateway session on a platform server ("http://host:port" or
    /// "https://host:port", optionally with a base path) and the library's operations on it.
    /// </summary>
    public sealed class CorvaneClient : IDisposable
    {
        private readonly SessionHandle session;

        public CorvaneClient(string serverUrl, SessionOptions options = null)
        {
            options = options ?? new SessionOptions();
            var native = new Native.SessionOptions
            {
                StructSize = (uint)Marshal.SizeOf(typeof(Native.SessionOptions)),
                ConnectTimeoutMs = options.ConnectTimeoutMs,
                RequestTimeoutMs = options.RequestTimeoutMs,
                MaxConnections = options.MaxConnections,
                VerifyTls = options.VerifyTls ? 1 : 2,
                MaxAnswerBytes = options.MaxAnswerBytes,
            };
            native.CaFile = options.CaFile == null
                ? IntPtr.Zero : Unmanaged(Utf8(options.CaFile, "CaFile"));
            try
            {
                int handle;
                int status = Native.ZENTA_OpenSession(Utf8(serverUrl, "serverUrl"), ref native,
                                                      out handle);
                if (status != 0) throw new CorvaneException(ErrorMessage(status), status, "");
                session = new SessionHandle(handle);
            }
            finally
            {
                Marshal.FreeHGlobal(native.CaFile);  // the gateway keeps its own copy
            }
        }

        /// <summary>The gateway session's handle (ZENTA_OpenSession).</summary>
        public int Handle
        {
            get
            {
                if (session.IsClosed) throw new ObjectDisposedException("CorvaneClient");
                return session.Value;
            }
        }

        /// <summary>Closes the session; calls in flight finish first.</summary>
        public void Dispose()
        {
            session.Dispose();
        }

        // The settings, process-wide: copied into every request built afterwards.

        public static void SetLanguage(string language)
        {
            Check(Native.corvane_set_language(Utf8(language, "language")));
        }

        public static void SetTimeZone(string timeZone)
        {
            Check(Native.corvane_set_time_zone(Utf8(timeZone, "timeZone")));
        }

        public static void SetMacAddress(string macAddress)
        {
            Check(Native.corvane_set_mac_address(Utf8(macAddress, "macAddress")));
        }

        /// <summary>The version of the library loaded, "MAJOR.MINOR.PATCH".</summary>
        public static string LibraryVersion
        {
            get { return Text(Native.corvane_version()); }
        }

        /// <summary>The whole error in one sentence for a status, with what the calling thread
        /// knows of it: ask on the thread that got the status, before its next call.</summary>
        public static string ErrorMessage(int status)
        {
            return Copied((buffer, size) => Native.corvane_error_message(status, buffer, size));
        }

        // The operations.

        public int GetAIPrivacyConfig()
        {
            int enable;
            Check(Native.corvane_get_ai_privacy_config(Handle, out enable));
            return enable;
        }

        public bool GetWebEnablement(string deviceId)
        {
            int enabled;
            Check(Native.corvane_get_web_enablement(Handle, Utf8(deviceId, "deviceId"),
                                                    out enabled));
            return enabled != 0;
        }

        public bool GetChannelWebEnablement(string channelId)
        {
            int enabled;
            Check(Native.corvane_get_channel_web_enablement(Handle, Utf8(channelId, "channelId"),
                                                            out enabled));
            return enabled != 0;
        }

        /// <summary>The picture's bytes as the server sent them; null when no answer came with
        /// them.</summary>
        public DevicePicture DownloadDevicePicture(string pictureId, int tag = 0)
        {
            IntPtr block;
            int status = Native.corvane_download_device_picture(
                Handle, Utf8(pictureId, "pictureId"), tag, out block);
            try
            {
                Check(status);
                if (block == IntPtr.Zero) return null;
                var picture = Read<Native.Picture>(block, 0);
                var data = new byte[picture.PictureLength];
                Marshal.Copy(picture.PictureData, data, 0, data.Length);
                return new DevicePicture(picture.Tag, data);
            }
            finally
            {
                Native.corvane_free(block);
            }
        }

        /// <summary>The channel's volumes; null when the server listed none.</summary>
        public SpeakerVolumeInfo GetIPSpeakerVolume(string channelId)
        {
            IntPtr block;
            int status = Native.corvane_get_ip_speaker_volume(Handle, Utf8(channelId, "channelId"),
                                                              out block);
            try
            {
                Check(status);
                if (block == IntPtr.Zero) return null;
                var v = Read<Native.SpeakerVolume>(block, 0);
                return new SpeakerVolumeInfo(Text(v.ChannelId), v.MicrophoneVolume, v.SpeakerVolume_,
                                         v.Successful, Text(v.ChannelName));
            }
            finally
            {
                Native.corvane_free(block);
            }
        }

        /// <summary>Sets the volumes that are not negative; CorvaneException with Status -1 when
        /// the server lists the channel as failed.</summary>
        public void SetIPSpeakerVolume(string channelId, int microphoneVolume = -1,
                                       int speakerVolume = -1)
        {
            Check(Native.corvane_set_ip_speaker_volume(Handle, Utf8(channelId, "channelId"),
                                                       microphoneVolume, speakerVolume));
        }

        public IList<AudioFileInfo> GetIPSpeakerAudioList(string channelId)
        {
            IntPtr block;
            int count;
            int status = Native.corvane_get_ip_speaker_audio_list(
                Handle, Utf8(channelId, "channelId"), out block, out count);
            return List(status, block, count, (Native.AudioFile f) =>
                new AudioFileInfo(Text(f.ChannelId), Text(f.FileId), Text(f.FileName)));
        }

        /// <summary>The audio files present on all of the channels, with each channel's id for
        /// them.</summary>
        public IList<SameAudioFileInfo> GetIPSpeakerSameAudioList(IEnumerable<string> channelIds)
        {
            var ids = new List<IntPtr>();
            try
            {
                foreach (string id in channelIds) ids.Add(Unmanaged(Utf8(id, "channelIds")));
                IntPtr block;
                int count;
                int status = Native.corvane_get_ip_speaker_same_audio_list(
                    Handle, ids.Count > 0 ? ids.ToArray() : null, ids.Count, out block, out count);
                return List(status, block, count, (Native.SameAudioFile f) =>
                    new SameAudioFileInfo(Text(f.FileName), Records(f.ChannelFiles,
                        f.ChannelFileCount, (Native.ChannelFile c) =>
                            new ChannelFileInfo(Text(c.ChannelId), Text(c.FileId)))));
            }
            finally
            {
                foreach (IntPtr id in ids) Marshal.FreeHGlobal(id);
            }
        }

        /// <summary>The alarm's sources with their devices' contacts; alarmDate in epoch
        /// milliseconds.</summary>
        public IList<DeviceContactInfo> GetAlarmDeviceContacts(string alarmCode, long alarmDate)
        {
            IntPtr block;
            int count;
            int status = Native.corvane_get_alarm_device_contacts(
                Handle, Utf8(alarmCode, "alarmCode"), alarmDate, out block, out count);
            return List(status, block, count, (Native.DeviceContact s) =>
                new DeviceContactInfo(Text(s.SourceName), Text(s.DevicePosition), Records(
                    s.DeviceContacts, s.DeviceContactCount, (Native.Contact c) =>
                        new ContactInfo(Text(c.ContactName), Text(c.ContactPhone),
                                    Text(c.ContactEmail), Text(c.ContactNote)))));
        }

        public IList<PtzTrailInfo> GetPtzTrailList(string channelId)
        {
            IntPtr block;
            int count;
            int status = Native.corvane_get_ptz_trail_list(Handle, Utf8(channelId, "channelId"),
                                                           out block, out count);
            return List(status, block, count, (Native.PtzTrail t) =>
                new PtzTrailInfo(Text(t.TrailId), Text(t.TrailName)));
        }

        public RemoteRecord StartRemoteRecord(string channelId, int streamType, int duration)
        {
            int planId;
            long now;
            Check(Native.corvane_start_remote_record(Handle, Utf8(channelId, "channelId"),
                                                     streamType, duration, out planId, out now));
            return new RemoteRecord(planId, now);
        }

        /// <summary>The POS playback time ("posPlaybackTime" read leniently).</summary>
        public int GetPosConfig()
        {
            int playbackTime;
            Check(Native.corvane_get_pos_config(Handle, out playbackTime));
            return playbackTime;
        }

        /// <summary>The POS event names by code, in ascending code order.</summary>
        public IDictionary<int, string> GetPosEventTranslate()
        {
            IntPtr block;
            int count;
            int status = Native.corvane_get_pos_event_translate(Handle, out block, out count);
            var names = new SortedDictionary<int, string>();
            // Each text is read while its block lives.
            foreach (var entry in List(status, block, count, (Native.IntText e) =>
                new KeyValuePair<int, string>(e.Key, Text(e.Text))))
            {
                names[entry.Key] = entry.Value;
            }
            return names;
        }

        /// <summary>The dictionary mapping of one mapper type, key to value.</summary>
        public IDictionary<int, int> QueryDictionaryMapper(int type)
        {
            IntPtr block;
            int count;
            int status = Native.corvane_query_dictionary_mapper(Handle, type, out block, out count);
            var mapping = new SortedDictionary<int, int>();
            foreach (var entry in List(status, block, count, (Native.IntPair e) => e))
            {
                mapping[entry.Key] = entry.Value;
            }
            return mapping;
        }

        // The records of a list result, each made by convert while the block lives; the block is
        // released whatever happens.
        private static IList<T> List<R, T>(int status, IntPtr block, int count, Func<R, T> convert)
            where R : struct
        {
            try
            {
                Check(status);
                return Records(block, count, convert);
            }
            finally
            {
                Native.corvane_free(block);
            }
        }

        private static IList<T> Records<R, T>(IntPtr records, int count, Func<R, T> convert)
            where R : struct
        {
            var list = new List<T>(count);
            for (int i = 0; i < count; ++i) list.Add(convert(Read<R>(records, i)));
            return list;
        }

        private static R Read<R>(IntPtr records, int index) where R : struct
        {
            int size = Marshal.SizeOf(typeof(R));
            return (R)Marshal.PtrToStructure(new IntPtr(records.ToInt64() + (long)index * size),
                                             typeof(R));
        }

        private static void Check(int status)
        {
            if (status == 0) return;
            string server = Copied((buffer, size) =>
                Native.corvane_last_server_message(buffer, size));
            throw new CorvaneException(ErrorMessage(status), status, server);
        }

        private static string Copied(Func<byte[], int, int> copy)
        {
            int length = copy(null, 0);
            if (length < 0) throw new OutOfMemoryException(Text(Native.corvane_status_text(length)));
            var buffer = new byte[length + 1];
            length = Math.Min(copy(buffer, buffer.Length), length);
            return Encoding.UTF8.GetString(buffer, 0, Math.Max(length, 0));
        }

        private static byte[] Utf8(string text, string name)
        {
            if (text == null) throw new ArgumentNullException(name);
            if (text.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("holds a NUL character, which the library would cut "
                                            + "the text at", name);
            }
            return Encoding.UTF8.GetBytes(text + "\0");
        }

        private static IntPtr Unmanaged(byte[] bytes)
        {
            IntPtr copy = Marshal.AllocHGlobal(bytes.Length);
            Marshal.Copy(bytes, 0, copy, bytes.Length);
            return copy;
        }

        private static string Text(IntPtr text)
        {
            if (text == IntPtr.Zero) return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) ++length;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }
    }
}
