// SymbolIcons: the program's own monochrome symbols, drawn as 16x16 SVGs and
// bundled as resources named after the symbol (":/symbols/<name>.svg").
//
// A symbol icon is re-rendered from the SVG at whatever size and device pixel
// ratio it is asked for, then painted in one tint colour, so it stays crisp
// at 1x and 2x. Main thread only (it reads the application palette).
#pragma once

#include "core/Presentation.h"

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

namespace SymbolIcons {

// The names of every bundled symbol.
QStringList symbolNames();
bool hasSymbol(const QString& symbolName);

// The tint colours, after the system colours of the platform the product
// first shipped on (grey for secondary labels, yellow, green, red).
QColor tintColor(SymbolTint tint);

// The symbol painted entirely in `color`. A null icon for an unknown name.
QIcon tinted(const QString& symbolName, const QColor& color);

// An icon for a menu row: the icon theme's own icon when the theme has a
// fitting one, else the bundled symbol in the palette's text colour. The
// theme is asked when the icon is first drawn or measured, not before, and
// not at all when the theme in use is the bare fallback theme (hicolor),
// which by the icon theme rules holds programs' own icons, no stock ones.
QIcon menuIcon(const QString& symbolName);

// The theme's icon `themeName` (the hicolor theme included), else the
// bundled picture at `resourcePath`; decided, like menuIcon, on first use.
QIcon themedOrBundled(const QString& themeName, const QString& resourcePath);

// The icon theme name tried first for `symbolName` (empty when none fits).
QString themeNameFor(const QString& symbolName);

} // namespace SymbolIcons
