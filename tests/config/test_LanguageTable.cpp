// The interface language table: the shipped table's layout and completeness in all six languages,
// its bytes, the lookup rules (case, first key, fallbacks) and the message texts with the FAQ sentence.

#include "config/LanguageTable.h"
#include "platform/ServiceEndpoints.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const QStringList kSections = {QStringLiteral("english"),   QStringLiteral("русский"), QStringLiteral("український"),
                               QStringLiteral("française"), QStringLiteral("español"), QStringLiteral("deutsch")};

const QStringList kHeadings = {
    QStringLiteral("// menu"),
    QStringLiteral("// proxy check :: proxy tests"),
    QStringLiteral("// proxy check :: settings"),
    QStringLiteral("// proxy check :: filter options"),
    QStringLiteral("// proxy check :: buttons"),
    QStringLiteral("// proxy check :: table columns"),
    QStringLiteral("// preferences :: vip service"),
    QStringLiteral("// preferences :: 3rd party service"),
    QStringLiteral("// preferences :: general settings"),
    QStringLiteral("// preferences :: buttons"),
    QStringLiteral("// manage proxy list :: buttons"),
};

// Every key a window of the program reads; a misspelt key in the table would silently show the
// fallback text in that window.
const char *const kWindowKeys[] = {
    // tray menu
    "SelectProxy", "EditProxy", "SwitchProxy", "DeleteProxy", "EnableProxy", "DisableProxy", "LoadBtn",
    "PreferencesBtn", "AboutBtn", "TestProxyBtn", "ExitBtn",
    // preferences
    "Options_GroupVIP", "Options_GroupGeneral", "Options_Country", "Options_Port", "Options_Type", "Options_SSL",
    "Options_MiniSpped", "Options_MiniUpTime", "Options_MiniUpTimeH", "Options_TimeIntaval", "Options_GroupOther",
    "Options_AutoDownload", "Options_AutoSwitch", "Options_RemoveProxySwitch", "Options_GroupSort",
    "Options_GroupSort1", "Options_GroupSort2", "Options_GroupSort3", "Options_KeepHistory", "Options_UseLocalProxy",
    "Options_URL", "Options_Browser", "Options_Languag", "Btn_ClearHostory", "OKBtn", "sTitlePreferences",
    // proxy checker
    "ProxyIsBotnet", "Options_POST_GET", "Options_MaxPing", "Tests_Threads", "Tests_TimeOutBasic", "Tests_TimeOutSpeed",
    "Tests_Tests", "Tests_Speed", "Tests_Botnet", "Tests_Info", "Tests_SSL", "Tests_Cancel", "Tests_Save",
    "Tests_DelDead", "Tests_Stop", "Tests_Start", "Tests_Reset", "Tests_Proxysettings", "Tests_Filter",
    "Tests_TableCol0", "Tests_TableCol1", "Tests_TableCol2", "Tests_TableCol3", "Tests_TableCol4", "Tests_TableCol5",
    "Tests_TableCol6", "Tests_TableCol7", "Tests_TableCol8", "Tests_TableCol9", "sTitleChecker",
    // manage list and warning window
    "BrowseBtn", "SaveBtn", "sTitleManageProxy", "sTitleWarning"};

// The message fields in record order with their keys; the table's last group holds exactly these.
struct TMessageField {
    const char *Key;
    QString TMessageStrings::*Field;
    bool Faq;
};
#define RVN_MSG(name, faq)                                                                                             \
    TMessageField {                                                                                                    \
#name, &TMessageStrings::name, faq                                                                             \
    }
