#pragma once
#include "core/Client_Session.h"
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace pelvox::test {

// The little of a session the settings need: a user root and a user id.
class FakeSettingsSession : public ISession {
public:
    explicit FakeSettingsSession(QString root, uint32_t id = 1001) : FRoot(std::move(root)), FId(id) {}
    bool Logined() const override { return true; }
    void SendMainCmdData(TBitDocument&, bool) override {}
    TDateTime ServerTime() const override { return 0; }
    QString UserRoot() const override { return FRoot; }
    uint32_t CurrentUserId() const override { return FId; }

private:
    QString FRoot;
    uint32_t FId;
};

// Writes AXml as UTF-16 LE with a BOM, as the settings files are.
inline void WriteUtf16File(const QString& APath, const QString& AXml)
{
    QDir().mkpath(APath.left(APath.lastIndexOf(u'/')));
    QFile f(APath);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("\xFF\xFE", 2);
    f.write(reinterpret_cast<const char*>(AXml.utf16()), AXml.size() * 2);
}

inline QByteArray ReadFileBytes(const QString& APath)
{
    QFile f(APath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The text of a UTF-16 LE file with a BOM.
inline QString ReadUtf16File(const QString& APath)
{
    const QByteArray b = ReadFileBytes(APath);
    if (b.size() < 2) return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(b.constData() + 2), (b.size() - 2) / 2);
}

} // namespace pelvox::test
