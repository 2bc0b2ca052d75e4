#include "ProgramIcon.h"

#include <QIcon>
#include <QPixmap>

#include "Resources.h"

QIcon LoadProgramIcon()
{
    QIcon icon;
    for (int size : {32, 16})
        if (const char* const* xpm = LoadIconImage(IDR_MAINFRAME, size))
            icon.addPixmap(QPixmap(xpm));
    return icon;
}