const TMessageField kMessages[] = {RVN_MSG(sTransparent, false),
                                   RVN_MSG(sAnonymous, false),
                                   RVN_MSG(sElite, false),
                                   RVN_MSG(sAlive, false),
                                   RVN_MSG(sDead, false),
                                   RVN_MSG(sYes, false),
                                   RVN_MSG(sNo, false),
                                   RVN_MSG(sPending, false),
                                   RVN_MSG(sChecking, false),
                                   RVN_MSG(sDone, false),
                                   RVN_MSG(sError, false),
                                   RVN_MSG(sCheckinNotFinished, false),
                                   RVN_MSG(sCheckingFinished, false),
                                   RVN_MSG(sLoading, false),
                                   RVN_MSG(sInvalidCustomUrl, false),
                                   RVN_MSG(sSelectCountry, false),
                                   RVN_MSG(sSelectPort, false),
                                   RVN_MSG(sErrorLoadingData, false),
                                   RVN_MSG(sErrorLoadingProxyList, false),
                                   RVN_MSG(sProxyDownloadedTitle, false),
                                   RVN_MSG(sProxyDownloadedMsg, false),
                                   RVN_MSG(sProxyChangedTitle, false),
                                   RVN_MSG(sProxyChangedProxy, false),
                                   RVN_MSG(sProxyChangedCountry, false),
                                   RVN_MSG(sCannotRunTwoCopies, true),
                                   RVN_MSG(sCloseFirefox, true),
                                   RVN_MSG(sCloseOpera, true),
                                   RVN_MSG(sCannotSetupIE, true),
                                   RVN_MSG(sCannotSetupFF, true),
                                   RVN_MSG(sCannotSetupOP, true),
                                   RVN_MSG(sCloseToUpdate, true),
                                   RVN_MSG(sCannotSetupLocalProxy, true)};
#undef RVN_MSG
static_assert(sizeof(kMessages) / sizeof(kMessages[0]) == 32);

// The FAQ sentence of each language, up to the site address.
const QString kFaqSentence[] = {
    QStringLiteral(" For more information please refer to FAQ at "),
    QStringLiteral(" Дополнительные сведения смотрите в FAQ на "),
    QStringLiteral(" Докладніше дивіться у FAQ на "),
    QStringLiteral(" Pour plus d'informations, consultez la FAQ sur "),
    QStringLiteral(" Para más información, consulte las preguntas frecuentes (FAQ) en "),
    QStringLiteral(" Weitere Informationen finden Sie in den FAQ unter "),
};

QByteArray TableBytes() {
    QFile f(QStringLiteral(":/INTERFACE_LANG"));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << "the language table is not embedded";
    return f.readAll();
}

/// The table's text lines, decoded from UTF-16LE after the byte-order mark, split at CR LF.
QStringList TableLines() {
    const QByteArray bytes = TableBytes();
    QStringDecoder decode(QStringConverter::Utf16LE);
    QString text = decode(bytes.mid(2));
    return text.split(QStringLiteral("\r\n"));
}

using TScopedEnv = testsupport::ScopedEnv;

TEST(LanguageTableFile, BytesAreUtf16LeWithBomAndCrLf) {
    const QByteArray bytes = TableBytes();
    ASSERT_GE(bytes.size(), 4);
    EXPECT_EQ(quint8(bytes[0]), 0xFF);
    EXPECT_EQ(quint8(bytes[1]), 0xFE);
    ASSERT_EQ(bytes.size() % 2, 0);
    QStringDecoder decode(QStringConverter::Utf16LE);
    const QString text = decode(bytes.mid(2));
    EXPECT_FALSE(decode.hasError());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[english]\r\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == u'\r') << "bare LF at " << i;
        }
        if (text[i] == u'\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == u'\n') << "bare CR at " << i;
        }
    }
    EXPECT_FALSE(text.contains(QChar(QChar::ReplacementCharacter)));
}

