#include "dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>

#include "controls.h"
#include "data_set.h"
#include "helpers.h"

namespace vlm {

Dialogs::~Dialogs() = default;

QString listText(const QStringList& values) {
    QStringList items;
    for (const QString& v : values) {
        QString t = v.trimmed();
        if (!t.isEmpty())
            items << t;
    }
    return items.join(',');
}

QStringList listValues(const QString& list) {
    QStringList out;
    for (const QString& item : list.split(',')) {
        QString t = item.trimmed();
        if (!t.isEmpty())
            out << t;
    }
    return out;
}

namespace {

QWidget* dialogParent() {
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    if (QWidget* w = mainForm())
        return w;
    return QApplication::activeWindow();
}

int keyColumn(TDataSet& data, const QString& keyField) {
    return data.FieldByName(keyField)->index();
}

// Fills `table` with the visible fields of `data`, starting at column `firstColumn`.
void fillTable(QTableWidget& table, TDataSet& data, int firstColumn) {
    QVector<int> fields;
    QStringList labels;
    for (const auto& f : data.Fields()) {
        if (!f->Visible)
            continue;
        fields << f->index();
        labels << f->label();
    }
    table.setColumnCount(firstColumn + fields.size());
    QStringList header;
    for (int c = 0; c < firstColumn; ++c)
        header << QString();
    header << labels;
    table.setHorizontalHeaderLabels(header);
    table.setRowCount(data.RecordCount());
    for (int r = 0; r < data.RecordCount(); ++r) {
        for (int c = 0; c < fields.size(); ++c) {
            auto cell = data.value(r, fields[c]);
            auto* item = new QTableWidgetItem(cell ? *cell : QString());
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            table.setItem(r, firstColumn + c, item);
        }
    }
    table.verticalHeader()->hide();
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    table.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table.horizontalHeader()->setStretchLastSection(true);
    table.resizeColumnsToContents();
}

QDialogButtonBox* okCancel(QDialog& dlg) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    box->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    box->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    QObject::connect(box, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    return box;
}

// The waiting window: a frameless box with the moving indicator and the text.
class WaitingWindow : public QFrame {
  public:
    explicit WaitingWindow(QWidget* owner)
        : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setFrameStyle(QFrame::Panel | QFrame::Raised);
        setLineWidth(2);
        auto* lay = new QHBoxLayout(this);
        m_anim = new TAnimate(this);
        m_label = new QLabel(this);
        m_label->setWordWrap(true);
        m_label->setMinimumWidth(220);
        lay->addWidget(m_anim);
        lay->addWidget(m_label, 1);
        setObjectName("vlmWaiting");
    }
    void setText(const QString& t) {
        m_label->setText(t);
        adjustSize();
    }
    void start() { m_anim->Play(); }
    QString text() const { return m_label->text(); }

  private:
    TAnimate* m_anim;
    QLabel* m_label;
};

class QtDialogs final : public Dialogs {
  public:
    int messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                      int /*helpContext*/) override {
        QMessageBox box(dialogParent());
        static const char* const titles[] = {"Aviso", "Erro", "Informação", "Confirmação",
                                             "Mensagem"};
        static const QMessageBox::Icon icons[] = {QMessageBox::Warning, QMessageBox::Critical,
                                                  QMessageBox::Information, QMessageBox::Question,
                                                  QMessageBox::NoIcon};
        int t = (type >= mtWarning && type <= mtCustom) ? type : mtCustom;
        box.setWindowTitle(QString::fromUtf8(titles[t]));
        box.setIcon(icons[t]);
        box.setText(text);
        QAbstractButton* yes = nullptr;
        QAbstractButton* no = nullptr;
        QAbstractButton* ok = nullptr;
        if (buttons.contains(mbYes))
            yes = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
        if (buttons.contains(mbNo))
            no = box.addButton(QStringLiteral("Não"), QMessageBox::NoRole);
        if (buttons.contains(mbOK) || (!yes && !no)) {
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        }
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        if (clicked == nullptr)
            return mrCancel;
        if (clicked == yes)
            return mrYes;
        if (clicked == no)
            return mrNo;
        if (clicked == ok)
            return mrOk;
        return mrCancel;
    }

