#include "date_edit_plus.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "helpers.h"
#include "messages.h"

namespace {

const QString kFormat = QStringLiteral("dd/MM/yyyy");

// The drop-down picture: a small calendar page.
QIcon calendarIcon() {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        const QRectF page(1.5 * u, 2.5 * u, 13 * u, 12 * u);
        p.setPen(QPen(QColor(70, 70, 80), u));
        p.setBrush(Qt::white);
        p.drawRoundedRect(page, 1.5 * u, 1.5 * u);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 45, 45));
        p.drawRect(QRectF(page.left() + 0.5 * u, page.top() + 0.5 * u, page.width() - u, 3 * u));
        p.setBrush(QColor(70, 70, 80));
        for (qreal x : {4.5, 10.5})
            p.drawRect(QRectF(x * u, 1 * u, 1 * u, 3 * u));
        p.setBrush(QColor(40, 90, 170));
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 4; ++col) {
                p.drawRect(QRectF((3.5 + col * 2.5) * u, (7.5 + row * 2.3) * u, 1.5 * u, 1.4 * u));
            }
        }
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

bool allDigitsTyped(const QString& shown) {
    int digits = 0;
    for (QChar c : shown)
        digits += c.isDigit() ? 1 : 0;
    return digits == 8;
}

}  // namespace

TDateEditPlus::TDateEditPlus(QWidget* parent) : QLineEdit(parent), m_button(new QToolButton(this)) {
    setInputMask(QStringLiteral("99/99/9999; "));
    m_button->setObjectName("dropDown");
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setCursor(Qt::ArrowCursor);
    m_button->setIcon(calendarIcon());
    m_button->setIconSize(QSize(14, 14));
    m_button->setAutoRaise(true);
    m_button->setToolTip(QStringLiteral("Calendário (F4)"));
    m_button->setAccessibleName(QStringLiteral("Abrir o calendário"));
    setAccessibleDescription(
        QStringLiteral("Data dd/mm/aaaa; F4 ou Alt+Seta para baixo abre o "
                       "calendário."));
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
    return vlm::toDateTime(d, SaveTime ? m_timeOfDay : 0.0);
}

void TDateEditPlus::SetDate(TDateTime date) {
    if (date == 0) {
        m_timeOfDay = 0;
        setText(QString());
        return;
    }
    m_timeOfDay = SaveTime ? vlm::timeOfDay(date) : 0.0;
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
    try {
        MensErro(
            QStringLiteral("Data inválida: \"%1\". Informe uma data real no formato dd/mm/aaaa.")
                .arg(displayText().trimmed()),
            true);
    } catch (...) {
        if (isEnabled() && isVisibleTo(window()))
            setFocus(Qt::OtherFocusReason);
        throw;
    }
}

void TDateEditPlus::textWasChanged() {
    TDateTime d = GetDate();
    QPalette pal = palette();
    QColor colour = QApplication::palette(this).color(QPalette::Text);
    if (d != 0)
        colour = ValidDateColor;
    else if (allDigitsTyped(displayText()))
        colour = InvalidDateColor;
    pal.setColor(QPalette::Text, colour);
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
    cal->setGridVisible(true);
    cal->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    cal->setLocale(vlm::userLocale());
    cal->setFirstDayOfWeek(Qt::Sunday);
    TDateTime d = GetDate();
    cal->setSelectedDate(d != 0 ? vlm::toDate(d) : QDate::currentDate());
    lay->addWidget(cal);
    auto pick = [this, popup](const QDate& picked) {
        popup->close();
        SetDate(vlm::toDateTime(picked));
        setFocus(Qt::OtherFocusReason);
    };
    connect(cal, &QCalendarWidget::clicked, this, pick);
    connect(cal, &QCalendarWidget::activated, this, pick);
    popup->adjustSize();
    QPoint at = mapToGlobal(QPoint(0, height()));
    if (QScreen* screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        if (at.y() + popup->height() > room.bottom())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - popup->height());
        at.setX(qBound(room.left(), at.x(), qMax(room.left(), room.right() - popup->width())));
    }
    popup->move(at);
    popup->show();
    cal->setFocus(Qt::PopupFocusReason);
}

void TDateEditPlus::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_F4 ||
        (e->key() == Qt::Key_Down && (e->modifiers() & Qt::AltModifier))) {
        vlm::dispatch([this] { DropDown(); });
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void TDateEditPlus::startAtFirstBlank() {
    if (IsBlank())
        QTimer::singleShot(0, this, [this] { setCursorPosition(0); });
}

void TDateEditPlus::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    startAtFirstBlank();
}

void TDateEditPlus::mouseReleaseEvent(QMouseEvent* e) {
    QLineEdit::mouseReleaseEvent(e);
    if (!hasSelectedText())
        startAtFirstBlank();
}

void TDateEditPlus::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    const int w = qMax(16, height() - 4);
    m_button->setGeometry(width() - w - 2, 2, w, height() - 4);
    setTextMargins(0, 0, w + 2, 0);
}
