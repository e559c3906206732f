// The options of a gateway session, and their conversion into ZENTA_SessionOptions.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Corvane
{
    /// <summary>Options of the gateway session; 0 and null mean the gateway's default. The texts
    /// are copied when the client opens its session; credentials never reach a trace line, an
    /// error message or a log.</summary>
    public sealed class SessionOptions
    {
        public int ConnectTimeoutMs { get; set; }
        /// <summary>The whole exchange, waiting for a connection included.</summary>
        public int RequestTimeoutMs { get; set; }
        /// <summary>Connections kept for the session (at most 64).</summary>
        public int MaxConnections { get; set; }
        /// <summary>false: the server's certificate is not verified (test servers only).</summary>
        public bool VerifyTls { get; set; } = true;
        /// <summary>A PEM file of trusted CAs instead of the system's store (Linux).</summary>
        public string CaFile { get; set; }
        /// <summary>The largest answer body accepted, in bytes.</summary>
        public int MaxAnswerBytes { get; set; }
        /// <summary>Sends "Authorization: Bearer Token" with every request.</summary>
        public string Token { get; set; }
        /// <summary>Gives the bearer token: called before the session's first request and once
        /// more after the server refused a token with HTTP 401, on a calling thread, never on two
        /// at once. Null, an empty token or an exception fails the call (status -20106). The
        /// client keeps the delegate as long as its session lives.</summary>
        public Func<string> TokenCallback { get; set; }
        /// <summary>The whole Authorization value of every request ("Basic ..."), instead of
        /// Token.</summary>
        public string Authorization { get; set; }
        /// <summary>Header fields sent with every request (API keys); never the framing or the
        /// standard fields, nor Authorization with Token, TokenCallback or Authorization.</summary>
        public IDictionary<string, string> Headers { get; set; }
        /// <summary>A client certificate. Linux: a PEM file; Windows: a PFX file, or
        /// "store:THUMBPRINT" for one of the user's store.</summary>
        public string ClientCert { get; set; }
        /// <summary>Linux: the PEM key file of ClientCert (null: in ClientCert's file).</summary>
        public string ClientKey { get; set; }
        /// <summary>The password of the key (or of the PFX file).</summary>
        public string KeyPassword { get; set; }
        /// <summary>null: the environment's proxy (Linux) or the system's (Windows); "": none;
        /// "http://host:port": that proxy.</summary>
        public string Proxy { get; set; }
        /// <summary>Tries after the first (at most 10), with backoff, within the request
        /// timeout; a request that may have run on the server is never sent again.</summary>
        public int Retries { get; set; }
        /// <summary>true: gzip is asked for and decoded within the answer cap.</summary>
        public bool Compression { get; set; } = true;
        /// <summary>null: as the environment's ZENTA_TRACE says; true: one line per exchange on
        /// standard error; false: none.</summary>
        public bool? Trace { get; set; }
        /// <summary>Windows: a server certificate whose revocation cannot be checked is accepted
        /// (checked where a revocation list can be reached). Linux: ignored.</summary>
        public bool RevocationBestEffort { get; set; }

        /// <summary>The native options for ZENTA_OpenSession, valid while the returned holder
        /// lives.</summary>
        internal NativeOptions ToNative(Native.TokenCallback callback)
        {
            int ways = (Token != null ? 1 : 0) + (TokenCallback != null ? 1 : 0)
                + (Authorization != null ? 1 : 0);
            if (ways > 1)
            {
                throw new ArgumentException("Token, TokenCallback and Authorization each set the "
                                            + "Authorization field: set one", "Token");
            }
            var texts = new NativeOptions();
            try
            {
                Fill(texts, callback);
            }
            catch (Exception)
            {
                texts.Dispose();
                throw;
            }
            return texts;
        }

        private void Fill(NativeOptions texts, Native.TokenCallback callback)
        {
            Native.SessionOptions o = texts.Options;
            o.StructSize = (uint)Marshal.SizeOf(typeof(Native.SessionOptions));
            o.ConnectTimeoutMs = ConnectTimeoutMs;
            o.RequestTimeoutMs = RequestTimeoutMs;
            o.MaxConnections = MaxConnections;
            o.VerifyTls = VerifyTls ? 1 : 2;
            o.MaxAnswerBytes = MaxAnswerBytes;
            o.CaFile = texts.Add(CaFile, "CaFile");
            o.Authorization = texts.Add(Token != null ? "Bearer " + Token : Authorization,
                                        Token != null ? "Token" : "Authorization");
            o.Headers = texts.Lines(Headers);
            if (TokenCallback != null)
            {
                o.TokenCallback = Marshal.GetFunctionPointerForDelegate(callback);
            }
            o.ClientCert = texts.Add(ClientCert, "ClientCert");
            o.ClientKey = texts.Add(ClientKey, "ClientKey");
            o.ClientKeyPassword = texts.Add(KeyPassword, "KeyPassword");
            o.Proxy = texts.Add(Proxy, "Proxy");
            o.Retries = Retries;
            o.Compression = Compression ? 1 : 2;
            o.Trace = Trace == null ? 0 : Trace.Value ? 1 : 2;
            o.Revocation = RevocationBestEffort ? 1 : 0;
            texts.Options = o;
        }

        /// <summary>Writes what callback gives into the gateway's token buffer: its length, or -1
        /// when it gave none or threw (an exception must not cross into the gateway).</summary>
        internal static int WriteToken(Func<string> callback, IntPtr buffer, int size)
        {
            string token;
            try
            {
                token = callback();
            }
            catch (Exception)
            {
                return -1;  // the call fails with -20106, as for a callback that gave no token
            }
            if (token == null) return -1;
            byte[] bytes = Encoding.UTF8.GetBytes(token);
            if (bytes.Length >= size) return bytes.Length;  // too long: the gateway refuses it
            Marshal.Copy(bytes, 0, buffer, bytes.Length);
            Marshal.WriteByte(buffer, bytes.Length, 0);
            return bytes.Length;
        }
    }

    /// <summary>ZENTA_SessionOptions with the unmanaged copies of its texts, released on
    /// Dispose.</summary>
    internal sealed class NativeOptions : IDisposable
    {
        private readonly List<IntPtr> blocks = new List<IntPtr>();

        internal Native.SessionOptions Options;

        internal IntPtr Add(string text, string name)
        {
            if (text == null) return IntPtr.Zero;
            IntPtr copy = Marshalling.Unmanaged(Marshalling.Utf8(text, name));
            blocks.Add(copy);
            return copy;
        }

        // "Name: value" lines ended by a null pointer.
        internal IntPtr Lines(IDictionary<string, string> headers)
        {
            if (headers == null) return IntPtr.Zero;
            var lines = new List<IntPtr>();
            foreach (KeyValuePair<string, string> header in headers)
            {
                lines.Add(Add(header.Key + ": " + header.Value, "Headers"));
            }
            lines.Add(IntPtr.Zero);
            IntPtr array = Marshal.AllocHGlobal(IntPtr.Size * lines.Count);
            blocks.Add(array);
            for (int i = 0; i < lines.Count; ++i)
            {
                Marshal.WriteIntPtr(array, i * IntPtr.Size, lines[i]);
            }
            return array;
        }

        public void Dispose()
        {
            foreach (IntPtr block in blocks) Marshal.FreeHGlobal(block);
            blocks.Clear();
        }
    }
}
