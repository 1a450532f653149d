#include "core/Client_UserTheme.h"
#include "core/XmlFile.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include <QFileInfo>
#include <mutex>

namespace pelvox {

namespace {
struct TThemeRegistry {
    std::mutex Lock;
    std::shared_ptr<IUserThemeService> Service;
};
TThemeRegistry& ThemeRegistry()
{
    static TThemeRegistry r;
    return r;
}
} // namespace

bool TUserTheme::LoadCurrentTheme()
{
    pugi::xml_document doc;
    if (Trim(FUserThemeFile).isEmpty() || XmlFile::Load(FUserThemeFile, doc) != XmlFile::TLoadResult::Loaded)
        return false;
    const pugi::xml_node root = doc.document_element();
    auto text = [&](const char* name) { return Trim(XmlText(root.child(name))); };
    ThemeName = text("ThemeName");
    PreviewImage = text("PreviewImage");
    Style = text("Style");
    const QString color = text("Color");
    bool ok = false;
    const uint32_t c = color.startsWith(QLatin1Char('#')) && color.size() == 7 ? color.mid(1).toUInt(&ok, 16) : 0;
    if (ok) Color = c;
    Background_Image = text("Background_Image");
    Background_Repeat = text("Background_Repeat");
    return true;
}

void TUserTheme::SaveCurrentTheme()
{
    if (Trim(FUserThemeFile).isEmpty()) return;
    pugi::xml_document doc;
    pugi::xml_node root = ResetDocument(doc, "CurrentTheme");
    AppendTextElement(root, "ThemeName", ThemeName);
    AppendTextElement(root, "PreviewImage", PreviewImage);
    AppendTextElement(root, "Style", Style);
    AppendTextElement(root, "Color", QStringLiteral("#%1").arg(Color, 6, 16, QLatin1Char('0')));
    AppendTextElement(root, "Background_Image", Background_Image);
    AppendTextElement(root, "Background_Repeat", Background_Repeat);
    try {
        XmlFile::Save(FUserThemeFile, doc);
    } catch (const std::exception& e) {
        DebugOutput(QStringLiteral("SaveCurrentTheme: ") + ExceptionMessage(e));
    }
}

void SetUserThemeService(std::shared_ptr<IUserThemeService> AService)
{
    auto& r = ThemeRegistry();
    std::lock_guard l(r.Lock);
    r.Service = std::move(AService);
}

IUserThemeService& UserThemeService()
{
    auto& r = ThemeRegistry();
    std::lock_guard l(r.Lock);
    if (!r.Service) r.Service = std::make_shared<TUserTheme>();
    return *r.Service;
}

} // namespace pelvox
