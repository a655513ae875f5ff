#pragma once
// Thin control wrappers over Qt widgets, under the names the screens use. Events are std::function
// members raised through vlm::dispatch: a handler may end with EAbort (silent) or any exception
// (shown in the error dialog). Enabled, visible, geometry and focus are the Qt widget's own API.
// OnChange of the edits fires for typed and programmatic changes alike. OnExit fires when the user
// moves the focus to another control of the same form (vlm::formOf) by Tab, Shift+Tab, a click or
// a mnemonic; not for moves made by the program, window activation or state changes, dialogs,
// pop-ups or other windows. A failing OnExit undoes the move: the focus returns to the control,
// the click is eaten and the control entered runs no OnExit. OnKeyDown receives the key as a
// virtual-key code (F9 = 120); a handler that sets it to 0 swallows the key.

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringList>
#include <QToolButton>
#include <functional>
#include <memory>

#include "edit_mask.h"
#include "vlm_export.h"

class QButtonGroup;
class QTimer;

enum TShiftStateFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TKeyEvent = std::function<void(QObject* Sender, quint16& Key, TShiftState Shift)>;

namespace vlm {

// The virtual-key code of a Qt key (F1..F12 = 112..123, letters 'A'..'Z', digits '0'..'9',
// Enter 13, Esc 27, Tab 9, ...); 0 for keys without one.
VLM_EXPORT quint16 virtualKey(int qtKey);
// The form a widget belongs to: its nearest TfrmRotiGeral ancestor within its window, else
// its window (dialogs and pop-ups owned by a form are windows of their own).
VLM_EXPORT QWidget* formOf(QWidget* w);

}  // namespace vlm

// Focus and key events shared by the focusable controls.
class VLM_EXPORT TControlEvents {
  public:
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;

  protected:
    TControlEvents() = default;
    ~TControlEvents() = default;
    void hookEvents(QWidget* self);
};

class VLM_EXPORT TEdit : public QLineEdit, public TControlEvents {
    Q_OBJECT
  public:
    explicit TEdit(QWidget* parent = nullptr);
    QString Text() const { return text(); }
    void SetText(const QString& t) { setText(t); }
    TNotifyEvent OnChange;
};

class VLM_EXPORT TMaskEdit : public QLineEdit, public TControlEvents {
    Q_OBJECT
  public:
    explicit TMaskEdit(QWidget* parent = nullptr);

    // Sets the mask in its original syntax (edit_mask.h); "" removes it. Throws
    // std::invalid_argument for a malformed mask. The current text is conformed to it.
    void SetEditMask(const QString& mask);
    QString EditMask() const { return m_mask.source; }
    // Maximum number of characters (also bounded by the mask's length); 0: no limit.
    void SetMaxLength(int n);
    int MaxLength() const { return m_maxLength; }

    // The text as the mask yields it: literals dropped when the mask does not keep them,
    // placeholders, trailing blanks and the literals after the last typed character dropped
    // ("01.01" while "01.01.___.____" is shown); "" when nothing is typed.
    QString Text() const;
    // Sets the text, cased and cut as the mask and MaxLength say; fires OnChange on change.
    void SetText(const QString& t);

    TNotifyEvent OnChange;

  private:
    void applyLimits();
    vlm::EditMask m_mask;
    int m_maxLength = 0;
};

class VLM_EXPORT TLabel : public QLabel {
    Q_OBJECT
  public:
    explicit TLabel(QWidget* parent = nullptr);
    QString Caption() const { return text(); }
    void SetCaption(const QString& c) { setText(c); }
};

class VLM_EXPORT TGroupBox : public QGroupBox {
    Q_OBJECT
  public:
    explicit TGroupBox(QWidget* parent = nullptr);
    QString Caption() const { return title(); }
    void SetCaption(const QString& c) { setTitle(c); }
};

