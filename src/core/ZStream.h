#pragma once
#include <QByteArray>
#include <optional>

namespace pelvox {

// One whole zlib stream in memory.
QByteArray ZCompress(const QByteArray& data, int level = -1);
// Inflates a whole zlib stream in 32768-byte steps. Empty result on a corrupt
// or truncated stream, or when the output would exceed maxOutput bytes.
std::optional<QByteArray> ZDecompress(const QByteArray& data, qsizetype maxOutput);

} // namespace pelvox
