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

        // The operations: Native.g.cs, written from api/operations.toml.
    }
}
