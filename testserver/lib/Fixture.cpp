#include "Fixture.h"
#include <QFileInfo>

namespace pelvox::testserver {

bool TFixture::Load(const QString& file, QString* error)
{
    if (!QFileInfo(file).isReadable()) {
        if (error) *error = QStringLiteral("cannot read fixture %1").arg(file);
        return false;
    }
    FFile = file;
    return true;
}

} // namespace pelvox::testserver
