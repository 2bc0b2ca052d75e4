#pragma once
// The program icon (icon 128) as a Qt icon, in its 32 x 32 and 16 x 16
// images. Owns nothing.

class QIcon;

QIcon LoadProgramIcon();
