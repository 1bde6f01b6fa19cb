// Shared fixture: every test starts from a fake client library with no script and no calls.
#ifndef QUILLET_TESTS_FAKE_CLIENT_TEST_H
#define QUILLET_TESTS_FAKE_CLIENT_TEST_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_client_library.h"

class FakeClientTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
};

#endif  // QUILLET_TESTS_FAKE_CLIENT_TEST_H
