#include "core/ZStream.h"
#include <zlib.h>
#include <algorithm>

namespace pelvox {

QByteArray ZCompress(const QByteArray& data, int level)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
                  uLong(data.size()), level) != Z_OK)
        return QByteArray();
    out.resize(qsizetype(size));
    return out;
}

std::optional<QByteArray> ZDecompress(const QByteArray& data, qsizetype maxOutput)
{
    constexpr qsizetype kStep = 32768;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return std::nullopt;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = uInt(data.size());
    QByteArray out;
    qsizetype used = 0;
    int rc = Z_OK;
    while (rc == Z_OK && used < maxOutput) {
        const qsizetype step = std::min(kStep, maxOutput - used);
        if (out.size() < used + step) out.resize(std::min(maxOutput, std::max(2 * out.size(), used + step)));
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        zs.avail_out = uInt(step);
        rc = inflate(&zs, Z_NO_FLUSH);
        used += step - qsizetype(zs.avail_out);
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) return std::nullopt;
    out.resize(used);
    return out;
}

} // namespace pelvox
