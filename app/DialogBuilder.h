#pragma once
// Lays a dialog template out on a QDialog: font, caption, fixed size, one
// widget per control, tab order and first focus. The widgets belong to the
// dialog; the builder keeps nothing.

#include <QHash>
#include <QRect>
#include <QSize>

#include "Resources.h"

class QDialog;
class QFont;
class QString;
class QWidget;

class CDialogBuilder {
public:
    // The template's font: its face and point size, with a sans-serif
    // fallback for systems that do not have the face.
    static QFont DialogFont(const CDialogTemplate& tmpl);

    // The dialog base units of a font: width = average width of "A".."Z"
    // and "a".."z", rounded; height = the font's character height.
    static QSize BaseUnits(const QFont& font);

    // A rectangle in dialog units to pixels: 1/4 of the base width across,
    // 1/8 of the base height down, each rounded to the nearest pixel.
    static QRect ToPixels(int x, int y, int cx, int cy, QSize base);

    // Text as a static control shows it: "&" marks a mnemonic and is hidden
    // and "&&" is one "&", unless the control asks for the text as it is.
    static QString StaticText(const char* text, std::uint32_t style);

    // Builds every control of tmpl on pDialog and returns the widgets by
    // control id (controls without an id are left out). A control with an id
    // is also named "control<id>".
    static QHash<int, QWidget*> Build(const CDialogTemplate& tmpl, QDialog* pDialog);

private:
    static QWidget* CreateControl(const CControlTemplate& ctl, QWidget* pParent);
};
