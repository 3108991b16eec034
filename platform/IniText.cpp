#include "browsers/IniText.h"

#include <QList>

namespace initext {

namespace {

struct TLine {
    qsizetype Start;  // offset of the line in the text
    qsizetype End;    // offset of its line break (or of the text's end)
    qsizetype NextAt; // offset of the next line
};

QList<TLine> SplitLines(const QString &Text) {
    QList<TLine> lines;
    qsizetype pos = 0;
    while (pos < Text.size()) {
        qsizetype nl = Text.indexOf(u'\n', pos);
        const qsizetype next = nl < 0 ? Text.size() : nl + 1;
        qsizetype end = nl < 0 ? Text.size() : nl;
        if (end > pos && Text[end - 1] == u'\r')
            --end;
        lines.append({pos, end, next});
        pos = next;
    }
    return lines;
}

QStringView Content(const QString &Text, const TLine &L) {
    QStringView v = QStringView(Text).mid(L.Start, L.End - L.Start);
    if (L.Start == 0 && v.startsWith(QChar(0xFEFF)))
        v = v.mid(1);
    return v.trimmed();
}

/// The section name of a "[name]" line, or a null string for any other line.
QString SectionOf(QStringView Line) {
    if (Line.size() >= 2 && Line.front() == u'[' && Line.back() == u']')
        return Line.mid(1, Line.size() - 2).trimmed().toString();
    return QString();
}

bool IsComment(QStringView Line) {
    return Line.startsWith(u';') || Line.startsWith(u'#');
}

bool KeyOf(QStringView Line, const QString &Key, qsizetype *EqualsAt = nullptr) {
    if (IsComment(Line))
        return false;
    const qsizetype eq = Line.indexOf(u'=');
    if (eq <= 0)
        return false;
    if (Line.left(eq).trimmed().compare(Key.trimmed(), Qt::CaseInsensitive) != 0)
        return false;
    if (EqualsAt)
        *EqualsAt = eq;
    return true;
}

QString LineBreakOf(const QString &Text) {
    const qsizetype nl = Text.indexOf(u'\n');
    return nl > 0 && Text[nl - 1] == u'\r' ? QStringLiteral("\r\n") : QStringLiteral("\n");
}

} // namespace

QStringList SectionNames(const QString &Text) {
    QStringList names;
    for (const TLine &l : SplitLines(Text)) {
        const QString s = SectionOf(Content(Text, l));
        if (!s.isNull())
            names << s;
    }
    return names;
}

bool ReadValue(const QString &Text, const QString &Section, const QString &Key, QString &Value) {
    bool inSection = false, seenSection = false;
    for (const TLine &l : SplitLines(Text)) {
        const QStringView line = Content(Text, l);
        const QString s = SectionOf(line);
        if (!s.isNull()) {
            if (seenSection && inSection)
                return false; // only the first section of that name counts
            inSection = s.compare(Section.trimmed(), Qt::CaseInsensitive) == 0;
            seenSection = seenSection || inSection;
            continue;
        }
        qsizetype eq = 0;
        if (inSection && KeyOf(line, Key, &eq)) {
            Value = line.mid(eq + 1).trimmed().toString();
            return true;
        }
    }
    return false;
}

QString WriteValue(const QString &Text, const QString &Section, const QString &Key, const QString &Value) {
    const QList<TLine> lines = SplitLines(Text);
    const QString br = LineBreakOf(Text);
    qsizetype sectionAt = -1;   // index of the section's header line
    qsizetype lastKeyLine = -1; // last non-blank line inside the section
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = Content(Text, lines[i]);
        const QString s = SectionOf(line);
        if (!s.isNull()) {
            if (sectionAt >= 0)
                break;
            if (s.compare(Section.trimmed(), Qt::CaseInsensitive) == 0) {
                sectionAt = i;
                lastKeyLine = i;
            }
            continue;
        }
        if (sectionAt < 0)
            continue;
        qsizetype eq = 0;
        if (KeyOf(line, Key, &eq)) {
            // Replace the value only: the key keeps its spelling, the line its line break.
            const qsizetype lineStart = lines[i].Start;
            const QStringView raw = QStringView(Text).mid(lineStart, lines[i].End - lineStart);
            const qsizetype rawEq = raw.indexOf(u'=');
            return Text.left(lineStart + rawEq + 1) + Value + Text.mid(lines[i].End);
        }
        if (!line.isEmpty())
            lastKeyLine = i;
    }
    const QString newLine = Key.trimmed() + u'=' + Value;
    if (sectionAt >= 0) {
        const TLine &after = lines[lastKeyLine];
        // The last line of the text may lack a line break: give it one before adding ours.
        if (after.NextAt == Text.size() && !Text.endsWith(u'\n'))
            return Text + br + newLine + br;
        return Text.left(after.NextAt) + newLine + br + Text.mid(after.NextAt);
    }
    QString out = Text;
    if (!out.isEmpty() && !out.endsWith(u'\n'))
        out += br;
    if (!out.isEmpty() && !lines.isEmpty() && !Content(Text, lines.back()).isEmpty())
        out += br;
    return out + u'[' + Section.trimmed() + u']' + br + newLine + br;
}

} // namespace initext
