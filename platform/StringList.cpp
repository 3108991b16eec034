#include "platform/StringList.h"

int TStringList::Add(const QString &Line) {
    FStrings.append(Line);
    return Count() - 1;
}

QString TStringList::Names(int Index) const {
    const QString &line = FStrings.at(Index);
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? line : line.left(eq);
}

QString TStringList::ValueFromIndex(int Index) const {
    const QString &line = FStrings.at(Index);
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : line.mid(eq + 1);
}

int TStringList::IndexOfName(const QString &Name) const {
    for (int i = 0; i < Count(); ++i) {
        const QString &line = FStrings.at(i);
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(Name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString TStringList::Values(const QString &Name) const {
    const int i = IndexOfName(Name);
    return i < 0 ? QString() : ValueFromIndex(i);
}

void TStringList::SetValues(const QString &Name, const QString &Value) {
    const int i = IndexOfName(Name);
    if (Value.isEmpty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    const QString line = Name + u'=' + Value;
    if (i >= 0)
        FStrings[i] = line;
    else
        FStrings.append(line);
}
