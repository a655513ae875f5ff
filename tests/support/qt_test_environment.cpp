// Linked into every Qt test program (vlm_testing_gtest): the QApplication exists before the
// first test, whatever the test constructs, and connections log in as the demo operator, as
// they do in the host once its operator has logged in.
#include <gtest/gtest.h>

#include <QStandardPaths>

#include "suitedb/demo_data.h"
#include "support/qt_fixture.h"
#include "vlm/net_connection.h"

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // Per-user state (the last folder saved to, the screens left open) goes to a test
        // location, never the user's own.
        QStandardPaths::setTestModeEnabled(true);
        rqc::test::application();
        TNetConnection::SetSessionLogin(QString::fromLatin1(rqc::suitedb::kDemoOperator),
                                        QString::fromLatin1(rqc::suitedb::kDemoPassword));
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
