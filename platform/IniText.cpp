#include "platform/IniText.h"

#include <QList>
#include <QStringDecoder>

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

/// V without the spaces and tabs around it. Only these two count as blanks: a value may well
/// start or end with some other white space character that belongs to it.
QStringView TrimBlanks(QStringView V) {
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!V.isEmpty() && blank(V.front()))
        V = V.mid(1);
    while (!V.isEmpty() && blank(V.back()))
        V.chop(1);
    return V;
}

QStringView Content(const QString &Text, const TLine &L) {
    QStringView v = QStringView(Text).mid(L.Start, L.End - L.Start);
    if (L.Start == 0 && v.startsWith(QChar(0xFEFF)))
        v = v.mid(1);
    return TrimBlanks(v);
}

/// The section name of a "[name]" line, or a null string for any other line.
QString SectionOf(QStringView Line) {
    if (Line.size() >= 2 && Line.front() == u'[' && Line.back() == u']')
        return TrimBlanks(Line.mid(1, Line.size() - 2)).toString();
    return QString();
}

bool IsComment(QStringView Line) {
    return Line.startsWith(u';') || Line.startsWith(u'#') || Line.startsWith(u"//");
}

bool KeyOf(QStringView Line, const QString &Key, qsizetype *EqualsAt = nullptr) {
    if (IsComment(Line))
        return false;
    const qsizetype eq = Line.indexOf(u'=');
    if (eq <= 0)
        return false;
    if (TrimBlanks(Line.left(eq)).compare(TrimBlanks(Key), Qt::CaseInsensitive) != 0)
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

QString DecodeText(const QByteArray &Bytes) {
    QStringConverter::Encoding enc = QStringConverter::Utf8;
    if (Bytes.startsWith("\xFF\xFE"))
        enc = QStringConverter::Utf16LE;
    else if (Bytes.startsWith("\xFE\xFF"))
        enc = QStringConverter::Utf16BE;
    // The decoder drops the byte-order mark of its own encoding.
    QStringDecoder decode(enc, QStringConverter::Flag::Default);
    QString text = decode(Bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QList<TIniSection> ParseSections(const QString &Text) {
    QList<TIniSection> sections;
    for (const TLine &l : SplitLines(Text)) {
        const QStringView line = Content(Text, l);
        const QString s = SectionOf(line);
        if (!s.isNull()) {
            sections.append({s, {}});
            continue;
        }
        if (sections.isEmpty() || IsComment(line))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        sections.back().Entries.append({TrimBlanks(line.left(eq)).toString(), TrimBlanks(line.mid(eq + 1)).toString()});
    }
    return sections;
}

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
            inSection = s.compare(TrimBlanks(Section), Qt::CaseInsensitive) == 0;
            seenSection = seenSection || inSection;
            continue;
        }
        qsizetype eq = 0;
        if (inSection && KeyOf(line, Key, &eq)) {
            Value = TrimBlanks(line.mid(eq + 1)).toString();
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
            if (s.compare(TrimBlanks(Section), Qt::CaseInsensitive) == 0) {
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
    const QString newLine = TrimBlanks(Key).toString() + u'=' + Value;
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
    return out + u'[' + TrimBlanks(Section).toString() + u']' + br + newLine + br;
}

} // namespace initext
