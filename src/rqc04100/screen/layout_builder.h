#pragma once
// Turns the layout table into the form's widgets: creates each control under its parent,
// sets caption, box, font, colour, hint, start state and the details of its kind, builds the
// tab order, and wires each event to the form's handler the row names.

#include <QHash>
#include <QList>
#include <QString>
#include <vector>

#include "rqc04100_export.h"
#include "screen/layout.h"
#include "shared/vlm_view.h"

namespace rqc04100 {

struct BuiltLayout {
    QHash<QString, QWidget*> controls;  // every row's widget by name, inherited ones included
    QList<QWidget*> tabOrder;           // the tab stops in the order built
};

class RQC04100_EXPORT LayoutBuilder {
  public:
    LayoutBuilder(TfrmConsolidaSolicita& form, QHash<QString, TDataSource*> dataSources);

    // Applies the form's properties and every row in order. A row naming an unknown parent,
    // control or data source, with details or an event its kind does not have, throws
    // std::logic_error naming the row.
    BuiltLayout build(const FormLayout& form, const std::vector<ControlRow>& rows);

  private:
    QWidget* create(const ControlRow& row, QWidget* parent);
    QWidget* inherited(const ControlRow& row) const;
    void applyCommon(const ControlRow& row, QWidget* w);
    void applyDetails(const ControlRow& row, QWidget* w);
    void wire(const ControlRow& row, QWidget* w, const EventWire& e);
    void buildTabOrder(const std::vector<ControlRow>& rows);
    QWidget* builtControl(const ControlRow& row, const char* name, const char* what) const;
    [[noreturn]] void fail(const ControlRow& row, const QString& what) const;

    TfrmConsolidaSolicita& m_form;
    QHash<QString, TDataSource*> m_dataSources;
    BuiltLayout m_built;
};

}  // namespace rqc04100
