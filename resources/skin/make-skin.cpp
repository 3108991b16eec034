// Draws the program's own pictures: the skin of the tray menu (frame, item, separator, submenu
// arrow, scrollbar), the menu icons, the rating bars, the tray globe, the checker's state pictures
// and a few small icons. One dark, translucent theme: a blue-grey panel, white strokes, one blue
// accent, green/amber/red only where they carry meaning (ratings, states).
//
// Maintainers run it through make-skin.sh and commit the PNG files; the build only embeds them,
// so the headless build needs no image code.

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QColor Accent(61, 139, 253);
const QColor Green(63, 191, 111);
const QColor Amber(242, 177, 52);
const QColor Red(229, 83, 61);
const QColor Ink(236, 240, 246);

QImage Canvas(int W, int H) {
    QImage I(W, H, QImage::Format_ARGB32_Premultiplied);
    I.fill(Qt::transparent);
    return I;
}

QColor Alpha(QColor C, int A) {
    C.setAlpha(A);
    return C;
}

void Antialias(QPainter &P) {
    P.setRenderHint(QPainter::Antialiasing);
    P.setRenderHint(QPainter::SmoothPixmapTransform);
}

// Three state frames side by side (normal, hover, pressed), each drawn by Draw(painter, state).
QImage Frames(int FrameW, int H, const std::function<void(QPainter &, int)> &Draw) {
    QImage I = Canvas(FrameW * 3, H);
    for (int State = 0; State < 3; ++State) {
        QPainter P(&I);
        Antialias(P);
        P.setClipRect(State * FrameW, 0, FrameW, H);
        P.translate(State * FrameW, 0);
        Draw(P, State);
    }
    return I;
}

QImage WindowFrame() {
    QImage I = Canvas(400, 800);
    QPainter P(&I);
    Antialias(P);
    // A soft shadow: stacked rounded rectangles fading outwards.
    for (int K = 0; K < 10; ++K) {
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0, 0, 0, 9));
        P.drawRoundedRect(QRectF(K, K + 2, 400 - 2 * K, 800 - 2 * K - 2), 18, 18);
    }
    const QRectF Panel(10.5, 9.5, 379, 779);
    QLinearGradient Fill(0, 10, 0, 790);
    Fill.setColorAt(0, QColor(44, 50, 63, 238));
    Fill.setColorAt(0.06, QColor(33, 38, 48, 236));
    Fill.setColorAt(1, QColor(22, 25, 32, 240));
    P.setBrush(Fill);
    P.setPen(QPen(QColor(255, 255, 255, 44), 1));
    P.drawRoundedRect(Panel, 14, 14);
    // A thin accent line under the top edge gives the panel its colour.
    QLinearGradient Line(30, 0, 370, 0);
    Line.setColorAt(0, Alpha(Accent, 0));
    Line.setColorAt(0.5, Alpha(Accent, 200));
    Line.setColorAt(1, Alpha(Accent, 0));
    P.setPen(QPen(QBrush(Line), 2));
    P.drawLine(QPointF(30, 12), QPointF(370, 12));
    return I;
}

QImage MenuItem() {
    return Frames(5, 5, [](QPainter &P, int State) {
        P.setRenderHint(QPainter::Antialiasing, false);
        if (State == 0)
            return; // items lie straight on the panel
        const QColor Edge = State == 1 ? Alpha(Accent, 235) : Alpha(Accent, 150);
        const QColor Body = State == 1 ? Alpha(Accent, 190) : Alpha(Accent, 60);
        P.fillRect(0, 0, 5, 5, Body);
        P.setPen(Edge);
        P.drawRect(0, 0, 4, 4);
        // Rounded look: the outermost corner pixels fade.
        P.setCompositionMode(QPainter::CompositionMode_Source);
        for (QPoint C : {QPoint(0, 0), QPoint(4, 0), QPoint(0, 4), QPoint(4, 4)})
            P.fillRect(C.x(), C.y(), 1, 1, Alpha(Edge, Edge.alpha() / 3));
    });
}

QImage MenuSeparator() {
    QImage I = Canvas(5, 2);
    QPainter P(&I);
    P.fillRect(0, 0, 5, 1, QColor(255, 255, 255, 40));
    P.fillRect(0, 1, 5, 1, QColor(0, 0, 0, 60));
    return I;
}

