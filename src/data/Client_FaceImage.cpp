#include "data/Client_FaceImage.h"
#include "platform/Text.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QThreadPool>
#include <QDateTime>
#include <map>
#include <mutex>

namespace pelvox {

void BitmapToGray(QImage& ABitmap)
{
    if (ABitmap.isNull()) return;
    QImage rgb = ABitmap.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y) {
        uchar* p = rgb.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x, p += 3) {
            const uchar g = uchar((77 * p[0] + 151 * p[1] + 28 * p[2]) >> 8);
            p[0] = p[1] = p[2] = g;
        }
    }
    ABitmap = std::move(rgb);
}

namespace {

bool SizeAcceptable(const QSize& s)
{
    return s.isValid() && s.width() <= MaxPictureSide && s.height() <= MaxPictureSide;
}

} // namespace

QImage CreateBitmap(const QString& AFileName)
{
    QImageReader reader(AFileName);
    reader.setDecideFormatFromContent(true);
    if (!SizeAcceptable(reader.size())) return {};
    QImage image = reader.read();
    if (image.isNull()) return {};
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage DrawOnWhite(const QImage& APicture, int AWidth, int AHeight)
{
    QImage out(AWidth, AHeight, QImage::Format_ARGB32);
    out.fill(Qt::white);
    if (APicture.isNull()) return out;
    const QImage scaled = APicture.convertToFormat(QImage::Format_ARGB32)
                              .scaled(AWidth, AHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Composite over white by hand: no painter needed, so any thread may do it.
    for (int y = 0; y < AHeight; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
        QRgb* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < AWidth; ++x) {
            const int a = qAlpha(src[x]);
            auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
            dst[x] = qRgb(mix(qRed(src[x])), mix(qGreen(src[x])), mix(qBlue(src[x])));
        }
    }
    return out;
}

namespace {

// A head and shoulders in the given colour on a transparent 20 x 20 bitmap.
QImage MakeDefaultFace(QRgb AColour)
{
    constexpr int N = 20;
    QImage img(N, N, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            const double hx = x + 0.5 - 10, hy = y + 0.5 - 7;
            const double sx = x + 0.5 - 10, sy = y + 0.5 - 21;
            const bool head = hx * hx + hy * hy <= 4.6 * 4.6;
            const bool body = sx * sx / (8.5 * 8.5) + sy * sy / (8.0 * 8.0) <= 1.0;
            if (head || body) img.setPixel(x, y, AColour);
        }
    return img;
}

struct TDefaultFaces {
    QImage Man, ManGray, Women, WomenGray;
    TDefaultFaces()
        : Man(MakeDefaultFace(qRgb(0x3A, 0x7B, 0xD5))), Women(MakeDefaultFace(qRgb(0xE0, 0x5A, 0x8C)))
    {
        ManGray = GrayKeepingAlpha(Man);
        WomenGray = GrayKeepingAlpha(Women);
    }
    static QImage GrayKeepingAlpha(const QImage& AColour)
    {
        QImage grey = AColour;
        BitmapToGray(grey);
        QImage out = grey.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x)
                out.setPixel(x, y, (out.pixel(x, y) & 0x00FFFFFF) | (AColour.pixel(x, y) & 0xFF000000));
        return out;
    }
};

} // namespace

const QImage& DefaultSmallFace(bool AWoman, bool AGray)
{
    static const TDefaultFaces faces;
    if (AWoman) return AGray ? faces.WomenGray : faces.Women;
    return AGray ? faces.ManGray : faces.Man;
}

std::shared_ptr<const TFaceImageData> TFaceImageData::Load(const QString& AFileName)
{
    QImageReader reader(AFileName);
    reader.setDecideFormatFromContent(true);
    if (!SizeAcceptable(reader.size())) return nullptr;
    auto data = std::make_shared<TFaceImageData>();
    // Animated only when both the name and the content say GIF.
    data->IsGif = EndsText(u".gif", AFileName) && reader.format() == "gif";
    while (int(data->Frames.size()) < MaxFrames) {
        QImage frame = reader.read();
        if (frame.isNull()) break;
        data->Frames.push_back(frame.convertToFormat(QImage::Format_ARGB32));
        if (data->IsGif) {
            // The reader reports milliseconds; the record keeps hundredths.
            const int ms = reader.nextImageDelay();
            data->FrameDelays.push_back(std::max<uint32_t>(GifMinFrameDelay, uint32_t(std::max(ms, 0)) / 10));
        }
        if (!data->IsGif || !reader.canRead()) break;
    }
    if (data->Frames.empty()) return nullptr;
    for (const QImage& f : data->Frames) {
        data->Frames40.push_back(DrawOnWhite(f, 40, 40));
        data->Frames20.push_back(DrawOnWhite(f, 20, 20));
    }
    data->Gray40 = data->Frames40.front();
    BitmapToGray(data->Gray40);
    data->Gray20 = data->Frames20.front();
    BitmapToGray(data->Gray20);
    return data;
}

namespace {

struct TCacheEntry {
    std::weak_ptr<const TFaceImageData> Data;
    qint64 Size = -1;
    qint64 Stamp = 0;
};

std::mutex& CacheLock()
{
    static std::mutex lock;
    return lock;
}
std::map<QString, TCacheEntry>& Cache()
{
    static std::map<QString, TCacheEntry> cache;
    return cache;
}

std::pair<qint64, qint64> FileStamp(const QString& AFileName)
{
    const QFileInfo fi(AFileName);
    return {fi.exists() ? fi.size() : -1, fi.lastModified().toMSecsSinceEpoch()};
}

} // namespace

std::shared_ptr<const TFaceImageData> TFaceDecoder::Cached(const QString& AFileName)
{
    const auto [size, stamp] = FileStamp(AFileName);
    std::lock_guard guard(CacheLock());
    auto it = Cache().find(AFileName);
    if (it == Cache().end() || it->second.Size != size || it->second.Stamp != stamp) return nullptr;
    return it->second.Data.lock();
}

void TFaceDecoder::DecodeAsync(const QString& AFileName, TDone ADone)
{
    QThreadPool::globalInstance()->start([AFileName, ADone = std::move(ADone)]() mutable {
        const auto stampBefore = FileStamp(AFileName);
        std::shared_ptr<const TFaceImageData> data = TFaceImageData::Load(AFileName);
        if (data) {
            std::lock_guard guard(CacheLock());
            auto& cache = Cache();
            // Forget entries whose faces are gone so the map stays small.
            for (auto it = cache.begin(); it != cache.end();)
                it = it->second.Data.expired() ? cache.erase(it) : std::next(it);
            cache[AFileName] = TCacheEntry{data, stampBefore.first, stampBefore.second};
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [ADone = std::move(ADone), data]() { ADone(data); },
            Qt::QueuedConnection);
    });
}

} // namespace pelvox
