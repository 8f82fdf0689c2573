// Writes the client's ready-made user pictures into the folder given on the command line:
// 32x32 bitmap files with 256 colours on a magenta background (the colour the contact list
// draws as transparent). Each picture is drawn here from plain shapes, without smoothing, so
// no edge pixel mixes with the magenta.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const QColor Magenta(255, 0, 255);

struct Picture {
    const char* name;
    std::function<void(QPainter&)> draw;
};

// A colour table of the 6x6x6 cube (which holds magenta) and a ramp of greys.
QList<QRgb> Palette() {
    QList<QRgb> table;
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                table << qRgb(r * 51, g * 51, b * 51);
            }
        }
    }
    for (int i = 1; i <= 40 && table.size() < 256; ++i) {
        const int grey = i * 255 / 41;
        table << qRgb(grey, grey, grey);
    }
    return table;
}

void Outline(QPainter& p, QColor fill, QColor edge = Qt::black) {
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
}

void Face(QPainter& p, QColor skin, int mood) {
    Outline(p, skin);
    p.drawEllipse(2, 2, 27, 27);
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    if (mood == 3) {  // asleep: closed eyes
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(8, 12, 12, 12);
        p.drawLine(19, 12, 23, 12);
    } else {
        p.drawRect(9, 9, 3, 5);
        if (mood == 1) {  // wink
            p.setPen(QPen(Qt::black, 2));
            p.drawLine(19, 12, 23, 12);
            p.setPen(Qt::NoPen);
        } else {
            p.drawRect(20, 9, 3, 5);
        }
    }
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::NoBrush);
    switch (mood) {
        case 2:  // sad
            p.drawArc(9, 19, 14, 8, 20 * 16, 140 * 16);
            break;
        case 3:
            p.drawEllipse(14, 20, 4, 4);
            break;
        case 4:  // busy: a straight mouth
            p.drawLine(10, 22, 22, 22);
            break;
        default:
            p.drawArc(8, 12, 16, 12, 200 * 16, 140 * 16);
    }
}

void Star(QPainter& p, QColor fill) {
    QPainterPath star;
    star.moveTo(16, 1);
    star.lineTo(20, 11);
    star.lineTo(31, 12);
    star.lineTo(22, 19);
    star.lineTo(25, 30);
    star.lineTo(16, 24);
    star.lineTo(7, 30);
    star.lineTo(10, 19);
    star.lineTo(1, 12);
    star.lineTo(12, 11);
    star.closeSubpath();
    Outline(p, fill);
    p.drawPath(star);
}

void Heart(QPainter& p, QColor fill) {
    QPainterPath heart;
    heart.moveTo(16, 29);
    heart.cubicTo(2, 19, 0, 10, 5, 5);
    heart.cubicTo(10, 0, 15, 4, 16, 8);
    heart.cubicTo(17, 4, 22, 0, 27, 5);
    heart.cubicTo(32, 10, 30, 19, 16, 29);
    Outline(p, fill);
    p.drawPath(heart);
}

void Flower(QPainter& p, QColor petals) {
    p.setPen(QPen(QColor(0, 102, 0), 2));
    p.drawLine(16, 18, 16, 31);
    Outline(p, petals);
    for (const QPoint& at :
         {QPoint(16, 4), QPoint(8, 10), QPoint(24, 10), QPoint(11, 18), QPoint(21, 18)}) {
        p.drawEllipse(at, 5, 5);
    }
    Outline(p, QColor(255, 204, 0));
    p.drawEllipse(QPoint(16, 12), 4, 4);
}

void Sun(QPainter& p) {
    p.setPen(QPen(QColor(255, 153, 0), 2));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(i * 45);
        p.drawLine(0, 10, 0, 15);
        p.restore();
    }
    Outline(p, QColor(255, 204, 0), QColor(204, 102, 0));
    p.drawEllipse(QPoint(16, 16), 8, 8);
}

void Moon(QPainter& p) {
    QPainterPath moon;
    moon.addEllipse(4, 3, 25, 25);
    QPainterPath bite;
    bite.addEllipse(11, 0, 22, 22);
    Outline(p, QColor(255, 255, 153), QColor(153, 153, 0));
    p.drawPath(moon.subtracted(bite));
}

