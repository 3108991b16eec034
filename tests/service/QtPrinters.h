#pragma once
// Readable GoogleTest messages for Qt strings (the default printer dumps them as raw bytes).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &Text, std::ostream *Out) { *Out << '"' << Text.toStdString() << '"'; }
inline void PrintTo(const QByteArray &Bytes, std::ostream *Out) { *Out << '"' << Bytes.toStdString() << '"'; }
inline void PrintTo(const QStringList &List, std::ostream *Out) {
    *Out << '{';
    for (qsizetype i = 0; i < List.size(); ++i)
        *Out << (i ? ", " : "") << '"' << List[i].toStdString() << '"';
    *Out << '}';
}
