#pragma once
#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pelvox {

// Pictures as data: the small services the person records need of a picture
// library (loading, grey, default faces), all on QImage so that they run on
// any thread.

// Every pixel's three channels become (77 r + 151 g + 28 b) shr 8; the picture
// becomes 24 bits per pixel.
void BitmapToGray(QImage& ABitmap);

// Loads a picture file as 32-bit ARGB; a null image when it cannot be read.
// Pictures wider or higher than MaxPictureSide are refused before decoding.
constexpr int MaxPictureSide = 4096;
QImage CreateBitmap(const QString& AFileName);

// The picture scaled into a white AWidth x AHeight bitmap.
QImage DrawOnWhite(const QImage& APicture, int AWidth, int AHeight);

// The small built-in default faces (20 x 20) of a man and of a woman, in
// colour and in grey.
const QImage& DefaultSmallFace(bool AWoman, bool AGray);

// One decoded face: every frame ready at 40 x 40 and 20 x 20, the grey faces
// of the first frame, and for an animated GIF the frame delays in hundredths
// of a second (each at least GifMinFrameDelay). Immutable once built, so the
// records of one person share it.
struct TFaceImageData {
    static constexpr uint32_t GifMinFrameDelay = 10;
    static constexpr int MaxFrames = 256;

    bool IsGif = false;
    std::vector<QImage> Frames;          // source frames, ARGB32
    std::vector<uint32_t> FrameDelays;   // GIF only, one per frame
    std::vector<QImage> Frames40, Frames20;
    QImage Gray40, Gray20;

    // Decodes a face file; null when it cannot be read. Pure: any thread.
    static std::shared_ptr<const TFaceImageData> Load(const QString& AFileName);
};

// Decodes face files off the user-interface thread and hands the result back
// on it. Faces of the same file that are still alive are shared, not decoded
// again.
class TFaceDecoder {
public:
    using TDone = std::function<void(std::shared_ptr<const TFaceImageData>)>;
    // ADone runs later on the user-interface thread (null data: unreadable).
    static void DecodeAsync(const QString& AFileName, TDone ADone);
    // A live decoded face of that file when its file has not changed since.
    static std::shared_ptr<const TFaceImageData> Cached(const QString& AFileName);
};

} // namespace pelvox