    void error(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::NoButton,
                        dialogParent());
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.exec();
    }

    bool pickList(TDataSet& data, const QString& keyField, const QString& title, bool tickAll,
                  QString& list) override {
        int key = keyColumn(data, keyField);
        QDialog dlg(dialogParent());
        dlg.setWindowTitle(title);
        auto* lay = new QVBoxLayout(&dlg);
        auto* table = new QTableWidget(&dlg);
        table->setObjectName("pickListTable");
        fillTable(*table, data, 1);
        const QStringList current = listValues(list);
        for (int r = 0; r < data.RecordCount(); ++r) {
            auto cell = data.value(r, key);
            bool ticked = tickAll || (cell && current.contains(cell->trimmed()));
            auto* tick = new QTableWidgetItem;
            tick->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            tick->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
            table->setItem(r, 0, tick);
        }
        QObject::connect(table, &QTableWidget::cellDoubleClicked, table, [table](int r, int) {
            QTableWidgetItem* t = table->item(r, 0);
            t->setCheckState(t->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        });
        lay->addWidget(table);
        auto* row = new QHBoxLayout;
        auto* all = new QPushButton(QStringLiteral("Marcar todos"), &dlg);
        auto* none = new QPushButton(QStringLiteral("Desmarcar todos"), &dlg);
        auto setAll = [table](Qt::CheckState s) {
            for (int r = 0; r < table->rowCount(); ++r)
                table->item(r, 0)->setCheckState(s);
        };
        QObject::connect(all, &QPushButton::clicked, &dlg, [=] { setAll(Qt::Checked); });
        QObject::connect(none, &QPushButton::clicked, &dlg, [=] { setAll(Qt::Unchecked); });
        row->addWidget(all);
        row->addWidget(none);
        row->addStretch(1);
        row->addWidget(okCancel(dlg));
        lay->addLayout(row);
        dlg.resize(520, 380);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        QStringList values;
        for (int r = 0; r < data.RecordCount(); ++r) {
            if (table->item(r, 0)->checkState() != Qt::Checked)
                continue;
            auto cell = data.value(r, key);
            if (cell)
                values << *cell;
        }
        list = listText(values);
        return true;
    }

    bool pickOne(TDataSet& data, const QString& title) override {
        QDialog dlg(dialogParent());
        dlg.setWindowTitle(title);
        auto* lay = new QVBoxLayout(&dlg);
        auto* table = new QTableWidget(&dlg);
        table->setObjectName("pickOneTable");
        fillTable(*table, data, 0);
        table->setSelectionMode(QAbstractItemView::SingleSelection);
        if (data.RecordCount() > 0)
            table->selectRow(data.Eof() ? 0 : data.RecNo());
        QObject::connect(table, &QTableWidget::cellDoubleClicked, &dlg, &QDialog::accept);
        lay->addWidget(table);
        lay->addWidget(okCancel(dlg));
        dlg.resize(520, 380);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        int r = table->currentRow();
        if (r < 0 || r >= data.RecordCount())
            return false;
        data.MoveTo(r);
        return true;
    }

    void showWaiting(QWidget* owner, int /*kind*/, const QString& text) override {
        if (owner == nullptr)
            owner = mainForm();
        if (m_waiting == nullptr)
            m_waiting = new WaitingWindow(owner);
        m_waiting->setText(text);
        if (owner != nullptr) {
            QPoint centre = owner->mapToGlobal(owner->rect().center());
            m_waiting->move(centre - QPoint(m_waiting->width() / 2, m_waiting->height() / 2));
        }
        m_waiting->show();
        m_waiting->raise();
        m_waiting->start();
        m_waiting->repaint();
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    void hideWaiting() override {
        if (m_waiting == nullptr)
            return;
        delete m_waiting.data();
    }

    void showHelp(const QString& htmlFile, int context) override {
        if (m_help == nullptr) {
            m_help = new QDialog(mainForm(), Qt::Window);
            m_help->setAttribute(Qt::WA_DeleteOnClose);
            m_help->setObjectName("vlmHelp");
            auto* lay = new QVBoxLayout(m_help);
            auto* browser = new QTextBrowser(m_help);
            browser->setObjectName("vlmHelpBrowser");
            browser->setOpenExternalLinks(false);
            lay->addWidget(browser);
            m_help->resize(640, 480);
        }
        m_help->setWindowTitle(QStringLiteral("Ajuda - %1").arg(context));
        m_help->findChild<QTextBrowser*>("vlmHelpBrowser")
            ->setSource(QUrl::fromLocalFile(htmlFile));
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    }

  private:
    QPointer<WaitingWindow> m_waiting;
    QPointer<QDialog> m_help;
};

QtDialogs& qtDialogs() {
    static QtDialogs d;
    return d;
}

Dialogs* g_installed = nullptr;

}  // namespace

