// Linked into every Qt test program (vlm_testing_gtest): the QApplication exists before the
// first test, whatever the test constructs.
#include <gtest/gtest.h>

#include "support/qt_fixture.h"

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { rqc::test::application(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
