#include "platform/SafeFileName.h"
#include <QFileInfo>

namespace pelvox {

bool IsSafeFileName(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u"..") return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || u == u'/' || u == u'\\') return false;
    }
    return name.toUtf8().size() <= 255;
}

static QString JoinUnchecked(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString SafeJoin(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || !IsSafeFileName(name)) return QString();
    return JoinUnchecked(folder, name);
}

QString SafeJoinFree(const QString& folder, const QString& name)
{
    QString path = SafeJoin(folder, name);
    if (path.isEmpty() || !QFileInfo::exists(path)) return path;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    for (int i = 1; i < 100000; ++i) {
        const QString candidate = stem + u'(' + QString::number(i) + u')' + ext;
        if (!IsSafeFileName(candidate)) return QString();
        path = JoinUnchecked(folder, candidate);
        if (!QFileInfo::exists(path)) return path;
    }
    return QString();
}

} // namespace pelvox