// OnClick fires when the button becomes checked, by the user or by SetChecked(true).
class VLM_EXPORT TRadioButton : public QRadioButton, public TControlEvents {
    Q_OBJECT
  public:
    explicit TRadioButton(QWidget* parent = nullptr);
    bool Checked() const { return isChecked(); }
    void SetChecked(bool c) { setChecked(c); }
    QString Caption() const { return text(); }
    void SetCaption(const QString& c) { setText(c); }
    TNotifyEvent OnClick;
};

// OnClick fires whenever the checked state changes, by the user or by SetChecked.
class VLM_EXPORT TCheckBox : public QCheckBox, public TControlEvents {
    Q_OBJECT
  public:
    explicit TCheckBox(QWidget* parent = nullptr);
    bool Checked() const { return isChecked(); }
    void SetChecked(bool c) { setChecked(c); }
    QString Caption() const { return text(); }
    void SetCaption(const QString& c) { setText(c); }
    TNotifyEvent OnClick;
};

// A group box of exclusive radio items; ItemIndex -1 when none is selected.
// OnClick fires when the selected item changes, by the user or by SetItemIndex.
class VLM_EXPORT TRadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit TRadioGroup(QWidget* parent = nullptr);
    ~TRadioGroup() override;
    void SetItems(const QStringList& items);
    QStringList Items() const { return m_items; }
    int ItemIndex() const;
    void SetItemIndex(int index);  // out of range: none selected
    QRadioButton* Button(int index) const;
    QString Caption() const { return title(); }
    void SetCaption(const QString& c) { setTitle(c); }
    TNotifyEvent OnClick;

  private:
    QStringList m_items;
    QButtonGroup* m_group;
    int m_lastIndex = -1;
};

// A decorative frame or line.
class VLM_EXPORT TBevel : public QWidget {
    Q_OBJECT
  public:
    enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
    explicit TBevel(QWidget* parent = nullptr);
    TBevelShape Shape = bsBox;
    void SetShape(TBevelShape s) {
        Shape = s;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override;
};

class VLM_EXPORT TPanel : public QFrame {
    Q_OBJECT
  public:
    enum TBevelCut { bvNone, bvLowered, bvRaised };
    explicit TPanel(QWidget* parent = nullptr);
    void SetBevelInner(TBevelCut cut);
    void SetBevelOuter(TBevelCut cut);
    void SetBorderWidth(int px);
    QString Caption() const { return m_caption; }
    void SetCaption(const QString& c) {
        m_caption = c;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    void applyFrame();
    TBevelCut m_inner = bvNone;
    TBevelCut m_outer = bvRaised;
    QString m_caption;
};

// A moving indicator (a ring of dots turning while active).
class VLM_EXPORT TAnimate : public QWidget {
    Q_OBJECT
  public:
    explicit TAnimate(QWidget* parent = nullptr);
    bool Active() const;
    void SetActive(bool a);
    void Play() { SetActive(true); }
    void Stop() { SetActive(false); }
    int CommonAVI = 1;  // kind of animation (only the search ring is drawn)
    int StopFrame = 0;  // frame shown while stopped
    int Frame() const { return m_frame; }
    QSize sizeHint() const override { return {48, 50}; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QTimer* m_timer;
    int m_frame = 0;
};

// A flat tool button with a hint; OnClick on a click (or click()).
class VLM_EXPORT TButtonFlat : public QToolButton, public TControlEvents {
    Q_OBJECT
  public:
    explicit TButtonFlat(QWidget* parent = nullptr);
    void SetHint(const QString& h) { setToolTip(h); }
    QString Hint() const { return toolTip(); }
    void SetShowHint(bool s) { m_showHint = s; }
    bool ShowHint() const { return m_showHint; }
    TNotifyEvent OnClick;

  protected:
    bool event(QEvent* e) override;

  private:
    bool m_showHint = true;
    QString m_hintName;  // the accessible name taken from the hint, while it is that
};
