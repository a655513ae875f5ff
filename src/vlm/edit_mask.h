#pragma once
// Edit masks in their original syntax, e.g. ">aaaa;0; ": the picture, then ";0" (literals
// not kept in the text) or ";1" (kept), then the blank placeholder character.
// Picture characters: L letter, l optional letter, A letter or digit, a optional letter or
// digit, C any character, c optional any, 0 digit, 9 optional digit, # optional digit or
// sign; '>' upper case from here on, '<' lower case, "<>" no case change, '\' makes the next
// character a literal; any other character is a literal.

#include <QString>
#include <QVector>

#include "vlm_export.h"

namespace vlm {

struct VLM_EXPORT EditMask {
    enum class Case { Keep, Upper, Lower };
    struct Slot {
        QChar kind;  // picture character ('L','l','A','a','C','c','0','9','#'); null: literal
        QChar literal;
        Case caseMode = Case::Keep;
    };

    QString source;   // the mask as given
    QString picture;  // the part before the first unescaped ';'
    bool saveLiterals = true;
    QChar blank = ' ';
    QVector<Slot> positions;  // one per position of the text
    bool hasLiterals = false;

    int maxLength() const { return positions.size(); }
    // Parses a mask; throws std::invalid_argument saying what is wrong. "" is no mask.
    static EditMask parse(const QString& mask);
    // The same mask for QLineEdit::setInputMask (used when the picture has literals).
    QString qtInputMask() const;
    // True when `c` may stand at `pos`; `c` is first cased as the slot says.
    bool accepts(int pos, QChar& c) const;
    // `text` cased and cut to the mask's length; characters not accepted at their position
    // are dropped (used for typed text without literals and for programmatic SetText).
    QString conform(const QString& text) const;
    // A stored value as the mask shows it: cased, with the literals put in when the value
    // does not carry them (";0" masks store without them). A value already laid out in the
    // picture, or too long to be one without literals, is only cased.
    QString format(const QString& stored) const;
};

}  // namespace vlm
