// Paints the program's icon at each size the menus ask for: a dark rounded square with a green
// "T", drawn at the size itself so that small ones stay sharp.
//   painticon OUTPUT_FOLDER SIZE...   writes OUTPUT_FOLDER/<size>x<size>/apps/tavix.png

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

// The design on a 64 x 64 grid, as the window icon has it.
constexpr double kGrid = 64.0;
constexpr double kRadius = 11.0;
const QRectF kBar(14, 14, 36, 10);
const QRectF kStem(27, 24, 10, 30);

QImage paint(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, kGrid, kGrid), kRadius, kRadius);
    p.fillPath(square, QColor(0x22, 0x25, 0x29));
    p.fillRect(kBar, QColor(0x3f, 0xb6, 0x8b));
    p.fillRect(kStem, QColor(0x3f, 0xb6, 0x8b));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: painticon OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "painticon: size %s is not between 8 and 1024\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = folder + QStringLiteral("/tavix.png");
        if (!QDir().mkpath(folder) || !paint(size).save(file, "PNG")) {
            std::fprintf(stderr, "painticon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
