#include "controls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>
#include <QtMath>
#include <algorithm>

#include "frm_roti_geral.h"
#include "messages.h"

namespace vlm {

quint16 virtualKey(int k) {
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return static_cast<quint16>(112 + (k - Qt::Key_F1));
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return static_cast<quint16>('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return static_cast<quint16>('0' + (k - Qt::Key_0));
    switch (k) {
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
    }
    return 0;
}

QWidget* formOf(QWidget* w) {
    for (QWidget* p = w; p != nullptr; p = p->parentWidget()) {
        if (qobject_cast<TfrmRotiGeral*>(p) != nullptr || p->isWindow())
            return p;
    }
    return nullptr;
}

namespace {

// Focus moves the user makes: Tab, Shift+Tab, a click, a mnemonic.
bool isUserMove(Qt::FocusReason reason) {
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
           reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason;
}

// Eats the rest of the click that tried to move the focus into `target` (the press being
// delivered and its release), so the control the user never entered does not react to it.
// Any later press ends it.
class ClickSwallow : public QObject {
  public:
    explicit ClickSwallow(QWidget* target) : QObject(qApp), m_target(target) {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        const QEvent::Type t = e->type();
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonDblClick &&
            t != QEvent::MouseButtonRelease && t != QEvent::MouseMove)
            return false;
        auto* w = qobject_cast<QWidget*>(watched);
        const bool onTarget =
            m_target != nullptr && w != nullptr && (w == m_target || m_target->isAncestorOf(w));
        if (t == QEvent::MouseButtonPress || t == QEvent::MouseButtonDblClick) {
            if (onTarget && !m_pressEaten) {
                m_pressEaten = true;
                return true;
            }
            finish();
            return false;
        }
        if (!onTarget)
            return false;
        if (t == QEvent::MouseButtonRelease)
            finish();
        return true;
    }

  private:
    void finish() {
        qApp->removeEventFilter(this);
        deleteLater();
    }
    QPointer<QWidget> m_target;
    bool m_pressEaten = false;
};

// Raises a control's focus and key events through the dispatcher.
class EventHook : public QObject {
  public:
    EventHook(QWidget* target, TControlEvents* events)
        : QObject(target), m_target(target), m_events(events) {
        target->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != m_target)
            return false;
        if (e->type() == QEvent::KeyPress) {
            // Qt also moves the focus "by Tab" when the focused widget is hidden (a window
            // minimised or maximised): only a Tab key being handled counts as the user's Tab.
            const int k = static_cast<QKeyEvent*>(e)->key();
            if (k == Qt::Key_Tab || k == Qt::Key_Backtab) {
                m_tabKey = true;
                QTimer::singleShot(0, this, [this] { m_tabKey = false; });
            }
        }
        if (e->type() == QEvent::KeyPress && m_events->OnKeyDown) {
            auto* ke = static_cast<QKeyEvent*>(e);
            quint16 key = virtualKey(ke->key());
            if (key == 0)
                return false;
            TShiftState shift = 0;
            if (ke->modifiers() & Qt::ShiftModifier)
                shift |= ssShift;
            if (ke->modifiers() & Qt::AltModifier)
                shift |= ssAlt;
            if (ke->modifiers() & Qt::ControlModifier)
                shift |= ssCtrl;
            vlm::dispatch([&] { m_events->OnKeyDown(m_target, key, shift); });
            return key == 0;
        }
        if (e->type() == QEvent::FocusOut && m_events->OnExit) {
            // The application's focus widget is already the one taking the focus.
            QWidget* now = QApplication::focusWidget();
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
            const bool byTab = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
            if (isUserMove(reason) && (!byTab || m_tabKey) && now != nullptr && now != m_target &&
                formOf(now) == formOf(m_target)) {
                exited(now, reason);
                return false;
            }
        }
        if (e->type() == QEvent::FocusIn) {
            // A blank edit with a literal mask starts typing at its first position.
            if (auto* edit = qobject_cast<TMaskEdit*>(m_target)) {
                if (!edit->inputMask().isEmpty() && edit->Text().isEmpty()) {
                    QTimer::singleShot(0, edit, [edit] { edit->setCursorPosition(0); });
                }
            }
        }
        if (e->type() == QEvent::FocusIn && m_events->OnEnter) {
            vlm::dispatch([this] { m_events->OnEnter(m_target); });
        }
        return false;
    }

  private:
    // Runs OnExit for a move into `entered`. When it fails, the move is undone as if it had
    // never been made: the focus goes back to the control and the click that made the move
    // is eaten.
    void exited(QWidget* entered, Qt::FocusReason reason) {
        const QPointer<QWidget> self(m_target);
        const QPointer<QWidget> into(entered);
        const bool clicking =
            reason == Qt::MouseFocusReason && QGuiApplication::mouseButtons() != Qt::NoButton;
        TControlEvents* events = m_events;
        bool failed = false;
        vlm::dispatch([&] {
            try {
                events->OnExit(self);
            } catch (...) {
                failed = true;
                throw;
            }
        });
        if (!failed || self == nullptr)
            return;
        QWidget* focused = QApplication::focusWidget();
        if (focused == nullptr)
            focused = self->window()->focusWidget();
        if (into != nullptr && focused == into && self->isEnabled() &&
            self->isVisibleTo(self->window())) {
            self->setFocus(Qt::OtherFocusReason);
        }
        if (clicking && into != nullptr)
            new ClickSwallow(into);
    }

    QWidget* m_target;
    TControlEvents* m_events;
    bool m_tabKey = false;  // a Tab or Shift+Tab key is being handled
};

// Validates typed text of a mask without literals position by position.
class MaskValidator : public QValidator {
  public:
    MaskValidator(const EditMask& mask, QObject* parent) : QValidator(parent), m_mask(mask) {}
    State validate(QString& input, int& /*pos*/) const override {
        if (input.size() > m_mask.maxLength())
            return Invalid;
        for (int i = 0; i < input.size(); ++i) {
            QChar c = input[i];
            if (!m_mask.accepts(i, c))
                return Invalid;
            input[i] = c;
        }
        return Acceptable;
    }

