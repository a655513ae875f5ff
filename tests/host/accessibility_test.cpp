// What a screen reader finds in each window of the suite, reached through the accessibility
// interfaces as an assistive technology reaches them: every interactive control has a name
// that says what it is.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

#include "host/main_window.h"
#include "support/qt_fixture.h"
#include "vlm/controls.h"
#include "vlm/helpers.h"
#include "vlm/login_dialog.h"
#include "vlm/net_connection.h"

namespace {

using rqc::test::settle;
using Role = QAccessible::Role;

// Faults of the interactive descendants of `parent` (`group`: the enclosing group's title);
// `seen` counts those controls.
void walk(QAccessibleInterface* parent, const QString& group, QStringList& faults, int& seen) {
    static const QList<Role> interactive = {
        Role::PushButton, Role::CheckBox, Role::RadioButton, Role::EditableText, Role::ComboBox,
        Role::SpinBox,    Role::Table,    Role::List,        Role::Tree,         Role::ButtonMenu};
    QStringList siblings;
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child == nullptr || !child->isValid() || child->state().invisible)
            continue;
        const QString name = child->text(QAccessible::Name).trimmed();
        const Role role = child->role();
        if (interactive.contains(role)) {
            const bool glyph =
                std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.isLetter(); });
            const char* why = name.isEmpty()                          ? "no name"
                              : name == child->object()->objectName() ? "its object name"
                              : glyph                                 ? "a glyph"
                              : name == group                         ? "its group's title"
                              : siblings.contains(name)               ? "a sibling's name"
                                                                      : nullptr;
            if (why != nullptr)
                faults << child->object()->objectName() + " \"" + name + "\": " + why;
            siblings << name;
            ++seen;
        }
        if (role != Role::Table && role != Role::List && role != Role::ComboBox)
            walk(child, role == Role::Grouping ? name : group, faults, seen);
    }
}

QStringList faultsOf(QWidget* window) {
    QStringList faults;
    int seen = 0;
    walk(QAccessible::queryAccessibleInterface(window), {}, faults, seen);
    if (seen < 3)
        faults << QStringLiteral("only %1 interactive controls").arg(seen);
    return faults;
}

// Faults of the modal window `open` brings up (waited for at most 10 s), closed once walked.
QStringList faultsOfModal(const std::function<void()>& open) {
    QStringList faults{QStringLiteral("no modal window opened")};
    QTimer poll;
    int ticks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr || ++ticks > 500)
            poll.stop();
        if (modal != nullptr) {
            faults = faultsOf(modal);
            modal->close();
        }
    });
    poll.start(20);
    open();
    settle();
    return faults;
}

TEST(Accessibility, EveryInteractiveControlOfEveryWindowHasAName) {
    rqc::test::DemoSuite suite;
    const vlm::HostConfig config = suite.config("0001");
    vlm::setHostConfig(config);
    TdtmDBGeral database;
    database.Open(config);
    TNetConnection::SetSessionLogin("COMP001", "rqc04100");
    host::ModuleLoader loader(QString::fromLocal8Bit(qgetenv("RQC_BIN_DIR")));
    host::MainWindow host(config.processingBranch, loader);
    vlm::setMainForm(&host);
    host.show();
    ASSERT_TRUE(host.openScreen("RQC04100"));
    settle();
    QWidget* screen = host.mdiArea()->subWindowList().at(0)->widget();
    auto click = [screen](const char* name) {
        return [screen, name] { screen->findChild<QAbstractButton*>(name)->click(); };
    };
    vlm::LoginDialog login("COMP001", "Operador ou senha inválidos.");

    const std::pair<const char*, std::function<QStringList()>> windows[] = {
        {"login",
         [&] {
             // The refusal is an alert (what a screen reader announces as it shows), and is
             // read with the password field the operator is taken back to.
             login.show();
             QAccessibleInterface* alert =
                 QAccessible::queryAccessibleInterface(login.findChild<QLabel*>("lblRecusa"));
             EXPECT_EQ(alert->role(), Role::AlertMessage);
             EXPECT_EQ(alert->text(QAccessible::Name), "Operador ou senha inválidos.");
             EXPECT_EQ(login.findChild<QWidget*>("edtSenha")->accessibleDescription(),
                       "Operador ou senha inválidos.");
             return faultsOf(&login);
         }},
        {"consolidation",
         [&] {
             EXPECT_TRUE(screen->findChild<QWidget*>("medCdFilial")
                             ->accessibleDescription()
                             .contains("F2"));
             EXPECT_TRUE(
                 screen->findChild<QWidget*>("depDataIni")->accessibleDescription().contains("F4"));
             return faultsOf(screen);
         }},
        {"picker",
         [&] {
             click("rbtListaFili")();
             return faultsOfModal(click("sbtFilial"));
         }},
        {"preview",
         [&] {
             click("rbtTodosFili")();
             screen->findChild<TMaskEdit*>("medCdProdIni")->SetText("01");
             screen->findChild<TMaskEdit*>("medCdProdfin")->SetText("10");
             return faultsOfModal(click("sbtSimula"));
         }},
        {"consultation",
         [&] {
             EXPECT_TRUE(host.openScreen("RQC04200"));
             settle();
             return faultsOf(host.mdiArea()->subWindowList().at(1)->widget());
         }},
    };
    for (const auto& [name, faults] : windows)
        EXPECT_EQ(faults().join("; ").toStdString(), "") << name;

    for (QMdiSubWindow* sub : host.mdiArea()->subWindowList())
        sub->close();
    settle();
    vlm::setMainForm(nullptr);
}

}  // namespace
