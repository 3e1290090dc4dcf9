#pragma once

#include <QPixmap>

namespace tintavo {

// The program's own pictures, drawn with vector shapes at the size asked for.
QPixmap TintavoLogo(int size); // a grey photograph frame with one coloured flower
QPixmap PaletteArt(int size);  // a painter's palette with a brush
QPixmap DropperArt(int size);  // a colour dropper holding a red drop

} // namespace tintavo
