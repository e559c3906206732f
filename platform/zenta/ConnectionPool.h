// A session's connections: at most `size` of them exist; a call borrows one, waiting while all
// are busy (at most until its deadline), and gives it back, so sequential calls reuse one kept-
// alive connection and parallel calls run side by side.
#ifndef ZENTA_CONNECTIONPOOL_H
#define ZENTA_CONNECTIONPOOL_H

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Transport.h"

namespace zenta {

// A connection and what the policy knows of it.
struct PooledConnection {
  std::unique_ptr<Connection> connection;
  bool carried = false;          // carried an exchange: may hold a kept-alive connection
  Clock::time_point lastUsed{};  // when its last exchange ended
};

class ConnectionPool {
 public:
  using Factory = std::function<std::unique_ptr<Connection>()>;

  ConnectionPool(int size, Factory factory);
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // A connection for one exchange, returned to the pool when the loan ends.
  class Loan {
   public:
    explicit Loan(ConnectionPool& pool) : pool_(pool) {}
    Loan(const Loan&) = delete;
    Loan& operator=(const Loan&) = delete;
    ~Loan() {
      if (connection_) pool_.Return(std::move(connection_), discard_);
    }
    PooledConnection& Get() { return *connection_; }
    // The connection is freed when the loan ends, never lent again (a cancelled exchange left it
    // in an unknown state).
    void Discard() { discard_ = true; }

   private:
    friend class ConnectionPool;
    ConnectionPool& pool_;
    std::unique_ptr<PooledConnection> connection_;
    bool discard_ = false;
  };

  // Lends the most recently returned idle connection, or a new one while fewer than size exist,
  // waiting at most until deadline or the call's cancel (see Wake). Returns 0, ZENTA_E_TIMEOUT,
  // ZENTA_E_CANCELLED, ZENTA_E_SESSION_CLOSED or ZENTA_E_NO_MEMORY.
  int Borrow(Clock::time_point deadline, Loan& loan, const CallControl& call = {});

  // Lets the calls waiting for a connection look again whether they were cancelled.
  void Wake();

  // Fails the calls waiting for a connection and every later one with ZENTA_E_SESSION_CLOSED and
  // frees the idle connections; lent ones are freed when they come back.
  void Shutdown();

  int Size() const { return size_; }

 private:
  void Return(std::unique_ptr<PooledConnection> connection, bool discard);

  const int size_;
  const Factory factory_;
  std::mutex mutex_;
  std::condition_variable available_;
  std::vector<std::unique_ptr<PooledConnection>> idle_;
  int created_ = 0;
  bool closed_ = false;
};

}  // namespace zenta

#endif  // ZENTA_CONNECTIONPOOL_H
