// Build tool: writes the program icon's images as zephran-<size>.png into the
// directory given, for installation where the desktop looks for icons: the
// 16 and 32 pixel images as drawn, and the larger sizes that docks and
// software centres want scaled up from the 32 pixel one, each of its pixels
// a square block (smoothed only for 48, which is no whole multiple).

#include <QImage>
#include <QString>

#include "Resources.h"

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QImage image16(LoadIconImage(IDR_MAINFRAME, 16));
    const QImage image32(LoadIconImage(IDR_MAINFRAME, 32));
    if (image16.isNull() || image32.isNull())
        return 1;
    const QImage large = image32.scaled(256, 256, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const struct {
        int size;
        QImage image;
    } images[] = {
        {16, image16},
        {32, image32},
        {48, large.scaled(48, 48, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)},
        {64, image32.scaled(64, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation)},
        {128, image32.scaled(128, 128, Qt::IgnoreAspectRatio, Qt::FastTransformation)},
        {256, large},
    };
    for (const auto& [size, image] : images)
        if (!image.save(dir + QStringLiteral("/zephran-%1.png").arg(size)))
            return 1;
    return 0;
}
