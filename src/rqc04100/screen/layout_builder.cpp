#include "screen/layout_builder.h"

#include <QFont>
#include <QLayout>
#include <QPalette>
#include <algorithm>
#include <map>
#include <stdexcept>

#include "screen/glyphs.h"

namespace rqc04100 {

namespace {

QString utf8(const char* s) {
    return s == nullptr ? QString() : QString::fromUtf8(s);
}

bool toBool(const ControlSpec& row, const Detail& d) {
    const QString v = utf8(d.value);
    if (v == QLatin1String("true"))
        return true;
    if (v == QLatin1String("false"))
        return false;
    throw std::logic_error(std::string("layout row ") + row.name + ": " + d.property +
                           " must be true or false, not \"" + d.value + "\"");
}

int toInt(const ControlSpec& row, const Detail& d) {
    bool ok = false;
    const int n = utf8(d.value).toInt(&ok);
    if (!ok) {
        throw std::logic_error(std::string("layout row ") + row.name + ": " + d.property +
                               " must be a number, not \"" + d.value + "\"");
    }
    return n;
}

// Every property of the returned font is set, so that nothing is inherited from the parent.
QFont fontOf(FontKind kind, const QFont& formFont) {
    QFont f = formFont;
    if (kind != FontKind::Parent && kind != FontKind::Form) {
        f = QFont(QStringLiteral("MS Sans Serif"));
        f.setPixelSize(kind == FontKind::RegularSans12 || kind == FontKind::BoldSans12 ? 12 : 11);
        f.setBold(kind == FontKind::BoldSans11 || kind == FontKind::BoldSans12);
    }
    f.setResolveMask(QFont::AllPropertiesResolved);
    return f;
}

// The platform's clInfoBk and clBtnFace.
const QColor kInfoBk(255, 255, 225);
const QColor kBtnFace(240, 240, 240);

void setBaseColour(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, c);
    }
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

}  // namespace

LayoutBuilder::LayoutBuilder(TfrmRotiGeral& form, HandlerLookup handlers,
                             QHash<QString, TDataSource*> dataSources)
    : m_form(form), m_handlers(std::move(handlers)), m_dataSources(std::move(dataSources)) {}

void LayoutBuilder::fail(const ControlSpec& row, const QString& what) const {
    throw std::logic_error("layout row " + std::string(row.name) + ": " + what.toStdString());
}

BuiltLayout LayoutBuilder::build(const FormSpec& form, const std::vector<ControlSpec>& rows) {
    m_built = BuiltLayout{};
    m_form.SetCaption(utf8(form.caption));
    m_form.setFont(fontOf(form.font, m_form.font()));
    m_form.SetClientSize(form.clientWidth, form.clientHeight, 480);
    m_form.setFixedSize(form.clientWidth, form.clientHeight);
    m_form.move(form.left, form.top);
    m_form.HelpFile = utf8(form.helpFile);
    m_form.HelpContext = form.helpContext;

    for (const ControlSpec& row : rows) {
        QWidget* w = nullptr;
        if (row.kind == ControlKind::Inherited) {
            w = inherited(row);
        } else {
            if (m_built.controls.contains(utf8(row.name)))
                fail(row, "name used twice");
            QWidget* parent = nullptr;
            if (utf8(row.parent).isEmpty()) {
                parent = &m_form;
            } else {
                parent = m_built.controls.value(utf8(row.parent));
                if (parent == nullptr)
                    fail(row, "unknown parent " + utf8(row.parent));
            }
            w = create(row, parent);
            w->setObjectName(utf8(row.name));
        }
        m_built.controls.insert(utf8(row.name), w);
        applyCommon(row, w);
        for (const Detail& d : row.details)
            applyDetail(row, w, d);
        for (const EventWire& e : row.events)
            wire(row, w, e);
    }
    buildTabOrder(rows);
    return m_built;
}

QWidget* LayoutBuilder::inherited(const ControlSpec& row) const {
    const std::map<QString, QWidget*> base = {
        {QStringLiteral("lblCodTela"), m_form.lblCodTela},
        {QStringLiteral("grbDadosRel"), m_form.grbDadosRel},
        {QStringLiteral("panMenu"), m_form.panMenu},
        {QStringLiteral("panHelp"), m_form.panHelp},
        {QStringLiteral("sbtHelp"), m_form.sbtHelp},
        {QStringLiteral("panBotoes"), m_form.panBotoes},
        {QStringLiteral("sbtConfirma"), m_form.sbtConfirma},
    };
    auto it = base.find(utf8(row.name));
    if (it == base.end() || it->second == nullptr) {
        fail(row, QStringLiteral("not a control of the base form"));
    }
    return it->second;
}

