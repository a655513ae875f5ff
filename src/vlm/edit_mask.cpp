#include "edit_mask.h"

#include <stdexcept>

namespace vlm {

namespace {

bool isPictureChar(QChar c) {
    return QStringLiteral("LlAaCc09#").contains(c);
}

[[noreturn]] void bad(const QString& mask, const char* why) {
    throw std::invalid_argument("edit mask \"" + mask.toStdString() + "\": " + why);
}

}  // namespace

EditMask EditMask::parse(const QString& mask) {
    EditMask m;
    m.source = mask;
    if (mask.isEmpty())
        return m;

    // Split on unescaped ';' into picture, save-literals flag and blank character.
    QStringList parts;
    QString cur;
    for (int i = 0; i < mask.size(); ++i) {
        if (mask[i] == '\\' && parts.isEmpty()) {
            if (i + 1 >= mask.size())
                bad(mask, "it ends with '\\'");
            cur += mask[i];
            cur += mask[++i];
        } else if (mask[i] == ';' && parts.size() < 2) {
            parts << cur;
            cur.clear();
        } else {
            cur += mask[i];
        }
    }
    parts << cur;
    m.picture = parts[0];
    if (parts.size() > 1) {
        if (parts[1] == "0") {
            m.saveLiterals = false;
        } else if (parts[1] == "1" || parts[1].isEmpty()) {
            m.saveLiterals = true;
        } else {
            bad(mask, "the second part must be 0 or 1");
        }
    }
    m.blank = '_';
    if (parts.size() > 2) {
        if (parts[2].size() != 1)
            bad(mask, "the third part must be one blank character");
        m.blank = parts[2][0];
    }

    Case mode = Case::Keep;
    const QString& p = m.picture;
    for (int i = 0; i < p.size(); ++i) {
        QChar c = p[i];
        if (c == '<' && i + 1 < p.size() && p[i + 1] == '>') {
            mode = Case::Keep;
            ++i;
        } else if (c == '>') {
            mode = Case::Upper;
        } else if (c == '<') {
            mode = Case::Lower;
        } else if (c == '!') {
            // leading-blank trimming: nothing to translate
        } else if (c == '\\') {
            if (i + 1 >= p.size())
                bad(mask, "it ends with '\\'");
            m.positions.push_back({QChar(), p[++i], mode});
            m.hasLiterals = true;
        } else if (isPictureChar(c)) {
            m.positions.push_back({c, QChar(), mode});
        } else {
            m.positions.push_back({QChar(), c, mode});
            m.hasLiterals = true;
        }
    }
    if (m.positions.isEmpty())
        bad(mask, "it has no character position");
    return m;
}

bool EditMask::accepts(int pos, QChar& c) const {
    if (pos < 0 || pos >= positions.size())
        return false;
    const Slot& s = positions[pos];
    if (s.caseMode == Case::Upper)
        c = c.toUpper();
    if (s.caseMode == Case::Lower)
        c = c.toLower();
    if (s.kind.isNull())
        return c == s.literal;
    switch (s.kind.toLatin1()) {
        case 'L':
        case 'l':
            return c.isLetter();
        case 'A':
        case 'a':
            return c.isLetterOrNumber();
        case 'C':
        case 'c':
            return c.isPrint();
        case '0':
        case '9':
            return c.isDigit();
        case '#':
            return c.isDigit() || c == '+' || c == '-';
    }
    return false;
}

QString EditMask::conform(const QString& text) const {
    if (positions.isEmpty())
        return text;
    QString out;
    int pos = 0;
    for (QChar c : text) {
        if (pos >= positions.size())
            break;
        if (positions[pos].kind.isNull() && c != positions[pos].literal) {
            out += positions[pos].literal;  // a literal the text leaves out
            ++pos;
            if (pos >= positions.size())
                break;
        }
        QChar x = c;
        if (accepts(pos, x)) {
            out += x;
            ++pos;
        }
    }
    return out;
}

QString EditMask::format(const QString& stored) const {
    if (positions.isEmpty())
        return stored;
    auto cased = [this](int pos, QChar c) {
        const Case mode = positions[qMin(pos, positions.size() - 1)].caseMode;
        return mode == Case::Upper ? c.toUpper() : mode == Case::Lower ? c.toLower() : c;
    };
    bool laidOut = stored.size() == positions.size() || !hasLiterals;
    for (int i = 0; laidOut && hasLiterals && i < positions.size(); ++i) {
        if (positions[i].kind.isNull() && stored[i] != positions[i].literal)
            laidOut = false;
    }
    int free = 0;
    for (const Slot& s : positions)
        free += s.kind.isNull() ? 0 : 1;
    QString out;
    if (laidOut || stored.size() > free) {
        for (int i = 0; i < stored.size(); ++i)
            out += cased(i, stored[i]);
        return out;
    }
    int next = 0;
    for (int pos = 0; pos < positions.size() && next < stored.size(); ++pos) {
        if (positions[pos].kind.isNull())
            out += positions[pos].literal;
        else
            out += cased(pos, stored[next++]);
    }
    return out;
}

QString EditMask::qtInputMask() const {
    if (positions.isEmpty())
        return QString();
    static const QString special = QStringLiteral("AaNnXx90Dd#HhBb><!;[]{}\\");
    QString out;
    Case mode = Case::Keep;
    for (const Slot& s : positions) {
        if (s.caseMode != mode) {
            out += s.caseMode == Case::Upper ? '>' : s.caseMode == Case::Lower ? '<' : '!';
            mode = s.caseMode;
        }
        if (s.kind.isNull()) {
            if (special.contains(s.literal))
                out += '\\';
            out += s.literal;
            continue;
        }
        switch (s.kind.toLatin1()) {
            case 'L':
                out += 'A';
                break;
            case 'l':
                out += 'a';
                break;
            case 'A':
                out += 'N';
                break;
            case 'a':
                out += 'n';
                break;
            case 'C':
                out += 'X';
                break;
            case 'c':
                out += 'x';
                break;
            case '0':
                out += '9';
                break;
            case '9':
                out += '0';
                break;
            case '#':
                out += '#';
                break;
        }
    }
    out += ';';
    out += blank;
    return out;
}

}  // namespace vlm
