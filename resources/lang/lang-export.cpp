// relayvane-lang-export: turns the UTF-8 source of the interface language table into the bytes the
// program embeds as ":/INTERFACE_LANG": UTF-16 little-endian with the byte-order mark FF FE and
// CR LF line ends. The source stays UTF-8 with LF so that it reads and diffs well in git.
//
// usage: relayvane-lang-export SOURCE.ini OUTPUT

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringDecoder>

#include <cstdio>
#include <cstring>

namespace {

void Usage(FILE *To) {
    std::fputs("usage: relayvane-lang-export SOURCE OUTPUT\n"
               "Converts the UTF-8 language table SOURCE (LF or CR LF line ends) into OUTPUT:\n"
               "UTF-16LE with byte-order mark FF FE and CR LF line ends.\n",
               To);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc != 3) {
        Usage(stderr);
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "relayvane-lang-export: cannot read %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    const QByteArray bytes = in.readAll();
    QStringDecoder decode(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = decode(bytes);
    if (decode.hasError()) {
        // A broken byte would turn into U+FFFD in every language's captions; refuse it here instead.
        std::fprintf(stderr, "relayvane-lang-export: %s is not valid UTF-8\n", argv[1]);
        return 1;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\n', QLatin1String("\r\n"));

    QByteArray out("\xFF\xFE", 2);
    out.reserve(2 + text.size() * 2);
    for (const QChar c : std::as_const(text)) {
        const char16_t u = c.unicode();
        out.append(char(u & 0xFF));
        out.append(char(u >> 8));
    }
    QSaveFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        std::fprintf(stderr, "relayvane-lang-export: cannot write %s: %s\n", argv[2], qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
