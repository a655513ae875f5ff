#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <fstream>

#include "temp_dir.h"
#include "vlm/dialogs.h"
#include "vlm/edit_mask.h"
#include "vlm/helpers.h"
#include "vlm/host_config.h"

TEST(Helpers, EmptyStringIsTrueOnlyForBlanks) {
    struct Case {
        QString text;
        bool empty;
    } cases[] = {{"", true},   {" ", true},    {"    ", true}, {"\t \n", true},
                 {"0", false}, {" a ", false}, {"T", false},   {QString(), true}};
    for (const auto& c : cases)
        EXPECT_EQ(EmptyString(c.text), c.empty) << c.text.toStdString();
}

TEST(Helpers, AjustaPadsDigitsWithZerosAndOtherCodesWithBlanks) {
    struct Case {
        QString text;
        int width;
        QString adjusted;
    } cases[] = {
        {"1", 4, "0001"},     {"12", 4, "0012"}, {"0001", 4, "0001"}, {" 7 ", 4, "0007"},
        {"ab", 4, "AB  "},    {"A1", 4, "A1  "}, {"ABCD", 4, "ABCD"}, {"12345", 4, "1234"},
        {"ABCDE", 4, "ABCD"}, {"", 4, ""},       {"    ", 4, ""},     {"5", 10, "0000000005"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ajusta(c.text, c.width), c.adjusted) << '"' << c.text.toStdString() << '"';
    }
}

TEST(Helpers, ReplicateRepeatsTheText) {
    struct Case {
        QString text;
        int count;
        QString result;
    } cases[] = {
        {"Z", 17, QString(17, 'Z')}, {"Z", 0, ""}, {"Z", -3, ""}, {"ab", 3, "ababab"}, {"", 5, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(Replicate(c.text, c.count), c.result);
    // The last product code filled up to 20 characters, as the screen sends it.
    QString code = "ABC";
    EXPECT_EQ(code + Replicate("Z", 20 - code.size()), "ABCZZZZZZZZZZZZZZZZZ");
}

TEST(Helpers, NomeSemanaStartsOnSunday) {
    struct Case {
        QDate date;
        QString name;
    } cases[] = {
        {{2024, 6, 2}, "Domingo"}, {{2024, 6, 3}, "Segunda"},   {{2024, 6, 4}, "Terça"},
        {{2024, 6, 5}, "Quarta"},  {{2024, 6, 6}, "Quinta"},    {{2024, 6, 7}, "Sexta"},
        {{2024, 6, 8}, "Sábado"},  {{1899, 12, 31}, "Domingo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NomeSemana(vlm::toDateTime(c.date)), c.name) << c.date.toString().toStdString();
    }
    EXPECT_EQ(NomeSemana(0), "");
    EXPECT_EQ(NomeSemana(vlm::toDateTime({2024, 6, 8}) + 0.75), "Sábado");
}

TEST(Helpers, DateTimeCountsDaysFrom30December1899) {
    EXPECT_EQ(vlm::toDateTime(QDate(1899, 12, 30)), 0.0);
    EXPECT_EQ(vlm::toDateTime(QDate(1900, 1, 1)), 2.0);
    EXPECT_EQ(vlm::toDateTime(QDate(2024, 1, 1)), 45292.0);
    EXPECT_EQ(vlm::toDate(45292.5), QDate(2024, 1, 1));
    EXPECT_EQ(vlm::toDate(-0.5), QDate(1899, 12, 30));  // the wire's day of -0.5 and -1.25
    EXPECT_EQ(vlm::toDate(-1.25), QDate(1899, 12, 29));
    EXPECT_EQ(vlm::toDateTime(QDate()), 0.0);
}

TEST(Helpers, HostValuesComeFromTheHostConfiguration) {
    vlm::HostConfig saved = vlm::hostConfig();
    vlm::HostConfig c;
    c.processingBranch = "0007";
    c.branchFixed = true;
    c.serverHost = "127.0.0.2";
    c.serverPort = 4555;
    vlm::setHostConfig(c);
    EXPECT_EQ(FiliProc(), "0007");
    EXPECT_TRUE(ModuFili());
    EXPECT_EQ(WebURL(), "127.0.0.2");
    EXPECT_EQ(WebPort(), 4555);
    vlm::setHostConfig(saved);
}

TEST(Helpers, DataProcIsTodayWithoutADatabase) {
    EXPECT_EQ(DataProc("0001"), vlm::toDateTime(QDate::currentDate()));
}

TEST(Helpers, ProductPictureLaysOutTheTreeCodeWithItsDots) {
    vlm::EditMask m = vlm::EditMask::parse(DBPict(0));
    EXPECT_EQ(m.maxLength(), 14);
    EXPECT_TRUE(m.saveLiterals);
    EXPECT_TRUE(m.hasLiterals);
    EXPECT_EQ(m.qtInputMask(), "00.00.000.0000;_");
    EXPECT_EQ(m.format("01010010001"), "01.01.001.0001");
    EXPECT_EQ(DBPict(99), "");
}

TEST(Helpers, ListTextJoinsValuesWithCommasAndNoBlanks) {
    struct Case {
        QStringList values;
        QString list;
    } cases[] = {{{"0001", "0003"}, "0001,0003"},
                 {{" COMP01 ", "COMP02"}, "COMP01,COMP02"},
                 {{}, ""},
                 {{"", "0002", "  "}, "0002"}};
    for (const auto& c : cases) {
        EXPECT_EQ(vlm::listText(c.values), c.list);
        EXPECT_EQ(vlm::listValues(c.list), vlm::listText(c.values).isEmpty()
                                               ? QStringList()
                                               : vlm::listText(c.values).split(','));
    }
}

TEST(Helpers, HelpPageIsFoundInTheHelpFolderFromTheEnvironment) {
    rqc::test::TempDir dir;
    std::ofstream(dir.file("4242.html")) << "<html><body>Ajuda</body></html>";
    qputenv("RQC_HELP_DIR", QByteArray::fromStdString(dir.path().string()));
    EXPECT_EQ(vlm::helpPagePath(4242),
              QFileInfo(QString::fromStdString(dir.file("4242.html"))).canonicalFilePath());
    EXPECT_EQ(vlm::helpPagePath(4243), "");
    qunsetenv("RQC_HELP_DIR");
}

TEST(Helpers, TheScreensHelpPageShipsInTheSourceTree) {
    QString page = vlm::helpPagePath(12800100);
    ASSERT_FALSE(page.isEmpty());
    QFile f(page);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains("Consolidação de Solicitação"));
}