  private:
    EditMask m_mask;
};

}  // namespace
}  // namespace vlm

void TControlEvents::hookEvents(QWidget* self) {
    new vlm::EventHook(self, this);
}

// ---- TEdit

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {
    hookEvents(this);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            vlm::dispatch([this] { OnChange(this); });
    });
}

// ---- TMaskEdit

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent) {
    hookEvents(this);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            vlm::dispatch([this] { OnChange(this); });
    });
}

void TMaskEdit::SetEditMask(const QString& mask) {
    vlm::EditMask parsed = vlm::EditMask::parse(mask);
    QString current = Text();
    m_mask = parsed;
    delete validator();
    setValidator(nullptr);
    if (m_mask.positions.isEmpty()) {
        setInputMask(QString());
    } else if (m_mask.hasLiterals) {
        setInputMask(m_mask.qtInputMask());
    } else {
        setInputMask(QString());
        setValidator(new vlm::MaskValidator(m_mask, this));
    }
    applyLimits();
    SetText(current);
}

void TMaskEdit::SetMaxLength(int n) {
    m_maxLength = qMax(0, n);
    applyLimits();
    if (m_maxLength > 0 && text().size() > m_maxLength)
        SetText(text());
}

void TMaskEdit::applyLimits() {
    int limit = 32767;
    if (m_maxLength > 0)
        limit = m_maxLength;
    if (!m_mask.positions.isEmpty() && !m_mask.hasLiterals)
        limit = qMin(limit, m_mask.maxLength());
    setMaxLength(limit);
}

