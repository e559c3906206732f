// Corvane for C#: a CorvaneClient per platform server, one method per operation of the library
// (named as the operation without "API_"), records with PascalCase properties, and a
// CorvaneException carrying the status, the server's message and the whole error as its Message.
//
//   CorvaneClient.SetLanguage("en-US");
//   using (var client = new CorvaneClient("http://127.0.0.1:8080"))
//   {
//       foreach (AudioFileInfo file in client.GetIPSpeakerAudioList("D2001-C01"))
//           Console.WriteLine(file.FileId + " " + file.FileName);
//   }
//
// The operations and their records are written from api/operations.toml (CorvaneClient.g.cs,
// Records.g.cs, Native.g.cs); this file holds the session and the conversions they share.
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
    public sealed partial class CorvaneClient : IDisposable
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

        private static byte[] Bytes(IntPtr data, long length)
        {
            var bytes = new byte[length];
            Marshal.Copy(data, bytes, 0, bytes.Length);
            return bytes;
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
