#pragma once
// Turns the layout table into the form's widgets: creates each control under its parent,
// sets caption, box, font, colour, hint, start state and details, builds the tab order, and
// wires each event to the form's handler of that name when the form has it.

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "screen/layout.h"
#include "shared/vlm_view.h"

namespace rqc04100 {

// The form's handlers by name, one lookup per event signature; a lookup returns an empty
// function for a name the form does not (yet) have.
struct HandlerLookup {
    std::function<TNotifyEvent(const QString&)> notify;
    std::function<TKeyEvent(const QString&)> key;
    std::function<TBeforePesqEvent(const QString&)> beforePesq;
};

struct BuiltLayout {
    QHash<QString, QWidget*> controls;  // every row's widget by name, inherited ones included
    QStringList wired;                  // "control.Event=handler" of the events wired
    QStringList pending;                // the same for events whose handler does not exist yet
    QList<QWidget*> tabOrder;           // the tab stops in the order built
};

class LayoutBuilder {
  public:
    LayoutBuilder(TfrmRotiGeral& form, HandlerLookup handlers,
                  QHash<QString, TDataSource*> dataSources);

    // Applies the form's properties and every row in order. A row naming an unknown parent,
    // control, data source, detail or event throws std::logic_error naming the row.
    BuiltLayout build(const FormSpec& form, const std::vector<ControlSpec>& rows);

  private:
    QWidget* create(const ControlSpec& row, QWidget* parent);
    QWidget* inherited(const ControlSpec& row) const;
    void applyCommon(const ControlSpec& row, QWidget* w);
    void applyDetail(const ControlSpec& row, QWidget* w, const Detail& d);
    void wire(const ControlSpec& row, QWidget* w, const EventWire& e);
    void buildTabOrder(const std::vector<ControlSpec>& rows);
    [[noreturn]] void fail(const ControlSpec& row, const QString& what) const;

    TfrmRotiGeral& m_form;
    HandlerLookup m_handlers;
    QHash<QString, TDataSource*> m_dataSources;
    BuiltLayout m_built;
};

}  // namespace rqc04100
