// P/Invoke declarations of Corvane's C interface (CorvaneC.h) and of the gateway's session
// functions (ZentaSdk.h). The library names carry no prefix or suffix, so the same declarations
// load Corvane.dll and ZENTA.dll on Windows and libCorvane.so and libZENTA.so on Linux (.NET and
// mono both try the platform's "lib" prefix and file suffix).
//
// Text goes out as NUL-terminated UTF-8 byte arrays and results come back as pointers into one
// block that the library allocated: the records are read from it and the block is released with
// corvane_free, never by the marshaller (which would free it with the wrong allocator).
using System;
using System.Runtime.InteropServices;

namespace Corvane
{
    internal static class Native
    {
        private const string Library = "Corvane";
        private const string Gateway = "ZENTA";
        private const CallingConvention C = CallingConvention.Cdecl;

        [StructLayout(LayoutKind.Sequential)]
        internal struct SessionOptions
        {
            public uint StructSize;
            public int ConnectTimeoutMs;
            public int RequestTimeoutMs;
            public int MaxConnections;
            public int VerifyTls;
            public IntPtr CaFile;
            public int MaxAnswerBytes;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct Picture
        {
            public int Tag;
            public long PictureLength;
            public IntPtr PictureData;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct SpeakerVolume
        {
            public IntPtr ChannelId;
            public int MicrophoneVolume;
            public int SpeakerVolume_;
            public int Successful;
            public IntPtr ChannelName;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct AudioFile
        {
            public IntPtr ChannelId, FileId, FileName;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct ChannelFile
        {
            public IntPtr ChannelId, FileId;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct SameAudioFile
        {
            public IntPtr FileName;
            public IntPtr ChannelFiles;
            public int ChannelFileCount;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct Contact
        {
            public IntPtr ContactName, ContactPhone, ContactEmail, ContactNote;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct DeviceContact
        {
            public IntPtr SourceName;
            public IntPtr DevicePosition;
            public IntPtr DeviceContacts;
            public int DeviceContactCount;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct PtzTrail
        {
            public IntPtr TrailId, TrailName;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct IntText
        {
            public int Key;
            public IntPtr Text;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct IntPair
        {
            public int Key, Value;
        }

        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_OpenSession(byte[] serverUrl, ref SessionOptions options,
                                                     out int handle);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_CloseSession(int handle);

        [DllImport(Library, CallingConvention = C)]
        internal static extern IntPtr corvane_status_text(int status);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_error_message(int status, [In, Out] byte[] buffer,
                                                         int size);
        [DllImport(Library, CallingConvention = C)]
        internal static extern IntPtr corvane_version();
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_last_server_message([In, Out] byte[] buffer, int size);
        [DllImport(Library, CallingConvention = C)]
        internal static extern void corvane_free(IntPtr block);

        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_language(byte[] language);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_time_zone(byte[] timeZone);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_mac_address(byte[] macAddress);

        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_ai_privacy_config(int handle, out int enable);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_web_enablement(int handle, byte[] deviceId,
                                                              out int enabled);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_channel_web_enablement(int handle, byte[] channelId,
                                                                      out int enabled);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_download_device_picture(int handle, byte[] pictureId,
                                                                   int tag, out IntPtr picture);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_ip_speaker_volume(int handle, byte[] channelId,
                                                                 out IntPtr volume);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_ip_speaker_volume(int handle, byte[] channelId,
                                                                 int microphoneVolume,
                                                                 int speakerVolume);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_ip_speaker_audio_list(int handle, byte[] channelId,
                                                                     out IntPtr files,
                                                                     out int count);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_ip_speaker_same_audio_list(
            int handle, IntPtr[] channelIds, int channelCount, out IntPtr files, out int count);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_alarm_device_contacts(int handle, byte[] alarmCode,
                                                                     long alarmDate,
                                                                     out IntPtr contacts,
                                                                     out int count);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_ptz_trail_list(int handle, byte[] channelId,
                                                              out IntPtr trails, out int count);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_start_remote_record(int handle, byte[] channelId,
                                                               int streamType, int duration,
                                                               out int planId, out long now);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_pos_config(int handle, out int playbackTime);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_get_pos_event_translate(int handle, out IntPtr names,
                                                                   out int count);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_query_dictionary_mapper(int handle, int type,
                                                                   out IntPtr mapping,
                                                                   out int count);
    }
}
