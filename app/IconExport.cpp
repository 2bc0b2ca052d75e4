// Build tool: writes the program icon's images as zephran-<size>.png into the
// directory given, for installation where the desktop looks for icons.

#include <QImage>
#include <QString>

#include "Resources.h"

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    for (int size : {32, 16}) {
        const QImage image(LoadIconImage(IDR_MAINFRAME, size));
        if (image.isNull() ||
            !image.save(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/zephran-%1.png").arg(size)))
            return 1;
    }
    return 0;
}
