#pragma once
#include <QString>
#include <memory>

namespace pelvox {

// The user's theme file ("UserTheme.xml" in the user root), which the login
// loads or writes through the skin manager. The skin library registers its
// manager at start-up; until then the core keeps the theme values itself.
class IUserThemeService {
public:
    virtual ~IUserThemeService() = default;
    virtual QString UserThemeFile() const = 0;
    virtual void SetUserThemeFile(const QString& AFileName) = 0;
    virtual bool LoadCurrentTheme() = 0;
    virtual void SaveCurrentTheme() = 0;
};

// The theme values and their file, without any painting.
class TUserTheme : public IUserThemeService {
public:
    QString ThemeName = QStringLiteral("Default");
    QString PreviewImage;
    QString Style = QStringLiteral("Default");
    uint32_t Color = 0x2B78C5;
    QString Background_Image;
    QString Background_Repeat;

    QString UserThemeFile() const override { return FUserThemeFile; }
    void SetUserThemeFile(const QString& AFileName) override { FUserThemeFile = AFileName; }
    // Reads the file; a missing file keeps the defaults. Never throws.
    bool LoadCurrentTheme() override;
    // Writes the file atomically; errors go to the debugger output.
    void SaveCurrentTheme() override;

private:
    QString FUserThemeFile;
};

void SetUserThemeService(std::shared_ptr<IUserThemeService> AService);
// The registered service, or the core's own holder.
IUserThemeService& UserThemeService();

} // namespace pelvox