QString TMaskEdit::Text() const {
    if (m_mask.positions.isEmpty())
        return text();
    QString out;
    if (m_mask.hasLiterals) {
        const QString shown = displayText();
        const int n = qMin(shown.size(), m_mask.positions.size());
        // Literals after the last typed character are not part of the text: "01.01" of
        // "01.01.___.____" (unless every position is filled).
        int end = 0;
        bool complete = true;
        for (int i = 0; i < n; ++i) {
            if (m_mask.positions[i].kind.isNull())
                continue;
            if (shown[i] == m_mask.blank || shown[i] == ' ')
                complete = false;
            else
                end = i + 1;
        }
        if (complete)
            end = n;
        for (int i = 0; i < end; ++i) {
            if (m_mask.positions[i].kind.isNull() && !m_mask.saveLiterals)
                continue;
            out += shown[i] == m_mask.blank && !m_mask.positions[i].kind.isNull() ? QChar(' ')
                                                                                  : shown[i];
        }
    } else {
        out = text();
    }
    int end = out.size();
    while (end > 0 && out[end - 1] == ' ')
        --end;
    out.truncate(end);
    if (m_mask.hasLiterals && out.trimmed().isEmpty())
        return QString();
    return out;
}

void TMaskEdit::SetText(const QString& t) {
    QString s = t;
    if (!m_mask.positions.isEmpty() && !m_mask.hasLiterals)
        s = m_mask.conform(s);
    if (m_maxLength > 0 && s.size() > m_maxLength)
        s.truncate(m_maxLength);
    if (s != text())
        setText(s);
}

// ---- simple wrappers

TLabel::TLabel(QWidget* parent) : QLabel(parent) {}
TGroupBox::TGroupBox(QWidget* parent) : QGroupBox(parent) {}

TRadioButton::TRadioButton(QWidget* parent) : QRadioButton(parent) {
    hookEvents(this);
    connect(this, &QRadioButton::toggled, this, [this](bool on) {
        if (on && OnClick)
            vlm::dispatch([this] { OnClick(this); });
    });
}

TCheckBox::TCheckBox(QWidget* parent) : QCheckBox(parent) {
    hookEvents(this);
    connect(this, &QCheckBox::toggled, this, [this] {
        if (OnClick)
            vlm::dispatch([this] { OnClick(this); });
    });
}

// ---- TRadioGroup

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent), m_group(new QButtonGroup(this)) {
    m_group->setExclusive(true);
    new QVBoxLayout(this);
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on || id == m_lastIndex)
            return;
        m_lastIndex = id;
        if (OnClick)
            vlm::dispatch([this] { OnClick(this); });
    });
}

TRadioGroup::~TRadioGroup() = default;

void TRadioGroup::SetItems(const QStringList& items) {
    for (QAbstractButton* b : m_group->buttons()) {
        m_group->removeButton(b);
        delete b;
    }
    m_lastIndex = -1;
    m_items = items;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setObjectName(QStringLiteral("item%1").arg(i));
        m_group->addButton(b, i);
        layout()->addWidget(b);
    }
}

int TRadioGroup::ItemIndex() const {
    return m_group->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < m_items.size()) {
        m_group->button(index)->setChecked(true);
        return;
    }
    m_group->setExclusive(false);
    for (QAbstractButton* b : m_group->buttons())
        b->setChecked(false);
    m_group->setExclusive(true);
    m_lastIndex = -1;
}

QRadioButton* TRadioGroup::Button(int index) const {
    return qobject_cast<QRadioButton*>(m_group->button(index));
}

// ---- TBevel

