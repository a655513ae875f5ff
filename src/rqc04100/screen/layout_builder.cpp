#include "screen/layout_builder.h"

#include <QFont>
#include <QLayout>
#include <QPalette>
#include <algorithm>
#include <map>
#include <stdexcept>
#include <variant>

#include "screen/frm_consolida_solicita.h"
#include "screen/glyphs.h"

namespace rqc04100 {

namespace {

QString utf8(const char* s) {
    return s == nullptr ? QString() : QString::fromUtf8(s);
}

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};

// The row's widget as the class its details are for.
template <class T>
T* detailsTarget(const ControlRow& row, QWidget* w) {
    T* t = qobject_cast<T*>(w);
    if (t == nullptr) {
        throw std::logic_error(std::string("layout row ") + row.name +
                               ": its details do not suit its kind");
    }
    return t;
}

const char* eventName(Event event) {
    switch (event) {
        case Event::OnChange:
            return "OnChange";
        case Event::OnExit:
            return "OnExit";
        case Event::OnClick:
            return "OnClick";
        case Event::OnKeyDown:
            return "OnKeyDown";
        case Event::OnDateChange:
            return "OnDateChange";
        case Event::OnBeforePesq:
            return "OnBeforePesq";
        case Event::OnAfterPesq:
            return "OnAfterPesq";
    }
    return "?";
}

// The control's slot of a notify event, or nullptr when its kind has no such event.
TNotifyEvent* notifySlot(QWidget* w, Event event) {
    switch (event) {
        case Event::OnChange:
            if (auto* m = qobject_cast<TMaskEdit*>(w))
                return &m->OnChange;
            if (auto* t = qobject_cast<TEdit*>(w))
                return &t->OnChange;
            break;
        case Event::OnExit:
            if (auto* c = dynamic_cast<TControlEvents*>(w))
                return &c->OnExit;
            break;
        case Event::OnClick:
            if (auto* r = qobject_cast<TRadioButton*>(w))
                return &r->OnClick;
            if (auto* c = qobject_cast<TCheckBox*>(w))
                return &c->OnClick;
            if (auto* g = qobject_cast<TRadioGroup*>(w))
                return &g->OnClick;
            if (auto* b = qobject_cast<TButtonFlat*>(w))
                return &b->OnClick;
            break;
        case Event::OnDateChange:
            if (auto* d = qobject_cast<TDateEditPlus*>(w))
                return &d->OnDateChange;
            break;
        case Event::OnAfterPesq:
            if (auto* b = qobject_cast<TBtnPesquisa*>(w))
                return &b->OnAfterPesq;
            break;
        case Event::OnKeyDown:
        case Event::OnBeforePesq:
            break;
    }
    return nullptr;
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

LayoutBuilder::LayoutBuilder(TfrmConsolidaSolicita& form, QHash<QString, TDataSource*> dataSources)
    : m_form(form), m_dataSources(std::move(dataSources)) {}

void LayoutBuilder::fail(const ControlRow& row, const QString& what) const {
    throw std::logic_error("layout row " + std::string(row.name) + ": " + what.toStdString());
}

BuiltLayout LayoutBuilder::build(const FormLayout& form, const std::vector<ControlRow>& rows) {
    m_built = BuiltLayout{};
    m_form.SetCaption(utf8(form.caption));
    m_form.setFont(fontOf(form.font, m_form.font()));
    m_form.SetClientSize(form.clientWidth, form.clientHeight, 480);
    m_form.setFixedSize(form.clientWidth, form.clientHeight);
    m_form.move(form.left, form.top);
    m_form.HelpFile = utf8(form.helpFile);
    m_form.HelpContext = form.helpContext;

    for (const ControlRow& row : rows) {
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
        applyDetails(row, w);
        for (const EventWire& e : row.events)
            wire(row, w, e);
    }
    buildTabOrder(rows);
    return m_built;
}

QWidget* LayoutBuilder::inherited(const ControlRow& row) const {
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

QWidget* LayoutBuilder::create(const ControlRow& row, QWidget* parent) {
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

void LayoutBuilder::applyCommon(const ControlRow& row, QWidget* w) {
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
    if (row.accessibleName != nullptr)
        w->setAccessibleName(utf8(row.accessibleName));
    if (row.accessibleDescription != nullptr)
        w->setAccessibleDescription(utf8(row.accessibleDescription));

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

QWidget* LayoutBuilder::builtControl(const ControlRow& row, const char* name,
                                     const char* what) const {
    QWidget* w = m_built.controls.value(utf8(name));
    if (w == nullptr)
        fail(row, QStringLiteral("unknown %1 %2").arg(QLatin1String(what), utf8(name)));
    return w;
}

void LayoutBuilder::applyDetails(const ControlRow& row, QWidget* w) {
    const auto setGlyph = [](QAbstractButton* b, const char* name) {
        b->setIcon(glyph(utf8(name)));
        b->setIconSize(QSize(16, 16));
    };
    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](const MaskEditDetails& d) {
                       auto* m = detailsTarget<TMaskEdit>(row, w);
                       m->SetEditMask(utf8(d.editMask));
                       m->SetMaxLength(d.maxLength);
                   },
                   [&](const RadioGroupDetails& d) {
                       auto* g = detailsTarget<TRadioGroup>(row, w);
                       QStringList items;
                       for (const char* item : d.items)
                           items << utf8(item);
                       g->SetItems(items);
                       // The items share the box's small height under its caption.
                       if (QLayout* box = g->layout()) {
                           box->setContentsMargins(6, 0, 6, 2);
                           box->setSpacing(2);
                       }
                       g->SetItemIndex(d.itemIndex);
                   },
                   [&](const ButtonDetails& d) {
                       auto* b = detailsTarget<TButtonFlat>(row, w);
                       setGlyph(b, d.glyph);
                       b->setAutoRaise(d.flat);
                       b->SetShowHint(d.showHint);
                   },
                   [&](const SearchButtonDetails& d) {
                       auto* b = detailsTarget<TBtnPesquisa>(row, w);
                       setGlyph(b, d.glyph);
                       b->Title = utf8(d.title);
                       b->DataSource = m_dataSources.value(utf8(d.dataSource));
                       if (b->DataSource == nullptr)
                           fail(row, "unknown data source " + utf8(d.dataSource));
                       b->Associate = builtControl(row, d.associate, "associate");
                       b->EmptyError = utf8(d.emptyError);
                       b->PesqChave = d.pesqChave;
                   },
                   [&](const DateEditDetails& d) {
                       auto* e = detailsTarget<TDateEditPlus>(row, w);
                       e->ValidDateColor = QColor(d.validDateColor);
                       e->SaveTime = d.saveTime;
                       e->NomeSemana.clear();
                       for (const char* day : d.nomeSemana)
                           e->NomeSemana << utf8(day);
                   },
                   [&](const LabelDetails& d) {
                       auto* l = detailsTarget<QLabel>(row, w);
                       if (d.focusControl != nullptr)
                           l->setBuddy(builtControl(row, d.focusControl, "focus control"));
                       l->setAlignment(d.alignment);
                       l->setWordWrap(d.wordWrap);
                   },
                   [&](const BevelDetails& d) { detailsTarget<TBevel>(row, w)->SetShape(d.shape); },
                   [&](const PanelDetails& d) {
                       auto* p = detailsTarget<TPanel>(row, w);
                       p->SetBevelInner(d.bevelInner);
                       p->SetBorderWidth(d.borderWidth);
                   },
                   [&](const AnimateDetails& d) {
                       auto* a = detailsTarget<TAnimate>(row, w);
                       a->CommonAVI = d.commonAvi;
                       a->StopFrame = d.stopFrame;
                       a->SetActive(d.active);
                   },
               },
               row.details);
}

void LayoutBuilder::wire(const ControlRow& row, QWidget* w, const EventWire& e) {
    TfrmConsolidaSolicita* form = &m_form;
    const QString event = QString::fromLatin1(eventName(e.event));
    if (e.event == Event::OnKeyDown) {
        auto* c = dynamic_cast<TControlEvents*>(w);
        if (c == nullptr)
            fail(row, "no OnKeyDown on this kind");
        if (e.key == nullptr)
            fail(row, "no handler for OnKeyDown");
        c->OnKeyDown = [form, h = e.key](QObject* sender, quint16& key, TShiftState shift) {
            (form->*h)(sender, key, shift);
        };
    } else if (e.event == Event::OnBeforePesq) {
        auto* b = qobject_cast<TBtnPesquisa*>(w);
        if (b == nullptr)
            fail(row, "no OnBeforePesq on this kind");
        if (e.beforePesq == nullptr)
            fail(row, "no handler for OnBeforePesq");
        b->OnBeforePesq = [form, h = e.beforePesq](QObject* sender, bool& go) {
            (form->*h)(sender, go);
        };
    } else {
        TNotifyEvent* slot = notifySlot(w, e.event);
        if (slot == nullptr)
            fail(row, "no " + event + " on this kind");
        if (e.notify == nullptr)
            fail(row, "no handler for " + event);
        *slot = [form, h = e.notify](QObject* sender) { (form->*h)(sender); };
    }
}

void LayoutBuilder::buildTabOrder(const std::vector<ControlRow>& rows) {
    // Children of each parent by tab position, visited depth first from the filter group box.
    std::function<void(const QString&)> visit = [&](const QString& parent) {
        std::vector<const ControlRow*> children;
        for (const ControlRow& r : rows) {
            if (r.kind != ControlKind::Inherited && utf8(r.parent) == parent && r.tab >= 0) {
                children.push_back(&r);
            }
        }
        std::sort(children.begin(), children.end(),
                  [](const ControlRow* a, const ControlRow* b) { return a->tab < b->tab; });
        for (const ControlRow* c : children) {
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