void Cloud(QPainter& p, QColor fill) {
    // One outline around the puffs: their union, not each circle.
    QPainterPath cloud;
    for (const QRectF& puff : {QRectF(3, 12, 12, 12), QRectF(9, 6, 14, 14), QRectF(17, 11, 12, 12),
                               QRectF(9, 17, 14, 7)}) {
        QPainterPath part;
        part.addEllipse(puff);
        cloud = cloud.united(part);
    }
    Outline(p, fill, QColor(102, 102, 153));
    p.drawPath(cloud);
}

void Cup(QPainter& p, QColor fill) {
    Outline(p, fill);
    p.drawRect(6, 10, 16, 18);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 2));
    p.drawEllipse(21, 14, 7, 8);
    p.setPen(QPen(QColor(153, 153, 153), 1));
    p.drawLine(10, 3, 10, 7);
    p.drawLine(14, 2, 14, 7);
    p.drawLine(18, 3, 18, 7);
}

void Screen(QPainter& p, QColor glass) {
    Outline(p, QColor(204, 204, 204));
    p.drawRect(2, 4, 27, 19);
    Outline(p, glass);
    p.drawRect(5, 7, 21, 13);
    Outline(p, QColor(153, 153, 153));
    p.drawRect(12, 24, 7, 3);
    p.drawRect(7, 27, 17, 3);
}

void House(QPainter& p, QColor roof) {
    Outline(p, QColor(255, 255, 204));
    p.drawRect(6, 14, 20, 16);
    QPainterPath top;
    top.moveTo(2, 15);
    top.lineTo(16, 2);
    top.lineTo(30, 15);
    top.closeSubpath();
    Outline(p, roof);
    p.drawPath(top);
    Outline(p, QColor(153, 102, 51));
    p.drawRect(13, 21, 6, 9);
}

void Ball(QPainter& p, QColor fill) {
    Outline(p, fill);
    p.drawEllipse(3, 3, 26, 26);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(4, 16, 28, 16);
    p.drawArc(9, 3, 14, 26, 90 * 16, 180 * 16);
}

void Note(QPainter& p, QColor fill) {
    Outline(p, fill);
    p.drawEllipse(4, 21, 9, 7);
    p.drawEllipse(18, 18, 9, 7);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(12, 24, 12, 5);
    p.drawLine(26, 21, 26, 3);
    p.drawLine(12, 5, 26, 3);
    p.drawLine(12, 8, 26, 6);
}

void Bell(QPainter& p, QColor fill) {
    QPainterPath bell;
    bell.moveTo(5, 25);
    bell.cubicTo(9, 20, 7, 5, 16, 4);
    bell.cubicTo(25, 5, 23, 20, 27, 25);
    bell.closeSubpath();
    Outline(p, fill);
    p.drawPath(bell);
    p.drawEllipse(13, 24, 6, 6);
}

void Clock(QPainter& p, QColor rim) {
    Outline(p, Qt::white, rim);
    p.setPen(QPen(rim, 3));
    p.drawEllipse(3, 3, 26, 26);
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(16, 16, 16, 8);
    p.drawLine(16, 16, 22, 16);
}

void Envelope(QPainter& p, QColor paper) {
    Outline(p, paper);
    p.drawRect(2, 7, 27, 18);
    p.drawLine(2, 7, 16, 18);
    p.drawLine(29, 7, 16, 18);
}

void Fish(QPainter& p, QColor fill) {
    QPainterPath fish;
    fish.moveTo(2, 16);
    fish.cubicTo(8, 5, 20, 5, 25, 16);
    fish.cubicTo(20, 27, 8, 27, 2, 16);
    fish.moveTo(24, 16);
    fish.lineTo(31, 9);
    fish.lineTo(31, 23);
    fish.closeSubpath();
    Outline(p, fill);
    p.drawPath(fish);
    p.setBrush(Qt::black);
    p.drawRect(8, 13, 2, 2);
}

void Cat(QPainter& p, QColor fur) {
    QPainterPath head;
    head.addEllipse(4, 8, 24, 21);
    QPainterPath ears;
    ears.moveTo(5, 14);
    ears.lineTo(7, 2);
    ears.lineTo(14, 9);
    ears.moveTo(27, 14);
    ears.lineTo(25, 2);
    ears.lineTo(18, 9);
    Outline(p, fur);
    p.drawPath(head.united(ears));
    p.setBrush(QColor(0, 153, 0));
    p.drawEllipse(10, 14, 4, 5);
    p.drawEllipse(18, 14, 4, 5);
    p.setBrush(QColor(255, 153, 153));
    p.drawRect(15, 21, 2, 2);
}