QWidget* LayoutBuilder::create(const ControlSpec& row, QWidget* parent) {
    switch (row.kind) {
        case ControlKind::MaskEdit:
            return new TMaskEdit(parent);
        case ControlKind::Edit:
            return new TEdit(parent);
        case ControlKind::Label:
            return new TLabel(parent);
        case ControlKind::GroupBox:
            return new TGroupBox(parent);
        case ControlKind::RadioButton:
            return new TRadioButton(parent);
        case ControlKind::CheckBox:
            return new TCheckBox(parent);
        case ControlKind::RadioGroup:
            return new TRadioGroup(parent);
        case ControlKind::Bevel:
            return new TBevel(parent);
        case ControlKind::Panel:
            return new TPanel(parent);
        case ControlKind::Animate:
            return new TAnimate(parent);
        case ControlKind::BtnPesquisa: {
            auto* b = new TBtnPesquisa(parent);
            b->setFocusPolicy(Qt::NoFocus);
            return b;
        }
        case ControlKind::ButtonFlat: {
            auto* b = new TButtonFlat(parent);
            b->setFocusPolicy(Qt::NoFocus);
            return b;
        }
        case ControlKind::DateEditPlus:
            return new TDateEditPlus(parent);
        case ControlKind::Inherited:
            break;
    }
    fail(row, QStringLiteral("kind cannot be created"));
}

void LayoutBuilder::applyCommon(const ControlSpec& row, QWidget* w) {
    const Box& b = row.box;
    if (b.left >= 0 || b.top >= 0 || b.width >= 0 || b.height >= 0) {
        const QRect g = w->geometry();
        w->setGeometry(b.left >= 0 ? b.left : g.x(), b.top >= 0 ? b.top : g.y(),
                       b.width >= 0 ? b.width : g.width(), b.height >= 0 ? b.height : g.height());
    }

    if (row.caption != nullptr &&
        (row.kind == ControlKind::Inherited ? *row.caption != '\0' : true)) {
        const QString caption = utf8(row.caption);
        if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setText(caption);
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            g->setTitle(caption);
        } else if (auto* a = qobject_cast<QAbstractButton*>(w)) {
            if (!caption.isEmpty())
                a->setText(caption);
        } else if (auto* p = qobject_cast<TPanel*>(w)) {
            p->SetCaption(caption);
        } else if (!caption.isEmpty()) {
            fail(row, QStringLiteral("this kind has no caption"));
        }
    }

    if (row.kind != ControlKind::Inherited) {
        if (row.font != FontKind::Parent)
            w->setFont(fontOf(row.font, m_form.font()));
    }
    switch (row.colour) {
        case ColourKind::Default:
            break;
        case ColourKind::InfoBk:
            setBaseColour(w, kInfoBk);
            break;
        case ColourKind::BtnFace:
            setBaseColour(w, kBtnFace);
            break;
        case ColourKind::WindowText: {
            QPalette pal = w->palette();
            pal.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
            pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
            w->setPalette(pal);
            break;
        }
    }

    const QString hint = utf8(row.hint);
    if (!hint.isEmpty())
        w->setToolTip(hint);

    if (row.start & kChecked) {
        if (auto* a = qobject_cast<QAbstractButton*>(w)) {
            a->setChecked(true);
        } else {
            fail(row, QStringLiteral("only buttons start checked"));
        }
    }
    if (row.start & kNoTabStop)
        w->setFocusPolicy(Qt::ClickFocus);
    if (row.start & kDisabled)
        w->setEnabled(false);
    if (row.start & kHidden)
        w->setVisible(false);
    if (utf8(row.parent).isEmpty() && row.kind != ControlKind::Inherited)
        w->raise();
}

