#include "data/Client_TrayIcons.h"
#include <atomic>

namespace pelvox {

namespace {

QImage Placeholder(QRgb colour)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Distinct flat squares, so a test can tell which icon an item got.
class TPlaceholderTrayIcons final : public ITrayIcons {
public:
    const QImage& TrayIcon_SystemMessage() const override { return FSystem; }
    const QImage& TrayIcon_GroupMessage() const override { return FGroup; }
    const QImage& TrayIcon_RoomMessage() const override { return FRoom; }

private:
    QImage FSystem = Placeholder(qRgb(0xE0, 0x40, 0x20));
    QImage FGroup = Placeholder(qRgb(0x20, 0x80, 0xE0));
    QImage FRoom = Placeholder(qRgb(0x20, 0xB0, 0x50));
};

std::atomic<const ITrayIcons*> gIcons{nullptr};

} // namespace

const ITrayIcons& TrayIcons()
{
    static const TPlaceholderTrayIcons placeholders;
    const ITrayIcons* icons = gIcons.load();
    return icons ? *icons : placeholders;
}

void SetTrayIcons(const ITrayIcons* AIcons) { gIcons.store(AIcons); }

} // namespace pelvox
