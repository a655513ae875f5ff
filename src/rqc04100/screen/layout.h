#pragma once
// The screen's layout as data: one row per control (name, kind, parent, tab position,
// caption, box, font, colour, hint, start state, the details of its kind, and the form's
// handler each of its events reaches). LayoutBuilder (layout_builder.h) turns the rows into
// widgets.

#include <array>
#include <variant>
#include <vector>

#include "rqc04100_export.h"
#include "screen/event_wire.h"

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
};

// left, top, width, height; for inherited controls -1 keeps the base form's value. A control
// aligned to its parent (alTop, alClient) has the aligned geometry as its box.
struct Box {
    int left = -1;
    int top = -1;
    int width = -1;
    int height = -1;
};

// The details of each kind, typed. A detail left out keeps the control's default. Names in
// them (data source, associate, focus control) are of rows built earlier.
struct MaskEditDetails {
    const char* editMask = "";  // original mask syntax (">aaaa;0; ")
    int maxLength = 0;          // 0: no limit
};
struct RadioGroupDetails {
    std::vector<const char*> items;
    int itemIndex = -1;
};
// TButtonFlat rows and the inherited sbtConfirma.
struct ButtonDetails {
    const char* glyph;  // a name of glyph() (glyphs.h)
    bool flat = true;
    bool showHint = true;
};
struct SearchButtonDetails {
    const char* glyph;
    const char* title;
    const char* dataSource;
    const char* associate;
    const char* emptyError = "";
    bool pesqChave = false;
};
struct DateEditDetails {
    Qt::GlobalColor validDateColor = Qt::blue;
    bool saveTime = false;
    std::array<const char*, 7> nomeSemana;  // Sunday first
};
struct LabelDetails {
    const char* focusControl = nullptr;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool wordWrap = false;
};
struct BevelDetails {
    TBevel::TBevelShape shape = TBevel::bsBox;
};
struct PanelDetails {
    TPanel::TBevelCut bevelInner = TPanel::bvNone;
    int borderWidth = 0;
};
enum CommonAvi : int { aviFindFile = 1 };
struct AnimateDetails {
    CommonAvi commonAvi = aviFindFile;
    int stopFrame = 0;
    bool active = false;
};

// A row without details holds std::monostate; details that do not suit the row's kind stop
// the build of the layout (LayoutBuilder throws).
using Details = std::variant<std::monostate, MaskEditDetails, RadioGroupDetails, ButtonDetails,
                             SearchButtonDetails, DateEditDetails, LabelDetails, BevelDetails,
                             PanelDetails, AnimateDetails>;

struct ControlRow {
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
    Details details;
    std::vector<EventWire> events;
    // What a screen reader says of a control no label, caption or hint names, and its keys.
    const char* accessibleName = nullptr;
    const char* accessibleDescription = nullptr;
};

// The form's own properties. Its own events (OnCreate, OnClose, OnActivate) reach FormCreate,
// FormClose and FormActivate, which override the base form's.
struct FormLayout {
    const char* caption;
    FontKind font;  // the form's font, which its controls inherit
    int clientWidth;
    int clientHeight;
    int left;
    int top;
    const char* helpFile;
    int helpContext;
    const char* activeControl;
};

RQC04100_EXPORT const FormLayout& formLayout();
// Rows in creation order: overrides of inherited controls first, then each parent before its
// children, each parent's children by tab position, non-tab controls last.
RQC04100_EXPORT const std::vector<ControlRow>& layoutTable();

}  // namespace rqc04100