void LayoutBuilder::applyDetail(const ControlSpec& row, QWidget* w, const Detail& d) {
    const QString prop = utf8(d.property);
    const QString value = utf8(d.value);
    auto unknown = [&] { fail(row, "detail " + prop + " does not apply to this kind"); };

    if (prop == QLatin1String("Glyph")) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        if (b == nullptr)
            unknown();
        b->setIcon(glyph(value));
        b->setIconSize(QSize(16, 16));
    } else if (prop == QLatin1String("EditMask")) {
        auto* m = qobject_cast<TMaskEdit*>(w);
        if (m == nullptr)
            unknown();
        m->SetEditMask(value);
    } else if (prop == QLatin1String("MaxLength")) {
        auto* m = qobject_cast<TMaskEdit*>(w);
        if (m == nullptr)
            unknown();
        m->SetMaxLength(toInt(row, d));
    } else if (prop == QLatin1String("Items")) {
        auto* g = qobject_cast<TRadioGroup*>(w);
        if (g == nullptr)
            unknown();
        g->SetItems(value.split(QLatin1Char('\n')));
        // The items share the box's small height under its caption.
        if (QLayout* items = g->layout()) {
            items->setContentsMargins(6, 0, 6, 2);
            items->setSpacing(2);
        }
    } else if (prop == QLatin1String("ItemIndex")) {
        auto* g = qobject_cast<TRadioGroup*>(w);
        if (g == nullptr)
            unknown();
        g->SetItemIndex(toInt(row, d));
    } else if (prop == QLatin1String("Title") || prop == QLatin1String("DataSource") ||
               prop == QLatin1String("Associate") || prop == QLatin1String("EmptyError") ||
               prop == QLatin1String("PesqChave")) {
        auto* b = qobject_cast<TBtnPesquisa*>(w);
        if (b == nullptr)
            unknown();
        if (prop == QLatin1String("Title")) {
            b->Title = value;
        } else if (prop == QLatin1String("DataSource")) {
            b->DataSource = m_dataSources.value(value);
            if (b->DataSource == nullptr)
                fail(row, "unknown data source " + value);
        } else if (prop == QLatin1String("Associate")) {
            b->Associate = m_built.controls.value(value);
            if (b->Associate == nullptr)
                fail(row, "unknown associate " + value);
        } else if (prop == QLatin1String("EmptyError")) {
            b->EmptyError = value;
        } else {
            b->PesqChave = toBool(row, d);
        }
    } else if (prop == QLatin1String("Flat")) {
        auto* b = qobject_cast<QToolButton*>(w);
        if (b == nullptr)
            unknown();
        b->setAutoRaise(toBool(row, d));
    } else if (prop == QLatin1String("ShowHint")) {
        auto* b = qobject_cast<TButtonFlat*>(w);
        if (b == nullptr)
            unknown();
        b->SetShowHint(toBool(row, d));
    } else if (prop == QLatin1String("ValidDateColor") || prop == QLatin1String("SaveTime") ||
               prop == QLatin1String("NomeSemana")) {
        auto* e = qobject_cast<TDateEditPlus*>(w);
        if (e == nullptr)
            unknown();
        if (prop == QLatin1String("ValidDateColor")) {
            e->ValidDateColor = QColor(value);
            if (!e->ValidDateColor.isValid())
                fail(row, "invalid colour " + value);
        } else if (prop == QLatin1String("SaveTime")) {
            e->SaveTime = toBool(row, d);
        } else {
            e->NomeSemana = value.split(QLatin1Char('\n'));
            if (e->NomeSemana.size() != 7)
                fail(row, QStringLiteral("NomeSemana needs 7 names"));
        }
    } else if (prop == QLatin1String("FocusControl")) {
        auto* l = qobject_cast<QLabel*>(w);
        QWidget* buddy = m_built.controls.value(value);
        if (l == nullptr)
            unknown();
        if (buddy == nullptr)
            fail(row, "unknown focus control " + value);
        l->setBuddy(buddy);
    } else if (prop == QLatin1String("Alignment")) {
        auto* l = qobject_cast<QLabel*>(w);
        if (l == nullptr || value != QLatin1String("taCenter"))
            unknown();
        l->setAlignment(Qt::AlignCenter);
    } else if (prop == QLatin1String("WordWrap")) {
        auto* l = qobject_cast<QLabel*>(w);
        if (l == nullptr)
            unknown();
        l->setWordWrap(toBool(row, d));
    } else if (prop == QLatin1String("Align")) {
        // The box already holds the aligned geometry; the alignment is checked, not applied.
        static const QStringList aligns = {QStringLiteral("alTop"), QStringLiteral("alClient")};
        if (!aligns.contains(value))
            fail(row, "unknown alignment " + value);
    } else if (prop == QLatin1String("Shape")) {
        auto* b = qobject_cast<TBevel*>(w);
        if (b == nullptr || value != QLatin1String("bsBottomLine"))
            unknown();
        b->SetShape(TBevel::bsBottomLine);
    } else if (prop == QLatin1String("BevelInner")) {
        auto* p = qobject_cast<TPanel*>(w);
        if (p == nullptr || value != QLatin1String("bvLowered"))
            unknown();
        p->SetBevelInner(TPanel::bvLowered);
    } else if (prop == QLatin1String("BorderWidth")) {
        auto* p = qobject_cast<TPanel*>(w);
        if (p == nullptr)
            unknown();
        p->SetBorderWidth(toInt(row, d));
    } else if (prop == QLatin1String("CommonAVI") || prop == QLatin1String("StopFrame") ||
               prop == QLatin1String("Active")) {
        auto* a = qobject_cast<TAnimate*>(w);
        if (a == nullptr)
            unknown();
        if (prop == QLatin1String("CommonAVI")) {
            if (value != QLatin1String("aviFindFile"))
                fail(row, "unknown animation " + value);
            a->CommonAVI = 1;
        } else if (prop == QLatin1String("StopFrame")) {
            a->StopFrame = toInt(row, d);
        } else {
            a->SetActive(toBool(row, d));
        }
    } else {
        unknown();
    }
}

