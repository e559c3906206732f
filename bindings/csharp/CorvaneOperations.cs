// What the operations of a client and of a scope share: the handle they run on, how a status
// becomes a result or an exception, and how a call runs asynchronously. The operations themselves
// are written from api/operations.toml (CorvaneOperations.g.cs).
using System;
using System.Runtime.ExceptionServices;
using System.Threading;
using System.Threading.Tasks;

namespace Corvane
{
    /// <summary>The library's operations on a gateway handle: a CorvaneClient's session or a
    /// CorvaneScope. Each operation Xxx has XxxAsync, which runs it on a thread and a scope of
    /// its own: cancelling its token cancels that scope, and the task then ends in
    /// OperationCanceledException.</summary>
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

        /// <summary>Opens a scope under this client or scope (ZENTA_OpenScope).</summary>
        public CorvaneScope OpenScope()
        {
            return new CorvaneScope(this);
        }

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

        // call on a scope of its own under this object, on a thread of its own (a call blocks its
        // thread while it waits for the server: on the thread pool, a few calls at once would
        // hold every worker and the next calls would wait for the pool to grow); progress, when
        // given, hears of the bytes of the answer received so far.
        internal Task<T> Run<T>(Func<int, T> call, CancellationToken cancellationToken,
                                IProgress<long> progress = null)
        {
            return Task.Factory.StartNew(() =>
            {
                Exception progressFailure = null;
                using (CorvaneScope scope = OpenScope())
                {
                    if (progress != null)
                    {
                        scope.WatchProgress((context, received, total) =>
                        {
                            try
                            {
                                progress.Report(received);
                                return 0;
                            }
                            catch (Exception e)
                            {
                                progressFailure = e;  // thrown instead, once the call has ended
                                return 1;
                            }
                        });
                    }
                    using (cancellationToken.Register(scope.Cancel))
                    {
                        try
                        {
                            return call(scope.Handle);
                        }
                        catch (OperationCanceledException) when (progressFailure != null)
                        {
                            ExceptionDispatchInfo.Capture(progressFailure).Throw();
                            throw;
                        }
                        catch (OperationCanceledException e)
                            when (cancellationToken.IsCancellationRequested)
                        {
                            throw new OperationCanceledException(e.Message, e, cancellationToken);
                        }
                    }
                }
            }, cancellationToken, TaskCreationOptions.LongRunning, TaskScheduler.Default);
        }
    }
}
