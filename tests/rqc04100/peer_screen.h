#pragma once
// The screen on the demo database with a recording peer in place of the application server:
// purchase parameters for every branch, two requests for every lookup, a number for every
// consolidation. Every call the screen makes is in `peer.calls()`.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "demo_suite_fixture.h"
#include "screen_driver.h"
#include "support/recording_peer.h"

namespace rqc04100::test {

class PeerScreen : public rqc04100::test::DemoSuiteFixture {
  protected:
    void SetUp() override {
        namespace proto = rqc::protocol;
        peer.setScript([](const proto::CallRequest& call) {
            proto::CallResult r;
            r.kind = proto::CallResult::Kind::Packet;
            if (call.descriptor.method == "GetParaCmpSup") {
                r.packet.fields = {
                    {"IDUTPRODPREF", proto::FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
                r.packet.addRow({std::string("S")});
            } else if (call.descriptor.method == "GetSolicitacao") {
                for (const char* f : {"IDMARCADO", "CHAVE", "CDFILSOLI", "CDFILLANCA", "NRSOLICMP"})
                    r.packet.fields.push_back({f, proto::FieldType::Text, 18, ""});
                r.packet.addRow({"N", "000200020000000001", "0002", "0002", "0000000001"});
            } else {
                r.kind = proto::CallResult::Kind::Text;
                r.text = "0000000042";
            }
            return rqc::test::RecordingPeer::Reply::answer(r);
        });
        vlm::HostConfig config = suite->config("0002");
        config.serverPort = peer.port();
        screen.emplace(config);
        ASSERT_NE(screen->form, nullptr);
        form = screen->form;
        QApplication::setActiveWindow(&screen->host->window());
        fillValidFilter(*form);
        settle();
    }
    void TearDown() override { screen.reset(); }

    int callsOf(const std::string& method) const {
        int n = 0;
        for (const auto& c : peer.calls())
            n += c.descriptor.method == method ? 1 : 0;
        return n;
    }
    static QString focusName() {
        QWidget* w = QApplication::focusWidget();
        return w != nullptr ? w->objectName() : QString();
    }

    rqc::test::RecordingPeer peer;
    std::optional<OpenScreen> screen;
    TfrmConsolidaSolicita* form = nullptr;
};

}  // namespace rqc04100::test