void LayoutBuilder::wire(const ControlSpec& row, QWidget* w, const EventWire& e) {
    const QString event = utf8(e.event);
    const QString handler = utf8(e.handler);
    const QString entry = utf8(row.name) + "." + event + "=" + handler;
    bool built = false;

    if (event == QLatin1String("OnKeyDown")) {
        auto* c = dynamic_cast<TControlEvents*>(w);
        if (c == nullptr)
            fail(row, "no OnKeyDown on this kind");
        if (TKeyEvent h = m_handlers.key(handler)) {
            c->OnKeyDown = std::move(h);
            built = true;
        }
    } else if (event == QLatin1String("OnBeforePesq")) {
        auto* b = qobject_cast<TBtnPesquisa*>(w);
        if (b == nullptr)
            fail(row, "no OnBeforePesq on this kind");
        if (TBeforePesqEvent h = m_handlers.beforePesq(handler)) {
            b->OnBeforePesq = std::move(h);
            built = true;
        }
    } else {
        TNotifyEvent* slot = nullptr;
        if (event == QLatin1String("OnChange")) {
            if (auto* m = qobject_cast<TMaskEdit*>(w))
                slot = &m->OnChange;
            if (auto* t = qobject_cast<TEdit*>(w))
                slot = &t->OnChange;
        } else if (event == QLatin1String("OnExit") || event == QLatin1String("OnEnter")) {
            if (auto* c = dynamic_cast<TControlEvents*>(w)) {
                slot = event == QLatin1String("OnExit") ? &c->OnExit : &c->OnEnter;
            }
        } else if (event == QLatin1String("OnClick")) {
            if (auto* r = qobject_cast<TRadioButton*>(w))
                slot = &r->OnClick;
            if (auto* c = qobject_cast<TCheckBox*>(w))
                slot = &c->OnClick;
            if (auto* g = qobject_cast<TRadioGroup*>(w))
                slot = &g->OnClick;
            if (auto* b = qobject_cast<TButtonFlat*>(w))
                slot = &b->OnClick;
        } else if (event == QLatin1String("OnDateChange")) {
            if (auto* d = qobject_cast<TDateEditPlus*>(w))
                slot = &d->OnDateChange;
        } else if (event == QLatin1String("OnAfterPesq")) {
            if (auto* b = qobject_cast<TBtnPesquisa*>(w))
                slot = &b->OnAfterPesq;
        }
        if (slot == nullptr)
            fail(row, "no " + event + " on this kind");
        if (TNotifyEvent h = m_handlers.notify(handler)) {
            *slot = std::move(h);
            built = true;
        }
    }
    (built ? m_built.wired : m_built.pending).append(entry);
}

void LayoutBuilder::buildTabOrder(const std::vector<ControlSpec>& rows) {
    // Children of each parent by tab position, visited depth first from the filter group box.
    std::function<void(const QString&)> visit = [&](const QString& parent) {
        std::vector<const ControlSpec*> children;
        for (const ControlSpec& r : rows) {
            if (r.kind != ControlKind::Inherited && utf8(r.parent) == parent && r.tab >= 0) {
                children.push_back(&r);
            }
        }
        std::sort(children.begin(), children.end(),
                  [](const ControlSpec* a, const ControlSpec* b) { return a->tab < b->tab; });
        for (const ControlSpec* c : children) {
            QWidget* w = m_built.controls.value(utf8(c->name));
            if (c->kind == ControlKind::GroupBox) {
                visit(utf8(c->name));
            } else if (c->kind == ControlKind::RadioGroup) {
                auto* g = static_cast<TRadioGroup*>(w);
                for (int i = 0; i < g->Items().size(); ++i)
                    m_built.tabOrder.append(g->Button(i));
            } else if (!(c->start & kNoTabStop)) {
                m_built.tabOrder.append(w);
            }
        }
    };
    visit(QStringLiteral("grbDadosRel"));
    for (int i = 1; i < m_built.tabOrder.size(); ++i) {
        QWidget::setTabOrder(m_built.tabOrder[i - 1], m_built.tabOrder[i]);
    }
}

}  // namespace rqc04100