Dialogs& dialogs() {
    return g_installed ? *g_installed : qtDialogs();
}

Dialogs* setDialogs(Dialogs* d) {
    Dialogs* previous = g_installed;
    g_installed = d;
    return previous;
}

// ---- ScriptedDialogs

QStringList ScriptedDialogs::texts(ShownDialog::Kind kind) const {
    QStringList out;
    for (const auto& s : shown) {
        if (s.kind == kind)
            out << s.text;
    }
    return out;
}

int ScriptedDialogs::messageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                   int helpContext) {
    int answer;
    if (!m_messageAnswers.empty()) {
        answer = m_messageAnswers.front();
        m_messageAnswers.pop_front();
    } else {
        answer = buttons.contains(mbOK) || buttons.mask == 0 ? mrOk : mrYes;
    }
    shown.push_back({ShownDialog::Message, text, type, buttons, helpContext, answer});
    return answer;
}

void ScriptedDialogs::error(const QString& text) {
    shown.push_back({ShownDialog::Error, text, mtError, {mbOK}, 0, mrOk});
}

bool ScriptedDialogs::pickList(TDataSet& data, const QString& keyField, const QString& title,
                               bool /*tickAll*/, QString& list) {
    std::optional<std::vector<int>> rows;
    if (!m_listPicks.empty()) {
        rows = m_listPicks.front();
        m_listPicks.pop_front();
    }
    shown.push_back({ShownDialog::PickList, title, mtCustom, {}, 0, rows ? 1 : 0});
    if (!rows)
        return false;
    int key = keyColumn(data, keyField);
    QStringList values;
    for (int r : *rows) {
        if (r < 0 || r >= data.RecordCount()) {
            throw std::out_of_range("scripted list pick: row " + std::to_string(r) +
                                    " is not in the data set");
        }
        auto cell = data.value(r, key);
        if (cell)
            values << *cell;
    }
    list = listText(values);
    return true;
}

bool ScriptedDialogs::pickOne(TDataSet& data, const QString& title) {
    int row = -1;
    if (!m_picks.empty()) {
        row = m_picks.front();
        m_picks.pop_front();
    }
    shown.push_back({ShownDialog::PickOne, title, mtCustom, {}, 0, row >= 0 ? 1 : 0});
    if (row < 0)
        return false;
    data.MoveTo(row);
    return true;
}

void ScriptedDialogs::showWaiting(QWidget* /*owner*/, int kind, const QString& text) {
    m_waiting = true;
    m_waitingText = text;
    shown.push_back({ShownDialog::WaitingShown, text, mtCustom, {}, kind, 0});
}

void ScriptedDialogs::hideWaiting() {
    if (!m_waiting)
        return;
    m_waiting = false;
    shown.push_back({ShownDialog::WaitingHidden, m_waitingText, mtCustom, {}, 0, 0});
}

void ScriptedDialogs::showHelp(const QString& htmlFile, int context) {
    shown.push_back({ShownDialog::Help, htmlFile, mtCustom, {}, context, 0});
}

}  // namespace vlm
