#include "ConnectionPool.h"

#include <zenta/ZentaSdk.h>

#include <new>
#include <utility>

namespace zenta {

ConnectionPool::ConnectionPool(int size, Factory factory)
    : size_(size), factory_(std::move(factory)) {
  idle_.reserve(static_cast<std::size_t>(size));
}

int ConnectionPool::Borrow(Clock::time_point deadline, Loan& loan, const CallControl& call) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool ready = available_.wait_until(lock, deadline, [this, &call] {
    return closed_ || !idle_.empty() || created_ < size_ || call.Cancelled();
  });
  if (call.Cancelled()) return ZENTA_E_CANCELLED;
  if (closed_) return ZENTA_E_SESSION_CLOSED;
  if (!ready) return ZENTA_E_TIMEOUT;
  if (!idle_.empty()) {
    loan.connection_ = std::move(idle_.back());
    idle_.pop_back();
    return ZENTA_OK;
  }
  ++created_;
  lock.unlock();
  std::unique_ptr<PooledConnection> made(new (std::nothrow) PooledConnection);
  if (made) made->connection = factory_();
  if (!made || !made->connection) {
    lock.lock();
    --created_;
    available_.notify_one();
    return ZENTA_E_NO_MEMORY;
  }
  loan.connection_ = std::move(made);
  return ZENTA_OK;
}

void ConnectionPool::Return(std::unique_ptr<PooledConnection> connection, bool discard) {
  std::unique_ptr<PooledConnection> dropped;  // freed after the lock is released
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || discard) {
      --created_;
      dropped = std::move(connection);
    } else {
      idle_.push_back(std::move(connection));  // never reallocates: capacity is size_
    }
  }
  available_.notify_one();
}

void ConnectionPool::Wake() {
  // Taking the lock orders the wake after a waiter's look at its scope: none misses it.
  { const std::lock_guard<std::mutex> lock(mutex_); }
  available_.notify_all();
}

void ConnectionPool::Shutdown() {
  std::vector<std::unique_ptr<PooledConnection>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    created_ -= static_cast<int>(idle_.size());
    dropped.swap(idle_);
  }
  available_.notify_all();
}

}  // namespace zenta
