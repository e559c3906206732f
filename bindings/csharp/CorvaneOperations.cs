// What the operations of a client and of a scope share: the handle they run on and how a status
// becomes a result or an exception. The operations themselves are written from
// api/operations.toml (CorvaneOperations.g.cs).
using System;

namespace Corvane
{
    /// <summary>The library's operations on a gateway handle: a CorvaneClient's session or a
    /// CorvaneScope.</summary>
    public abstract partial class CorvaneOperations
    {
        // Each operation keeps its object alive until the call returns (GC.KeepAlive), so that a
        // finalizer cannot close the session under a call whose caller dropped the object.
        internal CorvaneOperations()
        {
        }

        /// <summary>The gateway handle the operations run on; ObjectDisposedException once
        /// disposed.</summary>
        public abstract int Handle { get; }

        // The result of a call that returned status: result itself on 0, else the status's
        // exception, with result attached when it was read from the server's answer.
        internal static T Finish<T>(int status, T result)
        {
            if (status != 0) throw Failures.Of(status, result);
            return result;
        }

        internal static void Check(int status)
        {
            if (status != 0) throw Failures.Of(status, null);
        }
    }
}
