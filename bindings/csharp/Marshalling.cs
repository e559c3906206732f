// The conversions between the C interface's plain C values and .NET's, shared by the session and
// the generated operations.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

namespace Corvane
{
    internal static class Marshalling
    {
        /// <summary>NUL-terminated UTF-8; ArgumentNullException for null, ArgumentException for
        /// a text holding NUL (the library would cut it there).</summary>
        internal static byte[] Utf8(string text, string name)
        {
            if (text == null) throw new ArgumentNullException(name);
            if (text.IndexOf('\0') >= 0)
            {
                throw new ArgumentException("holds a NUL character, which the library would cut "
                                            + "the text at", name);
            }
            return Encoding.UTF8.GetBytes(text + "\0");
        }

        /// <summary>An unmanaged copy of bytes, released with Marshal.FreeHGlobal.</summary>
        internal static IntPtr Unmanaged(byte[] bytes)
        {
            IntPtr copy = Marshal.AllocHGlobal(bytes.Length);
            Marshal.Copy(bytes, 0, copy, bytes.Length);
            return copy;
        }

        /// <summary>The UTF-8 text at a NUL-terminated pointer; "" for null.</summary>
        internal static string Text(IntPtr text)
        {
            if (text == IntPtr.Zero) return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) ++length;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }

        internal static byte[] Bytes(IntPtr data, long length)
        {
            var bytes = new byte[length];
            Marshal.Copy(data, bytes, 0, bytes.Length);
            return bytes;
        }

        /// <summary>A text that copy writes like snprintf and whose full length it
        /// returns.</summary>
        internal static string Copied(Func<byte[], int, int> copy)
        {
            int length = copy(null, 0);
            if (length < 0)
            {
                throw new OutOfMemoryException(Text(Native.corvane_status_text(length)));
            }
            var buffer = new byte[length + 1];
            length = Math.Min(copy(buffer, buffer.Length), length);
            return Encoding.UTF8.GetString(buffer, 0, Math.Max(length, 0));
        }

        /// <summary>The records of a result block, each made by convert while the block lives;
        /// the block is released whatever happens.</summary>
        internal static IList<T> List<R, T>(IntPtr block, int count, Func<R, T> convert)
            where R : struct
        {
            try
            {
                return Records(block, count, convert);
            }
            finally
            {
                Native.corvane_free(block);
            }
        }

        /// <summary>The one record of a result block, null when there is none; the block is
        /// released whatever happens.</summary>
        internal static T Single<R, T>(IntPtr block, Func<R, T> convert)
            where R : struct where T : class
        {
            try
            {
                return block == IntPtr.Zero ? null : convert(Read<R>(block, 0));
            }
            finally
            {
                Native.corvane_free(block);
            }
        }

        internal static IDictionary<K, V> Map<K, V>(IEnumerable<KeyValuePair<K, V>> entries)
        {
            var map = new SortedDictionary<K, V>();
            foreach (KeyValuePair<K, V> entry in entries) map[entry.Key] = entry.Value;
            return map;
        }

        internal static IList<T> Records<R, T>(IntPtr records, int count, Func<R, T> convert)
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
    }
}
