#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTranslator>

#include "vlm/dtm_db_geral.h"
#include "vlm/helpers.h"

namespace host {

vlm::HostConfig resolveConfig(const QString& explicitPath) {
    vlm::HostConfig config;
    if (!explicitPath.isEmpty()) {
        config = vlm::HostConfig::load(explicitPath);
    } else if (QFileInfo::exists(QString::fromLatin1(kDefaultIni))) {
        config = vlm::HostConfig::load(QDir::current().absoluteFilePath(kDefaultIni));
    }
    if (config.engine == vlm::DbEngine::Sqlite && config.dbPath.isEmpty()) {
        config.dbPath = QDir::current().absoluteFilePath(QString::fromLatin1(kDefaultSqlite));
    }
    return config;
}

void requireEmbeddedDatabase(const vlm::HostConfig& config, bool configured) {
    if (config.engine != vlm::DbEngine::Sqlite)
        return;
    const QFileInfo file(config.dbPath);
    const QFileInfo folder(file.absolutePath());
    const QString elsewhere = QStringLiteral(
        "Se o banco fica em outra máquina, configure a seção [Banco] do arquivo de "
        "configuração: Engine=postgres, Host, Nome, Usuario e Senha do papel dos desktops, "
        "ModoSSL e CertificadoCA (veja configuration.md).");
    if (file.isFile() && file.isReadable())
        return;
    if (file.exists() || (folder.exists() && !folder.isExecutable())) {
        throw StartupError(QStringLiteral("Este usuário não pode ler o banco de dados da suíte "
                                          "%1. Peça ao administrador o acesso de leitura "
                                          "(install.md: o grupo dos usuários da suíte na pasta "
                                          "%2).\n%3")
                               .arg(config.dbPath, folder.absoluteFilePath(), elsewhere)
                               .toStdString());
    }
    // Without any configuration file the host runs as a trial on this machine: it says how
    // to make that trial's database.
    const QString remedy = configured
                               ? elsewhere
                               : QStringLiteral(
                                     "Para experimentar a suíte neste computador, crie-o com: "
                                     "rqc-suitedb init --db %1 --demo")
                                     .arg(config.dbPath);
    throw StartupError(QStringLiteral("O banco de dados da suíte não existe neste computador: "
                                      "%1.\n%2")
                           .arg(config.dbPath, remedy)
                           .toStdString());
}

vlm::HostConfig openSuiteDatabase(const QString& explicitPath, TdtmDBGeral& database) {
    vlm::HostConfig config = resolveConfig(explicitPath);
    vlm::setHostConfig(config);
    requireEmbeddedDatabase(
        config, !explicitPath.isEmpty() || QFileInfo::exists(QString::fromLatin1(kDefaultIni)));
    database.Open(config);
    return config;
}

bool installTranslations(QCoreApplication& app) {
    QLocale::setDefault(vlm::userLocale());
    auto* qt = new QTranslator(&app);
    if (!qt->load(vlm::userLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

QIcon suiteIcon() {
    // packaging/rqc-suite.svg, drawn on a 64-unit square: a blue tile, three white request
    // slips joined by a yellow bracket to the yellow consolidated one.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1f, 0x5f, 0x8b));
        p.drawRoundedRect(QRectF(4, 4, 56, 56), 8, 8);
        p.setBrush(Qt::white);
        for (const QRectF& slip :
             {QRectF(14, 16, 16, 10), QRectF(14, 30, 16, 10), QRectF(14, 44, 16, 6)})
            p.drawRoundedRect(slip, 2, 2);
        const QColor yellow(0xff, 0xd1, 0x66);
        QPainterPath bracket;
        bracket.moveTo(32, 21);
        bracket.lineTo(40, 21);
        bracket.lineTo(40, 47);
        bracket.lineTo(32, 47);
        bracket.moveTo(32, 34);
        bracket.lineTo(46, 34);
        p.strokePath(bracket, QPen(yellow, 3));
        p.setBrush(yellow);
        p.drawRoundedRect(QRectF(44, 28, 10, 12), 2, 2);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace host
