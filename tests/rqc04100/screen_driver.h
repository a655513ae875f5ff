#pragma once
// Driving the open screen as a user does in the handler tests: a fixture that opens it on the
// demo database and fills a filter that passes every check.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <memory>

#include "module/module.h"
#include "screen/frm_consolida_solicita.h"
#include "support/qt_fixture.h"

namespace rqc04100::test {

// The shared Qt fixture, under the names the screen's tests use.
using rqc::test::application;
using rqc::test::DemoSuite;
using rqc::test::HostWindow;
using rqc::test::settle;

inline TDateTime dayOffset(int days) {
    return vlm::toDateTime(QDate::currentDate().addDays(days));
}

// A filter every check passes: the demo's whole delivery window and product range.
inline void fillValidFilter(TfrmConsolidaSolicita& form) {
    form.depDataIni->SetDate(dayOffset(-30));
    form.depDataFin->SetDate(dayOffset(30));
    form.medCdProdIni->SetText(QStringLiteral("01"));
    form.medCdProdfin->SetText(QStringLiteral("10"));
}

// Presses the confirm button (through the button's click, as a user's click).
inline void pressConfirm(TfrmConsolidaSolicita& form) {
    form.sbtConfirma->click();
    settle();
}

// The screen opened by IniProc for `config`, closed with the host window.
class OpenScreen {
  public:
    explicit OpenScreen(const vlm::HostConfig& config)
        : host(std::make_unique<HostWindow>(config)) {
        IniProc();
        settle();
        form = frmConsolidaSolicita;
    }
    ~OpenScreen() { host.reset(); }
    QStringList errors() const { return host->dialogs().texts(vlm::ShownDialog::Error); }
    QStringList messages() const { return host->dialogs().texts(vlm::ShownDialog::Message); }

    std::unique_ptr<HostWindow> host;
    TfrmConsolidaSolicita* form = nullptr;
};

}  // namespace rqc04100::test