TBevel::TBevel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent*) {
    if (Shape == bsSpacer)
        return;
    QPainter p(this);
    const QColor dark = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    const int r = width() - 1;
    const int b = height() - 1;
    auto line = [&](int x1, int y1, int x2, int y2, int dx, int dy) {
        p.setPen(dark);
        p.drawLine(x1, y1, x2, y2);
        p.setPen(light);
        p.drawLine(x1 + dx, y1 + dy, x2 + dx, y2 + dy);
    };
    switch (Shape) {
        case bsTopLine:
            line(0, 0, r, 0, 0, 1);
            break;
        case bsBottomLine:
            line(0, b - 1, r, b - 1, 0, 1);
            break;
        case bsLeftLine:
            line(0, 0, 0, b, 1, 0);
            break;
        case bsRightLine:
            line(r - 1, 0, r - 1, b, 1, 0);
            break;
        case bsBox:
        case bsFrame:
            p.setPen(dark);
            p.drawRect(0, 0, r - 1, b - 1);
            p.setPen(light);
            p.drawRect(1, 1, r - 1, b - 1);
            break;
        case bsSpacer:
            break;
    }
}

// ---- TPanel

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    applyFrame();
}

void TPanel::SetBevelInner(TBevelCut cut) {
    m_inner = cut;
    applyFrame();
}

void TPanel::SetBevelOuter(TBevelCut cut) {
    m_outer = cut;
    applyFrame();
}

void TPanel::SetBorderWidth(int px) {
    setContentsMargins(px, px, px, px);
}

void TPanel::applyFrame() {
    TBevelCut cut = m_outer != bvNone ? m_outer : m_inner;
    if (cut == bvNone) {
        setFrameStyle(QFrame::NoFrame);
    } else {
        setFrameStyle(QFrame::Panel | (cut == bvRaised ? QFrame::Raised : QFrame::Sunken));
        setLineWidth(m_outer != bvNone && m_inner != bvNone ? 2 : 1);
    }
}

void TPanel::paintEvent(QPaintEvent* e) {
    QFrame::paintEvent(e);
    if (m_caption.isEmpty())
        return;
    QPainter p(this);
    p.drawText(contentsRect(), Qt::AlignCenter | Qt::TextWordWrap, m_caption);
}

// ---- TAnimate

namespace {
constexpr int kFrames = 12;
}

TAnimate::TAnimate(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this)) {
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
}

bool TAnimate::Active() const {
    return m_timer->isActive();
}

void TAnimate::SetActive(bool a) {
    if (a == Active())
        return;
    if (a) {
        m_timer->start();
    } else {
        m_timer->stop();
        m_frame = StopFrame % kFrames;
    }
    update();
}

void TAnimate::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(rect()).center();
    const qreal radius = qMin(width(), height()) * 0.35;
    const qreal dot = qMax<qreal>(2.0, radius * 0.22);
    QColor base = palette().color(QPalette::Highlight);
    for (int i = 0; i < kFrames; ++i) {
        const qreal angle = 2 * M_PI * i / kFrames;
        int age = (m_frame - i + kFrames) % kFrames;
        QColor col = base;
        col.setAlphaF(Active() ? 1.0 - age / qreal(kFrames) : 0.35);
        p.setBrush(col);
        p.setPen(Qt::NoPen);
        p.drawEllipse(c + QPointF(radius * qCos(angle), radius * qSin(angle)), dot, dot);
    }
}

// ---- TButtonFlat

TButtonFlat::TButtonFlat(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    hookEvents(this);
    connect(this, &QToolButton::clicked, this, [this] {
        if (OnClick)
            vlm::dispatch([this] { OnClick(this); });
    });
}

bool TButtonFlat::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip && !m_showHint) {
        e->ignore();
        return true;
    }
    // A button showing only a glyph is named by its hint for a screen reader.
    if (e->type() == QEvent::Polish || e->type() == QEvent::ToolTipChange) {
        const bool glyphOnly =
            std::none_of(text().cbegin(), text().cend(), [](QChar c) { return c.isLetter(); });
        if (glyphOnly && (accessibleName().isEmpty() || accessibleName() == m_hintName)) {
            m_hintName = toolTip();
            setAccessibleName(m_hintName);
        }
    }
    return QToolButton::event(e);
}
