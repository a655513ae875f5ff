#include "vlm/client_data_set.h"

#include <gtest/gtest.h>

#include "protocol/protocol.h"
#include "support/recording_peer.h"
#include "vlm/check_result_serv.h"

using namespace rqc::protocol;
using rqc::test::RecordingPeer;

namespace {

DataPacket requests(std::initializer_list<const char*> keys) {
    DataPacket p;
    p.fields = {{"IDMARCADO", FieldType::Text, 1, ""},
                {"CHAVE", FieldType::Text, 18, "SOLICMP.CHAVE"},
                {"CDFILSOLI", FieldType::Text, 4, ""},
                {"CDFILLANCA", FieldType::Text, 4, ""},
                {"NRSOLICMP", FieldType::Text, 10, ""}};
    for (const char* k : keys) {
        const std::string key = k;
        p.addRow({"N", key, key.substr(0, 4), key.substr(4, 4), key.substr(8)});
    }
    return p;
}

// cdsSolicitacao as the screen declares it.
void declareRequestFields(TClientDataSet& cds) {
    cds.setObjectName("cdsSolicitacao");
    cds.AddField("IDMARCADO", 1);
    cds.AddField("CHAVE", 18)->Visible = false;
    cds.AddField("CDFILSOLI", 4)->DisplayLabel = "Filial Solicitante";
    cds.AddField("CDFILLANCA", 4);
    cds.AddField("NRSOLICMP", 10);
}

std::vector<QString> column(TDataSet& ds, const QString& field) {
    std::vector<QString> out;
    for (ds.First(); !ds.Eof(); ds.Next())
        out.push_back(ds.FieldByName(field)->AsString());
    return out;
}

}  // namespace

TEST(ClientDataSet, PacketReplacesTheWholeContent) {
    TClientDataSet cds;
    declareRequestFields(cds);
    cds.SetData(requests({"000100020000000001", "000100020000000002", "000100030000000007"}));
    EXPECT_EQ(cds.RecordCount(), 3);
    cds.SetData(requests({"000900090000000009"}));
    EXPECT_EQ(column(cds, "CHAVE"), (std::vector<QString>{"000900090000000009"}));
    EXPECT_EQ(cds.FieldByName("CDFILSOLI")->DisplayLabel, "Filial Solicitante");
    cds.SetData(requests({}));
    EXPECT_TRUE(cds.IsEmpty());
    EXPECT_TRUE(cds.Active());
}

TEST(ClientDataSet, DeclaredFieldsAreMatchedByNameWhateverTheOrder) {
    TClientDataSet cds;
    cds.AddField("NRSOLICMP", 10);
    cds.AddField("chave", 18);
    cds.SetData(requests({"000100020000000001", "000100020000000002"}));
    ASSERT_EQ(cds.Fields().size(), 2u);
    EXPECT_EQ(column(cds, "NRSOLICMP"), (std::vector<QString>{"0000000001", "0000000002"}));
    EXPECT_EQ(column(cds, "CHAVE"),
              (std::vector<QString>{"000100020000000001", "000100020000000002"}));
    EXPECT_EQ(cds.FieldByName("CHAVE")->Origin, "SOLICMP.CHAVE");
}

TEST(ClientDataSet, MissingDeclaredFieldFailsAndKeepsTheContent) {
    TClientDataSet cds;
    cds.setObjectName("cdsParaCmpSup");
    cds.AddField("IDUTPRODPREF", 1);
    DataPacket good;
    good.fields = {{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    good.addRow({"S"});
    cds.SetData(good);

    DataPacket wrong;
    wrong.fields = {{"OUTRO", FieldType::Text, 1, ""}};
    wrong.addRow({"x"});
    try {
        cds.SetData(wrong);
        FAIL() << "a packet without IDUTPRODPREF was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cdsParaCmpSup: the data has no field 'IDUTPRODPREF'"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(cds.RecordCount(), 1);
    EXPECT_EQ(cds.FieldByName("IDUTPRODPREF")->AsString(), "S");
}

TEST(ClientDataSet, FieldsComeFromThePacketWhenNoneWereDeclared) {
    TClientDataSet cds;
    cds.SetData(requests({"000100020000000001"}));
    ASSERT_EQ(cds.Fields().size(), 5u);
    EXPECT_EQ(cds.Fields()[1]->FieldName, "CHAVE");
    EXPECT_EQ(cds.Fields()[1]->Size, 18);
    EXPECT_EQ(cds.RecNo(), 0);
    EXPECT_EQ(cds.FieldByName("CDFILLANCA")->AsString(), "0002");
}

TEST(ClientDataSet, UndeclaredFieldsFollowEachPacket) {
    TClientDataSet cds;
    cds.SetData(requests({"000100020000000001"}));
    DataPacket params;
    params.fields = {{"IDUTPRODPREF", FieldType::Text, 1, "PARCMPSUP.IDUTPRODPREF"}};
    params.addRow({"S"});
    cds.SetData(params);
    ASSERT_EQ(cds.Fields().size(), 1u);
    EXPECT_EQ(cds.FieldByName("IDUTPRODPREF")->AsString(), "S");
    EXPECT_EQ(cds.FindField("CHAVE"), nullptr);
}

TEST(ClientDataSet, NullAndEmptyCellsStayApart) {
    DataPacket p;
    p.fields = {{"A", FieldType::Text, 5, ""}};
    p.addRow({std::nullopt});
    p.addRow({""});
    p.addRow({"ção"});
    TClientDataSet cds;
    cds.SetData(p);
    TField* a = cds.FieldByName("A");
    EXPECT_TRUE(a->IsNull());
    cds.Next();
    EXPECT_FALSE(a->IsNull());
    EXPECT_EQ(a->AsString(), "");
    cds.Next();
    EXPECT_EQ(a->AsString(), QStringLiteral("ção"));
    cds.Next();
    EXPECT_TRUE(cds.Eof());
}

TEST(ClientDataSet, OnlyPacketResultsCanBeLoaded) {
    TClientDataSet cds;
    cds.setObjectName("cdsSolicitacao");
    const std::vector<std::pair<TServerResult, std::string>> cases = {
        {TServerResult(), "cdsSolicitacao: expected a data packet, the server result is nothing"},
        {TServerResult::ofText("1"), "the server result is a text"},
        {TServerResult::ofError("x"), "the server result is an error"},
    };
    for (const auto& [result, expected] : cases) {
        try {
            cds.SetData(result);
            ADD_FAILURE() << expected;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
}

TEST(ClientDataSet, ServerPacketLoadsThroughTheCheckedResult) {
    RecordingPeer peer;
    int call = 0;
    peer.setScript([&](const CallRequest&) {
        ++call;
        return RecordingPeer::Reply::answer(
            CallResult::ofPacket(call == 1 ? requests({"000100020000000001", "000100020000000002"})
                                           : requests({"000300040000000005"})));
    });
    TNetConnection net;
    net.ServerName = "Rqc04100.rdmConsolidaSolicita";
    net.Port = peer.port();
    net.ThrowException = false;
    net.SetConnected(true);
    TClientDataSet cds;
    declareRequestFields(cds);
    QString branches, all = "T";
    for (int i = 0; i < 2; ++i) {
        const TServerResult r = net.AppServer().Call(
            "GetSolicitacao", {TServerArg::Date(45292), TServerArg::Date(45322),
                               TServerArg::Ref(branches), TServerArg::Ref(all)});
        cds.SetData(CheckResultServ(r, true, 0));
    }
    EXPECT_EQ(column(cds, "CHAVE"), (std::vector<QString>{"000300040000000005"}));
}