TEST(LanguageTableFile, SectionsHeadingsAndSectionEndsInOrder) {
    const QStringList lines = TableLines();
    QStringList sections;
    QList<QStringList> headings;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &l = lines[i];
        if (l.startsWith(u'[')) {
            sections << l.mid(1, l.size() - 2);
            headings.append(QStringList());
            if (sections.size() > 1) {
                // The section before ends with "//====..." and a blank line.
                ASSERT_GE(i, 2);
                EXPECT_TRUE(lines[i - 1].isEmpty()) << sections.last().toStdString();
                EXPECT_TRUE(lines[i - 2].size() > 2 && lines[i - 2].startsWith(QStringLiteral("//")) &&
                            lines[i - 2].mid(2).count(u'=') == lines[i - 2].size() - 2)
                    << "no section end before " << sections.last().toStdString();
            }
        } else if (l.startsWith(QStringLiteral("//")) && !l.startsWith(QStringLiteral("//="))) {
            ASSERT_FALSE(headings.isEmpty());
            headings.last() << l;
            // Groups are separated by a blank line, except right after the section name.
            if (!lines[i - 1].startsWith(u'[')) {
                EXPECT_TRUE(lines[i - 1].isEmpty()) << l.toStdString();
            }
        }
    }
    EXPECT_EQ(sections, kSections);
    ASSERT_EQ(headings.size(), 6);
    EXPECT_EQ(headings[0], kHeadings);
    for (int s = 1; s < 6; ++s)
        EXPECT_EQ(headings[s], kHeadings.mid(1)) << sections[s].toStdString();
    // The last section has no end line: the text closes with its last message.
    qsizetype last = lines.size() - 1;
    while (last > 0 && lines[last].isEmpty())
        --last;
    EXPECT_TRUE(lines[last].startsWith(QStringLiteral("sCannotSetupLocalProxy")));
}

TEST(LanguageTableFile, EverySectionHoldsTheSameKeys) {
    const TLanguageTable &t = TLanguageTable::Builtin();
    ASSERT_EQ(t.Languages(), kSections);
    const QStringList english = t.Keys(QStringLiteral("english"));
    const QSet<QString> englishSet(english.begin(), english.end());
    for (const char *key : kWindowKeys)
        EXPECT_TRUE(englishSet.contains(QLatin1String(key))) << key;

    // The english section repeats the checker's filter keys in the preferences group; nothing else
    // is repeated anywhere.
    const QStringList repeated = {QStringLiteral("Options_Country"),  QStringLiteral("Options_Port"),
                                  QStringLiteral("Options_Type"),     QStringLiteral("Options_SSL"),
                                  QStringLiteral("Options_POST_GET"), QStringLiteral("Options_MiniSpped"),
                                  QStringLiteral("Options_MaxPing")};
    for (const QString &k : englishSet)
        EXPECT_EQ(english.count(k), repeated.contains(k) ? 2 : 1) << k.toStdString();

    for (const QString &section : kSections) {
        const QStringList keys = t.Keys(section);
        const QSet<QString> set(keys.begin(), keys.end());
        QStringList missing, extra;
        for (const QString &k : englishSet)
            if (!set.contains(k))
                missing << k;
        for (const QString &k : set)
            if (!englishSet.contains(k))
                extra << k;
        EXPECT_TRUE(missing.isEmpty() && extra.isEmpty())
            << section.toStdString() << " lacks: " << missing.join(u' ').toStdString()
            << "; has beyond english: " << extra.join(u' ').toStdString();
        if (section != kSections[0]) {
            EXPECT_EQ(set.size(), keys.size()) << "repeated key in " << section.toStdString();
        }
        // The message keys close every section, in record order.
        ASSERT_GE(keys.size(), 32);
        for (int i = 0; i < 32; ++i)
            EXPECT_EQ(keys[keys.size() - 32 + i], QLatin1String(kMessages[i].Key)) << section.toStdString();
        for (const QString &k : keys) {
            const QString v = t.ReadString(section, k, QStringLiteral("<missing>"));
            EXPECT_FALSE(v.isEmpty()) << section.toStdString() << " " << k.toStdString();
            // A lone "&" would underline the next letter as an accelerator in a caption.
            EXPECT_EQ(QString(v).remove(QStringLiteral("&&")).count(u'&'), 0)
                << section.toStdString() << " " << k.toStdString();
        }
        for (const char *k : {"Options_POST_GET", "Tests_TableCol5"})
            EXPECT_TRUE(t.ReadString(section, QLatin1String(k), QString()).contains(QStringLiteral("&&")))
                << section.toStdString() << " " << k;
    }
}

struct TLookupCase {
    const char *Language, *Key, *Fallback, *Expected;
};

