#include "cli/CliJson.h"

#include <cstdio>

void AppendJsonString(QByteArray &Out, const QString &S) {
    Out += '"';
    for (const QChar c : S) {
        const char16_t u = c.unicode();
        switch (u) {
        case u'"':
            Out += "\\\"";
            break;
        case u'\\':
            Out += "\\\\";
            break;
        case u'\n':
            Out += "\\n";
            break;
        case u'\r':
            Out += "\\r";
            break;
        case u'\t':
            Out += "\\t";
            break;
        case u'\b':
            Out += "\\b";
            break;
        case u'\f':
            Out += "\\f";
            break;
        default:
            // Surrogates are written as escapes one code unit at a time, so a pair stays a pair
            // and a lone half cannot turn into a replacement character.
            if (u < 0x20 || (u >= 0xD800 && u <= 0xDFFF)) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u));
                Out += buf;
            } else if (u < 0x80) {
                Out += static_cast<char>(u);
            } else {
                Out += QString(c).toUtf8();
            }
        }
    }
    Out += '"';
}
