#pragma once
// The screen's layout as data: one row per control (name, kind, parent, tab position,
// caption, box, font, colour, hint, start state, kind-specific details, event wiring by
// handler name). LayoutBuilder (layout_builder.h) turns the rows into widgets.

#include <vector>

#include "module/rqc04100_export.h"

namespace rqc04100 {

enum class ControlKind {
    Inherited,  // a control of the base form whose properties this screen overrides
    MaskEdit,
    Edit,
    Label,
    GroupBox,
    RadioButton,
    CheckBox,
    RadioGroup,
    Bevel,
    Panel,
    Animate,
    BtnPesquisa,
    ButtonFlat,
    DateEditPlus,
};

enum class FontKind {
    Parent,         // the parent's font (ParentFont)
    Form,           // the base form's font, whatever the parent uses
    BoldSans11,     // bold "MS Sans Serif", height -11
    RegularSans11,  // regular "MS Sans Serif", height -11
    RegularSans12,  // regular "MS Sans Serif", height -12
    BoldSans12,     // bold "MS Sans Serif", height -12
};

enum class ColourKind { Default, InfoBk, BtnFace, WindowText };

// Start-state flags.
enum StartFlag : unsigned {
    kStartDefault = 0,
    kDisabled = 1u << 0,
    kHidden = 1u << 1,
    kChecked = 1u << 2,
    kNoTabStop = 1u << 3,
    kFollowsModuFili = 1u << 4,  // disabled at creation when ModuFili says the branch is fixed
};

// left, top, width, height; for inherited controls -1 keeps the base form's value.
struct Box {
    int left = -1;
    int top = -1;
    int width = -1;
    int height = -1;
};

struct Detail {
    const char* property;
    const char* value;  // UTF-8
};

struct EventWire {
    const char* event;    // OnChange, OnExit, OnClick, OnKeyDown, OnDateChange, ...
    const char* handler;  // name of the form's method
};

struct ControlSpec {
    const char* name;
    ControlKind kind;
    const char* parent;  // "" for the form itself
    int tab;             // position in the parent's tab order; -1 when not a tab stop
    const char* caption;
    Box box;
    FontKind font;
    ColourKind colour;
    const char* hint;
    unsigned start;
    std::vector<Detail> details;
    std::vector<EventWire> events;
};

// The form's own properties.
struct FormSpec {
    const char* caption;
    FontKind font;  // the form's font, which its controls inherit
    int clientWidth;
    int clientHeight;
    int left;
    int top;
    const char* helpFile;
    int helpContext;
    const char* activeControl;
    std::vector<EventWire> events;
};

RQC04100_EXPORT const FormSpec& formSpec();
// Rows in creation order: overrides of inherited controls first, then each parent before its
// children, each parent's children by tab position, non-tab controls last.
RQC04100_EXPORT const std::vector<ControlSpec>& layoutTable();

// Every handler name the layout may wire, whether built yet or not.
RQC04100_EXPORT const std::vector<const char*>& handlerNames();

}  // namespace rqc04100
