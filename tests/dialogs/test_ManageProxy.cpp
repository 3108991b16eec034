// The manage-list dialog: the memo, saving through the list parser, loading a file.

#include "dialogs/ManageProxy.h"
#include "tests/dialogs/DialogsTestSupport.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dialogtests;

namespace {

QStringList Addresses(const TProxyCollection &List) {
    QStringList out;
    for (int i = 0; i < List.Count(); ++i)
        out << List.Items(i)->IP() + u':' + QString::number(List.Items(i)->Port());
    return out;
}

class ManageProxyDialog : public ::testing::Test {
protected:
    ManageProxyDialog() {
        Dlg.SetOnWarning([this](const QString &Msg) { Warnings << Msg; });
        Dlg.OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    }
    void SetMemo(const QString &Text) { Dlg.ProxyListMemo->setPlainText(Text); }
    /// Browse, and in the file dialog choose File (empty: cancel).
    void Browse(const QString &File) {
        WhenShown(Dlg.OpenDialog1, [this, File] {
            if (File.isEmpty()) {
                Dlg.OpenDialog1->reject();
                return;
            }
            // Typed into the dialog's file name box, as a user may do.
            if (auto *name = Dlg.OpenDialog1->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(File);
            static_cast<QDialog *>(Dlg.OpenDialog1)
                ->done(QDialog::Accepted); // the Open button, without waiting for the folder scan
        });
        Dlg.BtnBrowse->click();
    }

    TLoadProxy Dlg;
    QStringList Warnings;
};

TEST_F(ManageProxyDialog, OpeningAndSavingWithoutEditsKeepsTheProxies) {
    TProxyCollection user;
    user.SetNoDuplicates(true);
    user.Add(QString(), QString(), 0, QStringLiteral("10.1.2.3"), 8080);
    user.Add(QString(), QString(), 0, QStringLiteral("8.8.4.4"), 3128);
    Dlg.FillMemo(user);
    EXPECT_EQ(Dlg.ProxyListMemo->toPlainText(), "10.1.2.3:8080\n8.8.4.4:3128");
    Dlg.show();
    Dlg.OKBtn->click();
    EXPECT_EQ(Dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Addresses(*Dlg.ProxyList), (QStringList{"10.1.2.3:8080", "8.8.4.4:3128"}));
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(ManageProxyDialog, SavingTakesWhatTheParserRecognisesOnceEach) {
    struct TCase {
        const char *Name;
        QString Memo;
        QStringList Expected;
    } cases[] = {
        {"duplicate lines", QStringLiteral("1.2.3.4:80\n1.2.3.4:80\n5.6.7.8:8080"), {"1.2.3.4:80", "5.6.7.8:8080"}},
        {"text around the addresses", QStringLiteral("прокси 1.2.3.4:80 быстрый\n# comment"), {"1.2.3.4:80"}},
        {"nothing recognisable", QStringLiteral("no proxies here"), {}},
        {"empty", QString(), {}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Dlg.show();
        SetMemo(c.Memo);
        Dlg.OKBtnClick();
        EXPECT_EQ(Dlg.result(), QDialog::Accepted);
        EXPECT_EQ(Addresses(*Dlg.ProxyList), c.Expected);
    }
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(ManageProxyDialog, AParseErrorKeepsTheDialogOpenAndTheListAsItWasWithAClearMessage) {
    Dlg.show();
    SetMemo(QStringLiteral("9.9.9.9:99"));
    Dlg.OKBtnClick();
    ASSERT_EQ(Addresses(*Dlg.ProxyList), QStringList{"9.9.9.9:99"});
    const QString bad[] = {QStringLiteral("1.2.3.4::8080"), QStringLiteral("1.2.3.4 port 8080"),
                           QStringLiteral("<td>1.2.3.4</td><td>8080</td>")};
    for (const QString &text : bad) {
        SCOPED_TRACE(text.toStdString());
        Warnings.clear();
        Dlg.show();
        Dlg.setResult(QDialog::Rejected);
        SetMemo(text);
        Dlg.OKBtn->click();
        EXPECT_TRUE(Dlg.isVisible());
        EXPECT_NE(Dlg.result(), QDialog::Accepted);
        ASSERT_EQ(Warnings.size(), 1);
        // The message names the entry that could not be read.
        EXPECT_TRUE(Warnings[0].contains(QStringLiteral("1.2.3.4"))) << Warnings[0].toStdString();
        EXPECT_EQ(Addresses(*Dlg.ProxyList), QStringList{"9.9.9.9:99"});
        EXPECT_EQ(Dlg.ProxyListMemo->toPlainText(), text); // the user's text is not lost
    }
}

TEST_F(ManageProxyDialog, BrowseLoadsTheChosenFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("proxies.csv"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("1.2.3.4:80\r\n5.6.7.8:8080\r\n");
    f.close();
    Dlg.show();
    Browse(path);
    EXPECT_EQ(Dlg.ProxyListMemo->toPlainText(), "1.2.3.4:80\n5.6.7.8:8080\n");
    Dlg.OKBtnClick();
    EXPECT_EQ(Addresses(*Dlg.ProxyList), (QStringList{"1.2.3.4:80", "5.6.7.8:8080"}));
}

TEST_F(ManageProxyDialog, FilesAreReadInTheirEncoding) {
    QTemporaryDir dir;
    struct TCase {
        const char *Name;
        QByteArray Bytes;
        QString Expected;
    } cases[] = {
        {"utf-8 without mark", QByteArray("1.2.3.4:80\r\n# сервер\r\n"), QStringLiteral("1.2.3.4:80\n# сервер\n")},
        {"utf-8 with mark", QByteArray("\xEF\xBB\xBF") + "5.6.7.8:8080\n", QStringLiteral("5.6.7.8:8080\n")},
        {"utf-16 with mark",
         QByteArray("\xFF\xFE", 2) + QByteArray("1\0.\0"
                                                "2\0.\0"
                                                "3\0.\0"
                                                "4\0:\0"
                                                "8\0"
                                                "0\0",
                                                20),
         QStringLiteral("1.2.3.4:80")},
        {"latin-1 bytes", QByteArray("1.2.3.4:80 caf\xE9"), QStringLiteral("1.2.3.4:80 café")},
    };
    int n = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.filePath(QStringLiteral("list%1.txt").arg(++n));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.Bytes);
        f.close();
        EXPECT_TRUE(Dlg.LoadFile(path));
        EXPECT_EQ(Dlg.ProxyListMemo->toPlainText(), c.Expected);
    }
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(ManageProxyDialog, BrowseThenCancelLeavesTheMemoAndListEmpty) {
    Dlg.show();
    SetMemo(QStringLiteral("1.2.3.4:80"));
    Dlg.OKBtnClick();
    Dlg.show();
    Browse(QString());
    EXPECT_TRUE(Dlg.ProxyListMemo->toPlainText().isEmpty());
    EXPECT_EQ(Dlg.ProxyList->Count(), 0);
    EXPECT_TRUE(Warnings.isEmpty());
}

TEST_F(ManageProxyDialog, AnUnreadableFileIsReportedAndTheMemoStaysEmpty) {
    QTemporaryDir dir;
    SetMemo(QStringLiteral("1.2.3.4:80"));
    EXPECT_FALSE(Dlg.LoadFile(dir.filePath(QStringLiteral("missing.txt"))));
    EXPECT_TRUE(Dlg.ProxyListMemo->toPlainText().isEmpty());
    ASSERT_EQ(Warnings.size(), 1);
    EXPECT_TRUE(Warnings[0].contains(QStringLiteral("missing.txt")));
}

TEST_F(ManageProxyDialog, TextsAndTitleFollowTheLanguageAtEachShowing) {
    Dlg.SetLanguage(QStringLiteral("english"));
    Dlg.show();
    EXPECT_EQ(Dlg.windowTitle(), "Manage proxy servers - RVN 3.1.3");
    EXPECT_EQ(Dlg.OKBtn->text(), "Save changes");
    EXPECT_EQ(Dlg.BtnBrowse->text(), "Browse file");
    Dlg.hide();
    Dlg.SetLanguage(QStringLiteral("no such language"));
    Dlg.show();
    EXPECT_EQ(Dlg.OKBtn->text(), "OK");
    EXPECT_EQ(Dlg.BtnBrowse->text(), "Browse");
}

} // namespace
