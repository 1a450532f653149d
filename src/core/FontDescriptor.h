#pragma once
#include <QString>
#include <cstdint>

namespace pelvox {

// The few facts of a font that settings store; the user-interface library
// turns it into a real font.
struct TFontDescriptor {
    QString Name;
    int Size = 9; // points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strikeout = false;
    uint32_t Color = 0; // 0x00BBGGRR
};

// "\"Name\", 9, [Bold|Italic]" and, with the colour, ", [0000FF]" (blue first,
// at least six upper-case hexadecimal digits).
QString FontToString(const TFontDescriptor& AFont, bool AWithColor);

// The interface font of the user-interface library: the name starts as
// "Tahoma" and the colour as black; the skin manager sets the name at start-up.
QString InterfaceFontName();
void SetInterfaceFontName(const QString& AName);
uint32_t InterfaceFontColor();
void SetInterfaceFontColor(uint32_t AColor);

} // namespace pelvox
