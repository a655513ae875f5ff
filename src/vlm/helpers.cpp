#include "helpers.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QSqlQuery>
#include <QVariant>
#include <QWidget>
#include <chrono>
#include <stdexcept>

#include "data_set.h"
#include "dates/dates.h"
#include "dialogs.h"
#include "dtm_db_geral.h"
#include "host_config.h"

namespace {
const QDate kEpoch(1899, 12, 30);
}

bool EmptyString(const QString& text) {
    for (QChar c : text) {
        if (c > QChar(' '))
            return false;
    }
    return true;
}

QString Ajusta(const QString& text, int width) {
    QString t = text.trimmed();
    if (t.isEmpty() || width <= 0)
        return QString();
    if (t.size() > width)
        t.truncate(width);
    bool digits = true;
    for (QChar c : t)
        digits = digits && c.isDigit();
    if (digits)
        return t.rightJustified(width, '0');
    return t.toUpper().leftJustified(width, ' ');
}

QString Replicate(const QString& text, int count) {
    return count <= 0 ? QString() : text.repeated(count);
}

QString NomeSemana(TDateTime date) {
    if (date == 0)
        return QString();
    static const char* const names[] = {"Domingo", "Segunda", "Terça", "Quarta",
                                        "Quinta",  "Sexta",   "Sábado"};
    QDate d = vlm::toDate(date);
    if (!d.isValid())
        return QString();
    return QString::fromUtf8(names[d.dayOfWeek() % 7]);  // Qt: Monday 1 .. Sunday 7
}

QString FiliProc() {
    return vlm::hostConfig().processingBranch;
}
bool ModuFili() {
    return vlm::hostConfig().branchFixed;
}
QString WebURL() {
    return vlm::hostConfig().serverHost;
}
int WebPort() {
    return vlm::hostConfig().serverPort;
}

QString DBPict(int kind) {
    if (kind == 0)
        return QStringLiteral("99.99.999.9999;1;_");
    return QString();
}

TDateTime DataProc(const QString& branch) {
    const TDateTime today = vlm::toDateTime(QDate::currentDate());
    if (dtmDBGeral == nullptr || !dtmDBGeral->Connected())
        return today;
    QSqlQuery q(dtmDBGeral->Database());
    q.prepare("SELECT DTPROCESSAMENTO FROM FILIAL WHERE CDFILIAL = ?");
    q.addBindValue(branch);
    if (!q.exec() || !q.next() || q.value(0).isNull())
        return today;
    QVariant v = q.value(0);
    QDate d = v.typeId() == QMetaType::QDate ? v.toDate()
              : v.typeId() == QMetaType::QDateTime
                  ? v.toDateTime().date()
                  : QDate::fromString(v.toString().left(10), Qt::ISODate);
    return d.isValid() ? vlm::toDateTime(d) : today;
}

void ActiveShowAvi(QWidget* form, TShowAvi kind, const QString& text) {
    vlm::dialogs().showWaiting(form, kind, text);
}

void DeactiveShowAvi() {
    vlm::dialogs().hideWaiting();
}

bool PesquisaLista(TDataSource* dataSource, const QString& keyField, const QString& title,
                   bool tickAll, QString& list) {
    if (dataSource == nullptr || dataSource->DataSet == nullptr) {
        throw std::invalid_argument("PesquisaLista: the data source has no data set");
    }
    TDataSet& data = *dataSource->DataSet;
    if (!data.Active())
        data.Open();
    data.FieldByName(keyField);  // a wrong key field fails before the dialog opens
    return vlm::dialogs().pickList(data, keyField, title, tickAll, list);
}

namespace vlm {

// rqc::dates holds the rule; kEpoch is only its day 0 as a QDate.
TDateTime toDateTime(const QDate& date, double timeOfDay) {
    if (!date.isValid())
        return 0.0;
    return rqc::dates::serialOf(rqc::dates::kSerialEpoch + std::chrono::days(kEpoch.daysTo(date)),
                                timeOfDay);
}

QDate toDate(TDateTime value) {
    return kEpoch.addDays((rqc::dates::dayOfSerial(value) - rqc::dates::kSerialEpoch).count());
}

double timeOfDay(TDateTime value) {
    return rqc::dates::timeOfDayOfSerial(value);
}

namespace {
QPointer<QWidget> g_mainForm;
}

WaitingScope::WaitingScope(const QString& text) {
    ActiveShowAvi(mainForm(), kShowAviSearch, text);
}

WaitingScope::~WaitingScope() {
    try {
        DeactiveShowAvi();
    } catch (...) {
        // Hiding must not replace the failure that may be unwinding through the scope.
    }
}

BusyCursor::BusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor() {
    release();
}

void BusyCursor::release() noexcept {
    if (m_busy)
        QApplication::restoreOverrideCursor();
    m_busy = false;
}

const QLocale& userLocale() {
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return brazil;
}

QString numberText(double value, bool grouped) {
    QLocale locale = userLocale();
    locale.setNumberOptions(grouped ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(locale.decimalPoint()))
        text.chop(1);
    return text;
}

QString countText(qlonglong value) {
    return userLocale().toString(value);
}

QString countText(const QString& value) {
    bool ok = false;
    const qlonglong n = value.trimmed().toLongLong(&ok);
    return ok ? countText(n) : value.trimmed();
}

QWidget* mainForm() {
    return g_mainForm.data();
}
void setMainForm(QWidget* form) {
    g_mainForm = form;
}

QString helpPagePath(int context) {
    const QString page = QString::number(context) + ".html";
    QStringList dirs;
    QString env = qEnvironmentVariable("RQC_HELP_DIR");
    if (!env.isEmpty())
        dirs << env;
    if (QCoreApplication::instance() != nullptr) {
        QString bin = QCoreApplication::applicationDirPath();
        dirs << bin + "/help" << bin + "/../share/rqc/help";
    }
    for (const QString& d : dirs) {
        QFileInfo f(QDir(d).filePath(page));
        if (f.isFile())
            return f.canonicalFilePath();
    }
    return QString();
}

}  // namespace vlm