QImage MenuArrow() {
    return Frames(14, 14, [](QPainter &P, int State) {
        const QColor C = State == 2 ? Accent : (State == 0 ? Ink : Alpha(Ink, 190));
        P.setPen(QPen(C, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        P.drawPolyline(QPolygonF({QPointF(5, 3.5), QPointF(9, 7), QPointF(5, 10.5)}));
    });
}

QImage ScrollButton(bool Up) {
    return Frames(13, 20, [Up](QPainter &P, int State) {
        if (State > 0) {
            P.setPen(Qt::NoPen);
            // The pressed frame is solid: its shape is where the button takes clicks.
            P.setBrush(State == 2 ? Alpha(Accent, 235) : QColor(255, 255, 255, 40));
            P.drawRoundedRect(QRectF(0.5, 2.5, 12, 15), 4, 4);
        }
        P.setPen(Qt::NoPen);
        P.setBrush(State == 0 ? Alpha(Ink, 150) : Ink);
        const qreal Tip = Up ? 7 : 13, Base = Up ? 13 : 7;
        P.drawPolygon(QPolygonF({QPointF(6.5, Tip), QPointF(10, Base), QPointF(3, Base)}));
    });
}

QImage ScrollElevator() {
    return Frames(13, 30, [](QPainter &P, int State) {
        P.setPen(Qt::NoPen);
        P.setBrush(State == 0 ? QColor(255, 255, 255, 100) : State == 1 ? QColor(255, 255, 255, 175) : Accent);
        // Two pixels right of the frame's centre: the menu puts the thumb two pixels left of the
        // buttons, so this lines it up with their arrows.
        P.drawRoundedRect(QRectF(5, 1, 7, 28), 3.5, 3.5);
    });
}

QImage ScrollBackground() {
    QImage I = Canvas(13, 1);
    QPainter P(&I);
    P.fillRect(5, 0, 3, 1, QColor(255, 255, 255, 26));
    return I;
}

// The globe: a shaded sphere with meridians turned by Phase (0 ... 1 is one turn of 90 degrees,
// after which the pattern repeats).
QImage Globe(double Phase, bool Grey) {
    QImage I = Canvas(16, 16);
    QPainter P(&I);
    Antialias(P);
    const QPointF C(8, 8);
    const double R = 7;
    QRadialGradient Sea(QPointF(6, 5.5), 9);
    Sea.setColorAt(0, Grey ? QColor(190, 190, 190) : QColor(120, 185, 255));
    Sea.setColorAt(1, Grey ? QColor(95, 95, 95) : QColor(25, 85, 190));
    P.setPen(QPen(Grey ? QColor(70, 70, 70) : QColor(15, 55, 130), 1));
    P.setBrush(Sea);
    P.drawEllipse(C, R, R);
    QPainterPath Clip;
    Clip.addEllipse(C, R - 0.5, R - 0.5);
    P.setClipPath(Clip);
    const QColor Wire = Grey ? QColor(235, 235, 235, 150) : QColor(225, 240, 255, 170);
    P.setPen(QPen(Wire, 0.9));
    P.setBrush(Qt::NoBrush);
    for (double Lat : {-0.5, 0.0, 0.5}) {
        const double Y = C.y() - R * Lat;
        const double Half = R * qSqrt(1 - Lat * Lat);
        P.drawLine(QPointF(C.x() - Half, Y), QPointF(C.x() + Half, Y));
    }
    for (int K = 0; K < 4; ++K) {
        const double Lon = (K * 45.0 + Phase * 45.0) * M_PI / 180.0 - M_PI / 2;
        QPolygonF Curve;
        for (int S = -12; S <= 12; ++S) {
            const double Phi = S * M_PI / 24;
            Curve << QPointF(C.x() + R * qCos(Phi) * qSin(Lon), C.y() - R * qSin(Phi));
        }
        P.drawPolyline(Curve);
    }
    return I;
}

QImage Rating(int Step) {
    QImage I = Canvas(100, 18);
    QPainter P(&I);
    Antialias(P);
    const QColor On = Step <= 3 ? Red : Step <= 6 ? Amber : Green;
    P.setPen(Qt::NoPen);
    for (int K = 0; K < 10; ++K) {
        P.setBrush(K < Step ? On : QColor(255, 255, 255, 38));
        P.drawRoundedRect(QRectF(1 + K * 10, 5, 8, 8), 2, 2);
    }
    return I;
}

using TIcon = std::function<void(QPainter &)>;

QImage Icon(int Size, const TIcon &Draw) {
    QImage I = Canvas(Size, Size);
    QPainter P(&I);
    Antialias(P);
    Draw(P);
    return I;
}

QPen Stroke(const QColor &C, double W = 1.8) {
    return QPen(C, W, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Draws a round badge in Colour with a slightly lighter rim.
void Badge(QPainter &P, const QColor &Colour, const QRectF &R = QRectF(2, 2, 18, 18)) {
    P.setPen(QPen(Colour.lighter(130), 1));
    P.setBrush(Colour);
    P.drawEllipse(R);
}

void Arrowhead(QPainter &P, QPointF Tip, double AngleDeg, double Len) {
    const double A = qDegreesToRadians(AngleDeg);
    P.drawLine(Tip, Tip + QPointF(qCos(A + 2.6) * Len, qSin(A + 2.6) * Len));
    P.drawLine(Tip, Tip + QPointF(qCos(A - 2.6) * Len, qSin(A - 2.6) * Len));
}

std::vector<std::pair<QString, QImage>> MenuIcons() {
    std::vector<std::pair<QString, QImage>> Out;
    // 0 "locale": the proxy list, a globe.
    Out.emplace_back("locale", Icon(22, [](QPainter &P) {
                         const QImage G =
                             Globe(0.3, false).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                         P.drawImage(1, 1, G);
                     }));
    // 1 "fileshare": manage the list, a sheet with lines.
    Out.emplace_back("fileshare", Icon(22, [](QPainter &P) {
                         P.setPen(Stroke(Ink, 1.4));
                         P.setBrush(QColor(255, 255, 255, 30));
                         P.drawRoundedRect(QRectF(4.5, 2.5, 13, 17), 2, 2);
                         P.setPen(Stroke(Accent, 1.6));
                         for (double Y : {7.0, 11.0, 15.0})
                             P.drawLine(QPointF(7.5, Y), QPointF(14.5, Y));
                     }));
    // 2 "agt reload": switch, two turning arrows.
    Out.emplace_back("agt reload", Icon(22, [](QPainter &P) {
                         P.setPen(Stroke(Green, 2));
                         P.drawArc(QRectF(4, 4, 14, 14), 30 * 16, 150 * 16);
                         P.drawArc(QRectF(4, 4, 14, 14), 210 * 16, 150 * 16);
                         Arrowhead(P, QPointF(17.1, 7.5), 110, 4);
                         Arrowhead(P, QPointF(4.9, 14.5), -70, 4);
                     }));
    // 3 "x": delete, a red cross.
    Out.emplace_back("x", Icon(22, [](QPainter &P) {
                         Badge(P, Red);
                         P.setPen(Stroke(Qt::white, 2.2));
                         P.drawLine(QPointF(7.5, 7.5), QPointF(14.5, 14.5));
                         P.drawLine(QPointF(14.5, 7.5), QPointF(7.5, 14.5));
                     }));
    // 4 "cache": enable/disable, a power symbol.
    Out.emplace_back("cache", Icon(22, [](QPainter &P) {
                         P.setPen(Stroke(Amber, 2.2));
                         P.drawArc(QRectF(4, 4.5, 14, 14), 125 * 16, 290 * 16);
                         P.drawLine(QPointF(11, 3), QPointF(11, 10.5));
                     }));
    // 5 "agt update drivers": download, an arrow into a tray.
    Out.emplace_back(
        "agt update drivers", Icon(22, [](QPainter &P) {
            P.setPen(Stroke(Accent, 2.2));
            P.drawLine(QPointF(11, 3), QPointF(11, 13.5));
            Arrowhead(P, QPointF(11, 14), 90, 5);
            P.setPen(Stroke(Ink, 1.8));
            P.drawPolyline(QPolygonF({QPointF(4, 14), QPointF(4, 18.5), QPointF(18, 18.5), QPointF(18, 14)}));
        }));
    // 6 "agt action success": test, a check mark.
    Out.emplace_back("agt action success", Icon(22, [](QPainter &P) {
                         Badge(P, Green);
                         P.setPen(Stroke(Qt::white, 2.2));
                         P.drawPolyline(QPolygonF({QPointF(6.5, 11.5), QPointF(9.5, 14.5), QPointF(15.5, 7.5)}));
                     }));
    // 7 "package utilities": preferences, a gear.
    Out.emplace_back("package utilities", Icon(22, [](QPainter &P) {
                         P.setPen(Qt::NoPen);
                         P.setBrush(QColor(200, 208, 220));
                         P.translate(11, 11);
                         for (int K = 0; K < 8; ++K) {
                             P.drawRoundedRect(QRectF(-1.8, -9.5, 3.6, 5), 1, 1);
                             P.rotate(45);
                         }
                         P.drawEllipse(QPointF(0, 0), 6.5, 6.5);
                         P.setCompositionMode(QPainter::CompositionMode_Clear);
                         P.drawEllipse(QPointF(0, 0), 2.6, 2.6);
                     }));
    // 8 "agt login": about, an information badge.
    Out.emplace_back("agt login", Icon(22, [](QPainter &P) {
                         Badge(P, Accent);
                         P.setPen(Qt::NoPen);
                         P.setBrush(Qt::white);
                         P.drawEllipse(QPointF(11, 6.8), 1.5, 1.5);
                         P.drawRoundedRect(QRectF(9.7, 9.3, 2.6, 7.5), 1, 1);
                     }));
    // 9 "exit": a door with an arrow leaving it.
    Out.emplace_back("exit", Icon(22, [](QPainter &P) {
                         P.setPen(Stroke(Ink, 1.6));
                         P.setBrush(QColor(255, 255, 255, 25));
                         P.drawPolyline(QPolygonF({QPointF(12, 6), QPointF(12, 3), QPointF(4, 3), QPointF(4, 19),
                                                   QPointF(12, 19), QPointF(12, 16)}));
                         P.setPen(Stroke(Red, 2.2));
                         P.drawLine(QPointF(8, 11), QPointF(18.5, 11));
                         Arrowhead(P, QPointF(19, 11), 0, 4.5);
                     }));
    return Out;
}

QImage PlusMinus(bool Plus) {
    return Icon(22, [Plus](QPainter &P) {
        P.setPen(QPen(QColor(120, 130, 145), 1));
        P.setBrush(QColor(245, 247, 250));
        P.drawRoundedRect(QRectF(3.5, 3.5, 15, 15), 3, 3);
        P.setPen(Stroke(Accent.darker(115), 2.2));
        P.drawLine(QPointF(7, 11), QPointF(15, 11));
        if (Plus)
            P.drawLine(QPointF(11, 7), QPointF(11, 15));
    });
}

// The no-country flag: a grey 16 x 11 flag, centred like the country flags, with a question mark.
QImage Unknown() {
    return Icon(20, [](QPainter &P) {
        P.setPen(QPen(QColor(110, 110, 110), 1));
        P.setBrush(QColor(200, 200, 200));
        P.drawRect(QRectF(2.5, 4.5, 15, 10));
        P.setPen(Stroke(QColor(90, 90, 90), 1.5));
        QPainterPath Q;
        Q.moveTo(8.2, 7.6);
        Q.cubicTo(8.2, 5.9, 11.8, 5.9, 11.8, 7.8);
        Q.cubicTo(11.8, 9.2, 10, 9.2, 10, 10.8);
        P.drawPath(Q);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(90, 90, 90));
        P.drawEllipse(QPointF(10, 12.6), 0.9, 0.9);
    });
}

std::vector<std::pair<QString, QImage>> CheckerStates() {
    std::vector<std::pair<QString, QImage>> Out;
    Out.emplace_back("proxy-uknown", Icon(20, [](QPainter &P) {
                         Badge(P, QColor(140, 146, 156), QRectF(3, 3, 14, 14));
                         P.setPen(Qt::NoPen);
                         P.setBrush(Qt::white);
                         for (double X : {6.8, 10.0, 13.2})
                             P.drawEllipse(QPointF(X, 10), 1.2, 1.2);
                     }));
    Out.emplace_back("proxy-works", Icon(20, [](QPainter &P) {
                         Badge(P, Green, QRectF(3, 3, 14, 14));
                         P.setPen(Stroke(Qt::white, 2));
                         P.drawPolyline(QPolygonF({QPointF(6.5, 10.2), QPointF(9, 12.7), QPointF(13.5, 7.3)}));
                     }));
    Out.emplace_back("proxy-dead", Icon(20, [](QPainter &P) {
                         Badge(P, Red, QRectF(3, 3, 14, 14));
                         P.setPen(Stroke(Qt::white, 2));
                         P.drawLine(QPointF(7.3, 7.3), QPointF(12.7, 12.7));
                         P.drawLine(QPointF(12.7, 7.3), QPointF(7.3, 12.7));
                     }));
    return Out;
}

QImage Warning() {
    QImage I = Canvas(48, 40);
    QPainter P(&I);
    Antialias(P);
    P.setPen(QPen(Amber.darker(130), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.setBrush(Amber);
    P.drawPolygon(QPolygonF({QPointF(24, 3), QPointF(44, 37), QPointF(4, 37)}));
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(40, 32, 20));
    P.drawRoundedRect(QRectF(22, 13, 4, 14), 2, 2);
    P.drawEllipse(QPointF(24, 31.5), 2.2, 2.2);
    return I;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    QCommandLineParser Parser;
    Parser.setApplicationDescription("Draws the menu skin, icons, rating bars and globe frames as PNG files.");
    Parser.addHelpOption();
    Parser.addOption({"json", "Print the written files as JSON instead of one line each."});
    Parser.addPositionalArgument("dir", "Folder to write the PNG files into.");
    Parser.process(App);
    if (Parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "make-skin: give exactly one output folder (see --help)\n");
        return 2;
    }
    const QDir Dir(Parser.positionalArguments().first());
    if (!QDir().mkpath(Dir.path())) {
        std::fprintf(stderr, "make-skin: cannot make folder %s\n", qPrintable(Dir.path()));
        return 1;
    }

    std::vector<std::pair<QString, QImage>> All;
    All.emplace_back("WINDOW_FRAME", WindowFrame());
    All.emplace_back("SCROLLBAR_BUTTON_UP", ScrollButton(true));
    All.emplace_back("SCROLLBAR_BUTTON_DOWN", ScrollButton(false));
    All.emplace_back("SCROLLBAR_ELEVATOR", ScrollElevator());
    All.emplace_back("SCROLLBAR_BACKGROUND", ScrollBackground());
    All.emplace_back("MENU_ARROR", MenuArrow());
    All.emplace_back("MENU_ITEM", MenuItem());
    All.emplace_back("MENU_SEPARATOR", MenuSeparator());
    for (auto &I : MenuIcons())
        All.push_back(I);
    for (int Step = 0; Step <= 10; ++Step)
        All.emplace_back(QString("rating-%1").arg(Step), Rating(Step));
    for (int Frame = 0; Frame < 20; ++Frame)
        All.emplace_back(QString("globe-%1").arg(Frame), Globe(Frame / 20.0, false));
    All.emplace_back("globe-stopped", Globe(0, true));
    All.emplace_back("plus", PlusMinus(true));
    All.emplace_back("minus", PlusMinus(false));
    All.emplace_back("unknown", Unknown());
    for (auto &I : CheckerStates())
        All.push_back(I);
    All.emplace_back("warning", Warning());

    QJsonArray Written;
    for (const auto &[Name, Image] : All) {
        // File names carry no spaces; the resource keeps the name with them (see CMakeLists.txt).
        const QString File = Dir.filePath(QString(Name).replace(' ', '_') + ".png");
        if (!Image.save(File, "PNG")) {
            std::fprintf(stderr, "make-skin: cannot write %s\n", qPrintable(File));
            return 1;
        }
        if (Parser.isSet("json"))
            Written.append(
                QJsonObject{{"name", Name}, {"file", File}, {"width", Image.width()}, {"height", Image.height()}});
        else
            std::printf("%s %dx%d\n", qPrintable(File), Image.width(), Image.height());
    }
    if (Parser.isSet("json"))
        std::printf("%s\n", QJsonDocument(QJsonObject{{"files", Written}}).toJson(QJsonDocument::Compact).constData());
    return 0;
}
