#include "dialogs/DialogStyle.h"

#include "config/LanguageTable.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

namespace DialogStyle {

namespace {

// The skin's colours, the same family as the tray menu's dark translucent surface.
constexpr const char *kWindow = "#22262c";
constexpr const char *kText = "#e6e9ed";
constexpr const char *kAccent = "#4da3ff";

// The arrows of lists and spin edits: pictures drawn here in the skin's text colour (a style sheet
// takes arrow pictures from files only), kept in a private folder for the run.
QString ArrowFolder() {
    static QTemporaryDir folder;
    static const bool drawn = [] {
        if (!folder.isValid())
            return false;
        const struct {
            const char *Name;
            bool Up;
            const char *Colour;
        } arrows[] = {
            {"up", true, kText}, {"down", false, kText}, {"up-off", true, "#6b727b"}, {"down-off", false, "#6b727b"}};
        for (const auto &a : arrows) {
            QImage img(9, 6, QImage::Format_ARGB32_Premultiplied);
            img.fill(Qt::transparent);
            QPainter g(&img);
            g.setRenderHint(QPainter::Antialiasing);
            g.setPen(Qt::NoPen);
            g.setBrush(QColor(QString::fromLatin1(a.Colour)));
            const QPointF up[] = {{0, 6}, {9, 6}, {4.5, 0}};
            const QPointF down[] = {{0, 0}, {9, 0}, {4.5, 6}};
            g.drawPolygon(a.Up ? up : down, 3);
            g.end();
            img.save(folder.filePath(QString::fromLatin1(a.Name) + QStringLiteral(".png")));
        }
        return true;
    }();
    return drawn ? folder.path() : QString();
}

QString BuildStyleSheet() {
    const QString arrows = ArrowFolder();
    QString arrowRules;
    if (!arrows.isEmpty())
        arrowRules = QStringLiteral(R"CSS(
QComboBox::down-arrow, QSpinBox::down-arrow { image: url(%1/down.png); width: 9px; height: 6px; }
QSpinBox::up-arrow { image: url(%1/up.png); width: 9px; height: 6px; }
QComboBox::down-arrow:disabled, QSpinBox::down-arrow:disabled { image: url(%1/down-off.png); }
QSpinBox::up-arrow:disabled { image: url(%1/up-off.png); }
QSpinBox::up-button, QSpinBox::down-button { subcontrol-origin: border; width: 16px; border: none; background: transparent; }
QSpinBox::up-button { subcontrol-position: top right; }
QSpinBox::down-button { subcontrol-position: bottom right; }
QSpinBox::up-button:hover, QSpinBox::down-button:hover { background-color: #33404f; }
QSpinBox { padding-right: 18px; }
)CSS")
                         .arg(arrows);
    // The arrows come from the rules above (without their folder, the base style draws them from
    // the dark palette set in Apply); the check marks are plain filled boxes, readable without
    // pictures.
    return QStringLiteral(R"CSS(
QDialog { background-color: #22262c; color: #e6e9ed; }
QWidget { color: #e6e9ed; }
QLabel { background: transparent; }
QLabel:disabled, QCheckBox:disabled, QRadioButton:disabled { color: #8c949e; }

QGroupBox {
    background-color: #2a2f36;
    border: 1px solid #3d444e;
    border-radius: 6px;
    margin-top: 0px;
    padding: 0px;
}
QGroupBox::title { color: #ffffff; font-weight: bold; subcontrol-origin: padding; left: 8px; top: 4px; }
QLabel[rvnCaption="true"] { color: #ffffff; font-weight: bold; }

QLineEdit, QPlainTextEdit, QComboBox, QSpinBox {
    background-color: #1a1d21;
    color: #e6e9ed;
    border: 1px solid #4a525d;
    border-radius: 4px;
    padding: 3px 6px;
    selection-background-color: #3d6fa8;
    selection-color: #ffffff;
}
QPlainTextEdit { font-family: monospace; }
QLineEdit:focus, QPlainTextEdit:focus, QComboBox:focus, QSpinBox:focus { border: 1px solid #4da3ff; }
QLineEdit:disabled, QComboBox:disabled, QSpinBox:disabled, QPlainTextEdit:disabled {
    background-color: #262a30;
    color: #8c949e;
    border: 1px solid #3a4049;
}
QComboBox { padding-right: 22px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: center right; width: 20px; border: none; }
QComboBox QAbstractItemView {
    background-color: #1a1d21;
    color: #e6e9ed;
    border: 1px solid #4a525d;
    selection-background-color: #3d6fa8;
    selection-color: #ffffff;
    outline: 0px;
}

QPushButton {
    background-color: #3a414b;
    color: #ffffff;
    font-weight: bold;
    border: 1px solid #56606c;
    border-radius: 5px;
    padding: 5px 14px;
    min-height: 20px;
}
QPushButton:hover { background-color: #46505c; }
QPushButton:pressed { background-color: #2f353d; }
QPushButton:focus { border: 1px solid #4da3ff; }
QPushButton:default { border: 1px solid #4da3ff; }
QPushButton:disabled { background-color: #2c3138; color: #8c949e; border: 1px solid #3a4049; }

QToolButton { background: transparent; border: 1px solid transparent; border-radius: 4px; padding: 0px; }
QToolButton:hover { background-color: #33404f; }
QToolButton:focus { border: 1px solid #4da3ff; }

QCheckBox, QRadioButton { spacing: 6px; background: transparent; }
QCheckBox::indicator, QRadioButton::indicator {
    width: 13px; height: 13px;
    border: 1px solid #9aa4ae;
    background-color: #1a1d21;
}
QCheckBox::indicator { border-radius: 3px; }
QRadioButton::indicator { border-radius: 7px; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border: 1px solid #4da3ff; }
QCheckBox::indicator:checked { background-color: #4da3ff; border: 1px solid #9fd0ff; }
QRadioButton::indicator:checked {
    border: 1px solid #9fd0ff;
    background-color: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
                                      stop: 0 #ffffff, stop: 0.38 #ffffff, stop: 0.5 #4da3ff, stop: 1 #4da3ff);
}
QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { border: 1px solid #5a626c; }
QCheckBox:focus, QRadioButton:focus { color: #ffffff; }

QGroupBox#sGroupBox1[rvnWarning="true"] { background-color: #eef2f6; border: 1px solid #c3ced8; }
QLabel#wlMessage { color: #1d3a4a; font-weight: bold; }

QToolTip { background-color: #1a1d21; color: #e6e9ed; border: 1px solid #4a525d; }
)CSS") + arrowRules;
}

QPalette DarkPalette() {
    QPalette p;
    const QColor window(kWindow), text(kText), base(QStringLiteral("#1a1d21")), button(QStringLiteral("#3a414b"));
    const QColor dim(QStringLiteral("#8c949e"));
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(QStringLiteral("#262a30")));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(QStringLiteral("#3d6fa8")));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(kAccent));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dim);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim);
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(QStringLiteral("#262a30")));
    return p;
}

} // namespace

const QString &StyleSheet() {
    static const QString sheet = BuildStyleSheet();
    return sheet;
}

void Apply(QWidget *Dialog) {
    Dialog->setPalette(DarkPalette());
    Dialog->setAutoFillBackground(true);
    Dialog->setStyleSheet(StyleSheet());
    Dialog->setProperty("rvnSkin", QString::fromLatin1(SkinName));
}

QIcon GroupStateIcon(bool Open) {
    return QIcon(Open ? QStringLiteral(":/minus") : QStringLiteral(":/plus"));
}

QIcon WarningIcon() {
    return QIcon(QStringLiteral(":/warning"));
}

void CenterOnScreen(QWidget *Window) {
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = Window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        Window->move(frame.topLeft());
    }
}

QString Text(const QString &Language, const char *Key, const char *Fallback) {
    return TLanguageTable::Builtin().ReadString(Language, QString::fromLatin1(Key), QString::fromUtf8(Fallback));
}

QString PlainCaption(const QString &Text) {
    QString s = Text;
    s.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return s;
}

} // namespace DialogStyle