TEST(LanguageTableLookup, CaseFirstKeyAndFallbacks) {
    const TLookupCase cases[] = {
        // The preferences repeat of Options_SSL comes second: the checker's wording counts.
        {"english", "Options_SSL", "Support SSL/HTTPS", "Supports SSL/HTTPS"},
        {"english", "Options_Country", " Proxy Country", "Proxy country"},
        {"English", "TestProxyBtn", "Test Proxy....", "Proxy checker"},
        {"ENGLISH", "testproxybtn", "Test Proxy....", "Proxy checker"},
        {"deutsch", "sTitlePreferences", "Preferences", "Einstellungen"},
        {"Deutsch", "ExitBtn", "Exit", "Beenden"},
        {"РУССКИЙ", "ExitBtn", "Exit", "Выход"},
        {"Française", "sYes", "Yes", "Oui"},
        {"español", "Tests_TableCol0", "Country", "País"},
        {"український", "sTitleWarning", "Warning", "Попередження"},
        // Unknown languages and keys give the caller's fallback.
        {"klingon", "TestProxyBtn", "Test Proxy....", "Test Proxy...."},
        {"klingon", "OKBtn", "OK", "OK"},
        {"", "OKBtn", "OK", "OK"},
        {"english", "TesatProxyBtnHint", "Proxy checker", "Proxy checker"},
        {"english", "NoSuchKey", "", ""},
        // A section-end line is a comment, never a key.
        {"english", "//", "fallback", "fallback"},
    };
    const TLanguageTable &t = TLanguageTable::Builtin();
    for (const TLookupCase &c : cases)
        EXPECT_EQ(t.ReadString(QString::fromUtf8(c.Language), QString::fromUtf8(c.Key), QString::fromUtf8(c.Fallback)),
                  QString::fromUtf8(c.Expected))
            << c.Language << " / " << c.Key;
}

