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
    internal static partial class Native
    {
        private const string Library = "Corvane";
        private const string Gateway = "ZENTA";
        private const CallingConvention C = CallingConvention.Cdecl;

        // The gateway's codes this package tells apart (ZentaSdk.h).
        internal const int Cancelled = -20107;
        internal const int ResolveFailed = -20200;
        internal const int ConnectFailed = -20201;
        internal const int TimedOut = -20202;
        internal const int TlsFailed = -20203;
        internal const int SendFailed = -20204;
        internal const int ReceiveFailed = -20205;

        /// <summary>ZENTA_SessionOptions up to its fourth version; every text is a NUL-terminated
        /// UTF-8 copy that ZENTA_OpenSession copies in turn.</summary>
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
            public IntPtr Authorization;
            public IntPtr Headers;
            public IntPtr TokenCallback;
            public IntPtr TokenContext;
            public IntPtr ClientCert;
            public IntPtr ClientKey;
            public IntPtr ClientKeyPassword;
            public IntPtr Proxy;
            public int Retries;
            public int Compression;
            public int Trace;
            public int Revocation;
        }

        [UnmanagedFunctionPointer(C)]
        internal delegate int TokenCallback(IntPtr context, int refresh, IntPtr token, int size);
        [UnmanagedFunctionPointer(C)]
        internal delegate int ProgressCallback(IntPtr context, long received, long total);

        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_OpenSession(byte[] serverUrl, ref SessionOptions options,
                                                     out int handle);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_CloseSession(int handle);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_OpenScope(int parent, out int scope);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_CancelScope(int handle);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_CloseScope(int scope);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_SetProgressCallback(int handle, ProgressCallback callback,
                                                             IntPtr context);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_HttpStatusOf(int code);
        [DllImport(Gateway, CallingConvention = C)]
        internal static extern int ZENTA_LastErrorDetail([In, Out] byte[] buffer, int size);

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
        internal static extern int corvane_answer_read();

        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_language(byte[] language);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_time_zone(byte[] timeZone);
        [DllImport(Library, CallingConvention = C)]
        internal static extern int corvane_set_mac_address(byte[] macAddress);

        // The operations: Native.g.cs, written from api/operations.toml.
    }
}
