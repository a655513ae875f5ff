#pragma once
// A date edit: "dd/mm/yyyy" text with a calendar drop-down button. It holds a date or no date
// (blank text). Dates are TDateTime values (days since 1899-12-30); 0 stands for no date.

#include <QColor>
#include <QLineEdit>
#include <QStringList>

#include "controls.h"
#include "helpers.h"
#include "vlm_export.h"

class QToolButton;

class VLM_EXPORT TDateEditPlus : public QLineEdit, public TControlEvents {
    Q_OBJECT
  public:
    // Starts holding today's date.
    explicit TDateEditPlus(QWidget* parent = nullptr);

    // The date held: the day of the text when it is a real date; 0 when the text is blank or
    // not (yet) a real date.
    TDateTime GetDate() const;
    // Sets the date (the time of day is dropped unless SaveTime); 0 clears the edit.
    void SetDate(TDateTime date);
    // The text as shown: "dd/mm/yyyy", or "" when no digit is typed.
    QString Text() const;
    void SetText(const QString& t);
    bool IsBlank() const;

    // Throws the abort through MensErro, with a message naming the text, and gives the edit the
    // focus when the text is neither blank nor a real date. A blank or valid text passes.
    void CheckValidDate();

    QColor ValidDateColor = Qt::blue;   // colour of the text while it holds a valid date
    QColor InvalidDateColor = Qt::red;  // colour of a fully typed text that is no real date
    bool SaveTime = false;
    // Weekday names, Sunday first; WeekdayName() of the date held.
    QStringList NomeSemana = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
    QString WeekdayName() const;

    // Fires whenever the date held changes (typing, SetDate, SetText, the calendar, clearing).
    TNotifyEvent OnDateChange;

    // Opens the calendar drop-down (also the button's action, F4 and Alt+Down): a click or
    // Enter on a day sets that date, Esc closes it leaving the date as it was.
    void DropDown();

  protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    void textWasChanged();
    void startAtFirstBlank();
    QToolButton* m_button;
    TDateTime m_lastDate = 0;
    double m_timeOfDay = 0;
};
