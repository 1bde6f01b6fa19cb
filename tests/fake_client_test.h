// Shared fixture: every test starts from a fake client library with no script and no calls.
#ifndef QUILLET_TESTS_FAKE_CLIENT_TEST_H
#define QUILLET_TESTS_FAKE_CLIENT_TEST_H

#include <condition_variable>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_client_library.h"

class FakeClientTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

// Holds each arriving thread until the given number of threads have arrived.
class Rendezvous {
 public:
  explicit Rendezvous(int threads) : waiting_(threads) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) all_arrived_.notify_all();
    all_arrived_.wait(lock, [this] { return waiting_ <= 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable all_arrived_;
  int waiting_;
};

#endif  // QUILLET_TESTS_FAKE_CLIENT_TEST_H
