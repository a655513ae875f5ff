#pragma once
// A test suite whose tests share one demo suite: its database and application server, made
// before the first test and removed after the last.

#include <gtest/gtest.h>

#include "support/qt_fixture.h"

namespace rqc04100::test {

class DemoSuiteFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        rqc::test::application();
        suite = new rqc::test::DemoSuite();
    }
    static void TearDownTestSuite() {
        delete suite;
        suite = nullptr;
    }
    static inline rqc::test::DemoSuite* suite = nullptr;
};

}  // namespace rqc04100::test