void Tree(QPainter& p, QColor leaves) {
    Outline(p, QColor(153, 102, 51));
    p.drawRect(14, 20, 4, 10);
    Outline(p, leaves, QColor(0, 51, 0));
    p.drawEllipse(5, 2, 22, 20);
}

void Lightning(QPainter& p) {
    QPainterPath bolt;
    bolt.moveTo(19, 1);
    bolt.lineTo(7, 18);
    bolt.lineTo(15, 18);
    bolt.lineTo(11, 31);
    bolt.lineTo(25, 12);
    bolt.lineTo(17, 12);
    bolt.closeSubpath();
    Outline(p, QColor(255, 255, 0), QColor(153, 102, 0));
    p.drawPath(bolt);
}

void Sign(QPainter& p, QColor fill, bool cross) {
    Outline(p, fill);
    p.drawEllipse(2, 2, 27, 27);
    p.setPen(QPen(Qt::white, 4));
    if (cross) {
        p.drawLine(10, 10, 21, 21);
        p.drawLine(21, 10, 10, 21);
    } else {
        p.drawLine(8, 16, 14, 22);
        p.drawLine(14, 22, 24, 10);
    }
}

std::vector<Picture> Pictures() {
    const QColor yellow(255, 204, 0), orange(255, 153, 51), blue(102, 153, 255), green(51, 204, 51),
        red(255, 51, 51), pink(255, 153, 204), grey(204, 204, 204), purple(153, 102, 204);
    return {
        {"Smile", [=](QPainter& p) { Face(p, yellow, 0); }},
        {"Wink", [=](QPainter& p) { Face(p, yellow, 1); }},
        {"Sad", [=](QPainter& p) { Face(p, blue, 2); }},
        {"Asleep", [=](QPainter& p) { Face(p, orange, 3); }},
        {"Busy", [=](QPainter& p) { Face(p, red, 4); }},
        {"Green Smile", [=](QPainter& p) { Face(p, green, 0); }},
        {"Star", [=](QPainter& p) { Star(p, yellow); }},
        {"Blue Star", [=](QPainter& p) { Star(p, blue); }},
        {"Heart", [=](QPainter& p) { Heart(p, red); }},
        {"Pink Heart", [=](QPainter& p) { Heart(p, pink); }},
        {"Flower", [=](QPainter& p) { Flower(p, pink); }},
        {"Blue Flower", [=](QPainter& p) { Flower(p, blue); }},
        {"Sun", [](QPainter& p) { Sun(p); }},
        {"Moon", [](QPainter& p) { Moon(p); }},
        {"Cloud", [=](QPainter& p) { Cloud(p, Qt::white); }},
        {"Rain Cloud", [=](QPainter& p) { Cloud(p, grey); }},
        {"Lightning", [](QPainter& p) { Lightning(p); }},
        {"Coffee", [=](QPainter& p) { Cup(p, Qt::white); }},
        {"Tea", [=](QPainter& p) { Cup(p, green); }},
        {"Computer", [=](QPainter& p) { Screen(p, blue); }},
        {"Computer Off", [=](QPainter& p) { Screen(p, QColor(51, 51, 51)); }},
        {"House", [=](QPainter& p) { House(p, red); }},
        {"Blue House", [=](QPainter& p) { House(p, blue); }},
        {"Ball", [=](QPainter& p) { Ball(p, orange); }},
        {"Music", [=](QPainter& p) { Note(p, purple); }},
        {"Bell", [=](QPainter& p) { Bell(p, yellow); }},
        {"Clock", [=](QPainter& p) { Clock(p, blue); }},
        {"Late Clock", [=](QPainter& p) { Clock(p, red); }},
        {"Letter", [=](QPainter& p) { Envelope(p, Qt::white); }},
        {"Fish", [=](QPainter& p) { Fish(p, orange); }},
        {"Cat", [=](QPainter& p) { Cat(p, grey); }},
        {"Tree", [=](QPainter& p) { Tree(p, green); }},
        {"Yes", [=](QPainter& p) { Sign(p, green, false); }},
        {"No", [=](QPainter& p) { Sign(p, red, true); }},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const QList<QRgb> palette = Palette();
    for (const Picture& picture : Pictures()) {
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Magenta);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            picture.draw(painter);
        }
        const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, palette,
                                                     Qt::ThresholdDither | Qt::AvoidDither);
        const std::string path = folder + "/" + picture.name + ".bmp";
        if (!indexed.save(QString::fromStdString(path), "BMP")) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
