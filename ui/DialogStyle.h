#pragma once

// The look every window part shares: the dialog font and the group-box frame the pixel
// layouts are drawn for.

#include <QFont>
#include <QString>
#include <QStringList>

namespace tintavo {

// The dialog font at a pixel height: the classic dialog face when the system has it, else
// DejaVu Sans, whose 13-pixel line spacing at 11 pixels matches the classic face, so the
// wrapped labels fit their fixed boxes. The layouts are in pixels.
QFont DialogFont(int pixelSize = 11, bool bold = false);

// Group boxes as the layouts expect them: the frame line half a line below the box's top
// with the caption sitting on it, so controls placed from the caption's line down fall inside.
QString GroupBoxStyleSheet();

} // namespace tintavo
