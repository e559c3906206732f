// Scopes: a handle under a client's session (or under another scope) whose calls can be
// cancelled together, the way a view of an application ends its calls when it closes.
//
//   using (CorvaneScope view = client.OpenScope())
//   {
//       // any thread: view.Cancel() or view.Dispose() ends every call on the view at once
//       DevicePicture picture = view.DownloadDevicePicture("P0900");
//   }
using System;
using System.Runtime.InteropServices;

namespace Corvane
{
    /// <summary>A gateway scope, closed once: by Dispose, or by the finalizer. It holds the
    /// scope's progress callback, which the gateway may call until the scope is closed.</summary>
    internal sealed class ScopeHandle : SafeHandle
    {
        private Native.ProgressCallback progress;

        public ScopeHandle(int parent) : base(IntPtr.Zero, true)
        {
            int scope;
            int status = Native.ZENTA_OpenScope(parent, out scope);
            if (status != 0) throw Failures.OfGateway(status);
            SetHandle(new IntPtr(scope));
        }

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        public int Value { get { return handle.ToInt32(); } }

        public void WatchProgress(Native.ProgressCallback callback)
        {
            progress = callback;
            int status = Native.ZENTA_SetProgressCallback(Value, callback, IntPtr.Zero);
            if (status != 0) throw Failures.OfGateway(status);
        }

        protected override bool ReleaseHandle()
        {
            // A scope whose session was closed is closed with it: released either way.
            Native.ZENTA_CloseScope(handle.ToInt32());
            GC.KeepAlive(progress);  // no longer called once the scope is closed
            return true;
        }
    }

    /// <summary>A scope under a client or another scope: the same operations, sharing the
    /// session's options, credentials and connections, and cancelled as a whole by Cancel or
    /// Dispose (which also cancel the scopes opened under it). Thread-safe.</summary>
    public sealed class CorvaneScope : CorvaneOperations, IDisposable
    {
        private readonly ScopeHandle scope;

        internal CorvaneScope(CorvaneOperations parent)
        {
            scope = new ScopeHandle(parent.Handle);
            Parent = parent;
        }

        /// <summary>The client or scope this scope was opened under; it stays open as long as
        /// this scope is in use.</summary>
        public CorvaneOperations Parent { get; }

        /// <summary>The gateway scope's handle (ZENTA_OpenScope).</summary>
        public override int Handle
        {
            get
            {
                if (scope.IsClosed) throw new ObjectDisposedException("CorvaneScope");
                return scope.Value;
            }
        }

        /// <summary>Ends every call in flight on this scope and on the scopes under it with
        /// OperationCanceledException, within 100 ms, and makes every later call on it throw the
        /// same at once without sending anything. The parent is untouched. Nothing happens on a
        /// closed scope.</summary>
        public void Cancel()
        {
            if (!scope.IsClosed) Native.ZENTA_CancelScope(scope.Value);
        }

        /// <summary>Cancels what runs on the scope and closes it; returns at once.</summary>
        public void Dispose()
        {
            scope.Dispose();
        }

        // Reports progress of the answers of calls that start afterwards on this scope.
        internal void WatchProgress(Native.ProgressCallback callback)
        {
            scope.WatchProgress(callback);
        }
    }
}
