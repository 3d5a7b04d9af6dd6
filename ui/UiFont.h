// The faces the windows are designed with are Windows Japanese fonts that no
// Linux machine has. Asked for by those names, fontconfig substitutes
// whatever it ranks first, so the look and the text metrics would change with
// the font packages that happen to be installed. Here each designed face is
// mapped to Gothic faces asked for by name, in a fixed order.
#pragma once

#include <QFont>
#include <QString>

namespace lumivore {

// A font for a designed face ("ＭＳ Ｐゴシック", "ＭＳ ゴシック", "MS UI Gothic",
// full- or half-width) at a height in pixels: the proportional Gothics map to
// IPAPGothic, the fixed-pitch ones to IPAGothic (fonts-ipafont-gothic), each
// followed by a few other Japanese Gothics for machines without it. Any other
// face is asked for as it is.
QFont UiFont(const QString& designedFace, int pixelSize);

// The font every popup menu entry starts with.
QFont MenuFont();

// Makes the mapped Gothic the application's font, so that what Qt draws on
// its own (message boxes, tooltips, the file dialogs) matches the windows.
void UseUiFontEverywhere();

}  // namespace lumivore
