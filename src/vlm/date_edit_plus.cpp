#include "date_edit_plus.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "messages.h"

namespace {
const QString kFormat = QStringLiteral("dd/MM/yyyy");
}

TDateEditPlus::TDateEditPlus(QWidget* parent) : QLineEdit(parent), m_button(new QToolButton(this)) {
    setInputMask(QStringLiteral("99/99/9999; "));
    m_button->setObjectName("dropDown");
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setArrowType(Qt::DownArrow);
    m_button->setAutoRaise(true);
    m_button->setToolTip(QStringLiteral("Calendário"));
    connect(m_button, &QToolButton::clicked, this,
            [this] { vlm::dispatch([this] { DropDown(); }); });
    hookEvents(this);
    SetDate(vlm::toDateTime(QDate::currentDate()));
    m_lastDate = GetDate();
    connect(this, &QLineEdit::textChanged, this, [this] { textWasChanged(); });
    textWasChanged();
}

bool TDateEditPlus::IsBlank() const {
    for (QChar c : displayText()) {
        if (c.isDigit())
            return false;
    }
    return true;
}

QString TDateEditPlus::Text() const {
    return IsBlank() ? QString() : displayText();
}

void TDateEditPlus::SetText(const QString& t) {
    setText(t);
}

TDateTime TDateEditPlus::GetDate() const {
    if (IsBlank())
        return 0;
    QDate d = QDate::fromString(displayText(), kFormat);
    if (!d.isValid())
        return 0;
    return vlm::toDateTime(d) + (SaveTime ? m_timeOfDay : 0.0);
}

void TDateEditPlus::SetDate(TDateTime date) {
    if (date == 0) {
        m_timeOfDay = 0;
        setText(QString());
        return;
    }
    m_timeOfDay = SaveTime ? date - std::floor(date) : 0.0;
    setText(vlm::toDate(date).toString(kFormat));
}

QString TDateEditPlus::WeekdayName() const {
    TDateTime d = GetDate();
    if (d == 0 || NomeSemana.size() != 7)
        return QString();
    return NomeSemana[vlm::toDate(d).dayOfWeek() % 7];
}

void TDateEditPlus::CheckValidDate() {
    if (IsBlank() || GetDate() != 0)
        return;
    MensErro(QStringLiteral("Data inválida: \"%1\". Informe uma data real no formato dd/mm/aaaa.")
                 .arg(displayText().trimmed()),
             true);
}

void TDateEditPlus::textWasChanged() {
    TDateTime d = GetDate();
    QPalette pal = palette();
    pal.setColor(QPalette::Text,
                 d != 0 ? ValidDateColor : QApplication::palette(this).color(QPalette::Text));
    setPalette(pal);
    if (d == m_lastDate)
        return;
    m_lastDate = d;
    if (OnDateChange)
        vlm::dispatch([this] { OnDateChange(this); });
}

void TDateEditPlus::DropDown() {
    auto* popup = new QWidget(this, Qt::Popup);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setObjectName("calendarPopup");
    auto* lay = new QVBoxLayout(popup);
    lay->setContentsMargins(0, 0, 0, 0);
    auto* cal = new QCalendarWidget(popup);
    cal->setObjectName("calendar");
    TDateTime d = GetDate();
    cal->setSelectedDate(d != 0 ? vlm::toDate(d) : QDate::currentDate());
    lay->addWidget(cal);
    connect(cal, &QCalendarWidget::clicked, this, [this, popup](const QDate& picked) {
        popup->close();
        SetDate(vlm::toDateTime(picked));
        setFocus(Qt::OtherFocusReason);
    });
    popup->adjustSize();
    popup->move(mapToGlobal(QPoint(0, height())));
    popup->show();
}

void TDateEditPlus::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    const int w = qMax(16, height() - 4);
    m_button->setGeometry(width() - w - 2, 2, w, height() - 4);
    setTextMargins(0, 0, w + 2, 0);
}
