// Corvane for C#: a CorvaneClient per platform server, one method per operation of the library
// (named as the operation without "API_"), records with PascalCase properties, and exceptions
// that tell the kind of failure apart (Exceptions.cs).
//
//   CorvaneClient.SetLanguage("en-US");
//   using (var client = new CorvaneClient("http://127.0.0.1:8080"))
//   {
//       foreach (AudioFileInfo file in client.GetIPSpeakerAudioList("D2001-C01"))
//           Console.WriteLine(file.FileId + " " + file.FileName);
//   }
//
// The operations and their records are written from api/operations.toml
// (CorvaneOperations.g.cs, Records.g.cs, Native.g.cs); this file holds the session.
//
// Text goes out as UTF-8 and comes back decoded from UTF-8; a text holding a NUL character is
// refused with ArgumentException before anything is sent. A client may be used from several
// threads at once; the settings are process-wide and must not change while an operation runs.
// Scopes (CorvaneScope.cs) and the asynchronous operations (CorvaneOperations.cs) cancel calls.
using System;
using System.Runtime.InteropServices;
using static Corvane.Marshalling;

namespace Corvane
{
    /// <summary>The gateway session, closed once: by Dispose, or by the finalizer. It holds the
    /// session's token callback, which the gateway may call until the session is closed.</summary>
    internal sealed class SessionHandle : SafeHandle
    {
        private readonly Native.TokenCallback tokenCallback;

        public SessionHandle(int handle, Native.TokenCallback tokenCallback)
            : base(IntPtr.Zero, true)
        {
            SetHandle(new IntPtr(handle));
            this.tokenCallback = tokenCallback;
        }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        public int Value { get { return handle.ToInt32(); } }

        protected override bool ReleaseHandle()
        {
            bool closed = Native.ZENTA_CloseSession(handle.ToInt32()) == 0;
            GC.KeepAlive(tokenCallback);  // no longer called once the session is closed
            return closed;
        }
    }

    /// <summary>One gateway session on a platform server ("http://host:port" or
    /// "https://host:port", optionally with a base path) and the library's operations on it.
    /// </summary>
    public sealed class CorvaneClient : CorvaneOperations, IDisposable
    {
        private readonly SessionHandle session;

        /// <summary>Opens the session; CorvaneException when the gateway refuses the URL or an
        /// option, ArgumentException for a text holding NUL or conflicting credentials.</summary>
        public CorvaneClient(string serverUrl, SessionOptions options = null)
        {
            options = options ?? new SessionOptions();
            Func<string> token = options.TokenCallback;
            Native.TokenCallback tokenCallback = null;
            if (token != null)
            {
                tokenCallback = (context, refresh, buffer, size) =>
                    SessionOptions.WriteToken(token, buffer, size);
            }
            using (NativeOptions native = options.ToNative(tokenCallback))
            {
                int handle;
                int status = Native.ZENTA_OpenSession(Utf8(serverUrl, "serverUrl"),
                                                      ref native.Options, out handle);
                if (status != 0)
                {
                    string detail = Copied(Native.ZENTA_LastErrorDetail);
                    throw new CorvaneException("the session could not be opened (status " + status
                                               + "): " + detail, status, "");
                }
                session = new SessionHandle(handle, tokenCallback);
            }
        }

        /// <summary>The gateway session's handle (ZENTA_OpenSession).</summary>
        public override int Handle
        {
            get
            {
                if (session.IsClosed) throw new ObjectDisposedException("CorvaneClient");
                return session.Value;
            }
        }

        /// <summary>Closes the session and returns at once: the calls in flight on it and on its
        /// scopes end with OperationCanceledException, and later calls throw
        /// ObjectDisposedException.</summary>
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
    }
}
