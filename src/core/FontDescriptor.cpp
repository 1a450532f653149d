#include "core/FontDescriptor.h"
#include "platform/Text.h"
#include <QStringList>
#include <mutex>

namespace pelvox {

QString FontToString(const TFontDescriptor& AFont, bool AWithColor)
{
    QStringList styles;
    if (AFont.Bold) styles << QStringLiteral("Bold");
    if (AFont.Italic) styles << QStringLiteral("Italic");
    if (AFont.Underline) styles << QStringLiteral("Underline");
    if (AFont.Strikeout) styles << QStringLiteral("Strikeout");
    QString s = QStringLiteral("\"%1\", %2, [%3]").arg(AFont.Name).arg(AFont.Size).arg(styles.join(u'|'));
    if (AWithColor) s += QStringLiteral(", [%1]").arg(UpperCase(QString::number(AFont.Color, 16)), 6, QChar(u'0'));
    return s;
}

namespace {
std::mutex gFontLock;
QString gFontName = QStringLiteral("Tahoma");
uint32_t gFontColor = 0;
} // namespace

QString InterfaceFontName()
{
    std::lock_guard l(gFontLock);
    return gFontName;
}

void SetInterfaceFontName(const QString& AName)
{
    std::lock_guard l(gFontLock);
    gFontName = AName;
}

uint32_t InterfaceFontColor()
{
    std::lock_guard l(gFontLock);
    return gFontColor;
}

void SetInterfaceFontColor(uint32_t AColor)
{
    std::lock_guard l(gFontLock);
    gFontColor = AColor;
}

} // namespace pelvox
