// The exceptions of a failed operation, one type per kind of failure so that a caller can catch
// what it can act on: no connection, a timeout, TLS, an HTTP status, the server's own refusal.
// A cancelled call throws OperationCanceledException instead.
using System;

namespace Corvane
{
    /// <summary>A failed operation: Status is the library's status (a gateway code, -1, a code of
    /// the C interface or the server's own code), ServerMessage the server's words with its answer
    /// ("" when there were none) and Message the whole error in one sentence. Result holds what
    /// the operation read from an answer that came with a failure code (null otherwise, and for
    /// the operations that return nothing).</summary>
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
        public object Result { get; internal set; }
    }

    /// <summary>The server could not be reached or the connection broke: its name did not
    /// resolve, the connection was refused, or sending or receiving failed.</summary>
    public class CorvaneConnectionException : CorvaneException
    {
        public CorvaneConnectionException(string message, int status)
            : base(message, status, "")
        {
        }
    }

    /// <summary>The connect timeout or the request timeout elapsed.</summary>
    public class CorvaneTimeoutException : CorvaneException
    {
        public CorvaneTimeoutException(string message, int status)
            : base(message, status, "")
        {
        }
    }

    /// <summary>The TLS handshake or the verification of a certificate failed.</summary>
    public class CorvaneTlsException : CorvaneException
    {
        public CorvaneTlsException(string message, int status)
            : base(message, status, "")
        {
        }
    }

    /// <summary>The server answered an HTTP status other than 2xx without a JSON envelope (a
    /// proxy's or front end's error page); HttpStatus is that status.</summary>
    public class CorvaneHttpException : CorvaneException
    {
        public CorvaneHttpException(string message, int status, int httpStatus)
            : base(message, status, "")
        {
            HttpStatus = httpStatus;
        }

        public int HttpStatus { get; }
    }

    /// <summary>The server refused the request with its own code (Code, also Status), whatever
    /// the number: a server may send any code, also one that a layer below uses.</summary>
    public class CorvaneServerException : CorvaneException
    {
        public CorvaneServerException(string message, int code, string serverMessage)
            : base(message, code, serverMessage)
        {
        }

        public int Code { get { return Status; } }
    }

    /// <summary>Turns a failed status into its exception, on the thread that got it.</summary>
    internal static class Failures
    {
        /// <summary>The exception for the status of an operation of the C interface; result is
        /// what the outputs hold, attached when they were written from an answer.</summary>
        internal static Exception Of(int status, object result)
        {
            // The calling thread's last operation ended with the server's answer: its status is the
            // server's code (or -1 for an answer that could not be read), whatever the number.
            return Classified(status, Native.corvane_answer_read() != 0, result);
        }

        /// <summary>The exception for the status of a function of the gateway.</summary>
        internal static Exception OfGateway(int status)
        {
            return Classified(status, false, null);
        }

        private static Exception Classified(int status, bool answered, object result)
        {
            string message = CorvaneClient.ErrorMessage(status);
            if (answered)
            {
                string server = Marshalling.Copied(Native.corvane_last_server_message);
                CorvaneException refused = status == -1
                    ? new CorvaneException(message, status, server)
                    : new CorvaneServerException(message, status, server);
                refused.Result = result;
                return refused;
            }
            switch (status)
            {
                case Native.Cancelled:
                    return new OperationCanceledException(message);
                case Native.ResolveFailed:
                case Native.ConnectFailed:
                case Native.SendFailed:
                case Native.ReceiveFailed:
                    return new CorvaneConnectionException(message, status);
                case Native.TimedOut:
                    return new CorvaneTimeoutException(message, status);
                case Native.TlsFailed:
                    return new CorvaneTlsException(message, status);
            }
            int httpStatus = Native.ZENTA_HttpStatusOf(status);
            if (httpStatus != 0) return new CorvaneHttpException(message, status, httpStatus);
            return new CorvaneException(message, status, "");
        }
    }
}