TEST(LanguageTableLookup, TextRulesOnSmallTables) {
    auto utf16le = [](const QString &Text) {
        QByteArray b("\xFF\xFE", 2);
        for (QChar c : Text)
            b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return b;
    };
    const QString text = QStringLiteral("\t[ Alpha ]\r\n"
                                        "// K = from a comment\r\n"
                                        "\t K \t=\t first value \t\r\n"
                                        "k = second value\r\n"
                                        "Empty =\r\n"
                                        "no equals sign\r\n"
                                        "[alpha]\r\n"
                                        "Other = later section of the same name\r\n"
                                        "[Beta]\r\n"
                                        "K = beta\r\n");
    const TLanguageTable fromUtf16 = TLanguageTable::FromBytes(utf16le(text));
    const TLanguageTable fromUtf8 = TLanguageTable::FromBytes(text.toUtf8());
    for (const TLanguageTable *t : {&fromUtf16, &fromUtf8}) {
        EXPECT_EQ(t->ReadString(QStringLiteral("ALPHA"), QStringLiteral("k"), QStringLiteral("fb")),
                  QStringLiteral("first value"));
        // A key written with an empty value is there: it gives the empty text, not the fallback.
        EXPECT_EQ(t->ReadString(QStringLiteral("alpha"), QStringLiteral("Empty"), QStringLiteral("fb")), QString());
        EXPECT_EQ(t->ReadString(QStringLiteral("alpha"), QStringLiteral("Other"), QStringLiteral("fb")),
                  QStringLiteral("fb"));
        EXPECT_EQ(t->ReadString(QStringLiteral("beta"), QStringLiteral("K"), QStringLiteral("fb")),
                  QStringLiteral("beta"));
        EXPECT_EQ(t->Languages(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
    }
    // Bytes that are no table at all give an empty table, and with it every fallback.
    const TLanguageTable junk = TLanguageTable::FromBytes(QByteArray("\x00\xFF\x01garbage", 10));
    EXPECT_EQ(junk.ReadString(QStringLiteral("english"), QStringLiteral("ExitBtn"), QStringLiteral("Exit")),
              QStringLiteral("Exit"));
}

TEST(LanguageTableMessages, EveryLanguageFillsAllFieldsFromItsKeys) {
    TScopedEnv env("RELAYVANE_SERVICE", nullptr);
    const TLanguageTable &t = TLanguageTable::Builtin();
    const QString site = ServiceEndpoints::DefaultServiceBaseUrl() + u'/';
    EXPECT_EQ(QLatin1String(kLanguageTableSiteAddress) + u'/', site) << "the table names another default site";
    for (int s = 0; s < 6; ++s) {
        const TMessageStrings ms = LoadMessageStrings(kSections[s]);
        QSet<QString> distinct;
        for (const TMessageField &f : kMessages) {
            const QString &v = ms.*(f.Field);
            EXPECT_EQ(v, t.ReadString(kSections[s], QLatin1String(f.Key), QString())) << f.Key;
            EXPECT_EQ(v.endsWith(kFaqSentence[s] + site), f.Faq) << kSections[s].toStdString() << " " << f.Key;
            distinct.insert(v);
        }
        // No two messages share a text: a pasted duplicate would show the wrong message.
        EXPECT_EQ(distinct.size(), 32) << kSections[s].toStdString();
    }
    const TMessageStrings en = LoadMessageStrings(QStringLiteral("English"));
    EXPECT_EQ(en.sTransparent, QStringLiteral("Transparent"));
    EXPECT_EQ(en.sCannotRunTwoCopies,
              QStringLiteral("You cannot run two copies of that program. For more information please refer to FAQ at "
                             "http://127.0.0.1:8731/"));
    EXPECT_EQ(LoadMessageStrings(QStringLiteral("deutsch")).sYes, QStringLiteral("Ja"));
}

TEST(LanguageTableMessages, UnknownLanguageGivesTheEnglishFallbacks) {
    TScopedEnv env("RELAYVANE_SERVICE", nullptr);
    const TMessageStrings ms = LoadMessageStrings(QStringLiteral("klingon"));
    EXPECT_EQ(ms.sElite, QStringLiteral("Elite"));
    EXPECT_EQ(ms.sErrorLoadingData, QStringLiteral("Cannot loading data from server"));
    EXPECT_EQ(ms.sCloseOpera, QStringLiteral("To do this operaton, please close Opera browser first. For more "
                                             "information please refer to FAQ at http://127.0.0.1:8731/"));
    // The fallback of this one closes its own sentence with "!" where the table has ".".
    EXPECT_EQ(ms.sCannotSetupLocalProxy,
              QStringLiteral("Cannot setup local proxy server. Make sure that you entered values in proper format, "
                             "following two formats are allowed: ip:port and user:pass@ip:port! For more information "
                             "please refer to FAQ at http://127.0.0.1:8731/"));
    // Every field has a text: the fallbacks equal the english table except that one "!".
    const TMessageStrings en = LoadMessageStrings(QStringLiteral("english"));
    for (const TMessageField &f : kMessages) {
        if (QLatin1String(f.Key) != QLatin1String("sCannotSetupLocalProxy")) {
            EXPECT_EQ(ms.*(f.Field), en.*(f.Field)) << f.Key;
        }
    }
}

TEST(LanguageTableMessages, FaqSentenceNamesTheCurrentSite) {
    TScopedEnv env("RELAYVANE_SERVICE", "http://127.0.0.2:9000/");
    for (const QString &language : {QStringLiteral("español"), QStringLiteral("klingon")}) {
        const TMessageStrings ms = LoadMessageStrings(language);
        for (const TMessageField &f : kMessages) {
            const QString &v = ms.*(f.Field);
            if (f.Faq) {
                EXPECT_TRUE(v.endsWith(QStringLiteral(" http://127.0.0.2:9000/"))) << v.toStdString();
                EXPECT_FALSE(v.contains(QStringLiteral("8731"))) << v.toStdString();
            }
        }
    }
}

TEST(LanguageTableMessages, WindowTitleCarriesTheVersion) {
    EXPECT_EQ(WindowTitle(QStringLiteral("Preferences")), QStringLiteral("Preferences - RVN 3.1.3"));
    EXPECT_EQ(WindowTitle(TLanguageTable::Builtin().ReadString(QStringLiteral("deutsch"),
                                                               QStringLiteral("sTitleChecker"), QString())),
              QStringLiteral("Proxyprüfung - RVN 3.1.3"));
}

} // namespace
