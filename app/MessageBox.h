#pragma once
// The program's message box and its caption, shared by every window. Owns
// nothing; the box lives only while it is answered.

#include <string>

class QString;
class QWidget;

// The application title: the program file's name without directory and
// extension.
QString ApplicationTitle();

// A modal message box over pOwner (null: over no window) with the warning
// icon, one OK button and the application title as caption. The text is bytes
// of the locale's character set. Returns once the box has been answered.
void ShowProgramMessageBox(QWidget* pOwner, const std::string& text);
