#include "core/XmlFile.h"
#include "platform/DebugOutput.h"
#include "platform/Exception.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelvox {

namespace {

QString ErrnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

void MoveAside(const QString& path, const QString& why)
{
    const QString bad = path + QStringLiteral(".bad");
    const QByteArray from = QFile::encodeName(path), to = QFile::encodeName(bad);
    if (::rename(from.constData(), to.constData()) == 0)
        DebugOutput(QStringLiteral("settings file %1 is not well-formed (%2); moved aside to %3, defaults used")
                        .arg(path, why, bad));
    else
        DebugOutput(QStringLiteral("settings file %1 is not well-formed (%2); could not move it aside: %3")
                        .arg(path, why, ErrnoText(errno)));
}

struct ByteWriter : pugi::xml_writer {
    QByteArray bytes;
    void write(const void* data, size_t size) override { bytes.append(static_cast<const char*>(data), qsizetype(size)); }
};

void SetDeclaration(pugi::xml_document& doc)
{
    pugi::xml_node decl = doc.first_child();
    if (decl.type() != pugi::node_declaration) decl = doc.prepend_child(pugi::node_declaration);
    decl.remove_attributes();
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-16";
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

namespace XmlFile {

TLoadResult Load(const QString& APath, pugi::xml_document& ADoc, QString* AError)
{
    ADoc.reset();
    const QFileInfo info(APath);
    if (!info.exists()) return TLoadResult::Missing;
    auto fail = [&](const QString& why, bool moveAside) {
        if (AError) *AError = why;
        if (moveAside) MoveAside(APath, why);
        else DebugOutput(QStringLiteral("settings file %1 cannot be read (%2); defaults used").arg(APath, why));
        ADoc.reset();
        return TLoadResult::Malformed;
    };
    if (!info.isFile()) return fail(QStringLiteral("not a file"), false);
    if (info.size() > MaxFileSize) return fail(QStringLiteral("larger than %1 bytes").arg(MaxFileSize), true);
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString(), false);
    // Read what the file holds now, bounded (it may grow between the checks).
    const QByteArray data = f.read(std::min<qint64>(f.size(), MaxFileSize) + 1);
    if (data.size() > MaxFileSize) return fail(QStringLiteral("larger than %1 bytes").arg(MaxFileSize), true);
    const pugi::xml_parse_result r = ADoc.load_buffer(data.constData(), size_t(data.size()), pugi::parse_default,
                                                      pugi::encoding_auto);
    if (!r) return fail(QStringLiteral("%1 at offset %2").arg(QString::fromUtf8(r.description())).arg(r.offset), true);
    return TLoadResult::Loaded;
}

QByteArray ToBytes(pugi::xml_document& ADoc)
{
    SetDeclaration(ADoc);
    ByteWriter w;
    ADoc.save(w, "\t", pugi::format_default | pugi::format_write_bom, pugi::encoding_utf16_le);
    return std::move(w.bytes);
}

void Save(const QString& APath, pugi::xml_document& ADoc, bool AOwnerOnly)
{
    const QByteArray bytes = ToBytes(ADoc);
    const QByteArray target = QFile::encodeName(APath);
    QByteArray temp = target + ".XXXXXX";
    auto raise = [&](const QString& what, int err) {
        throw Exception(QStringLiteral("cannot write %1: %2 (%3)").arg(APath, what, ErrnoText(err)));
    };
    // mkstemp creates the file readable by its owner only.
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) raise(QStringLiteral("create temporary file"), errno);
    mode_t mode = AOwnerOnly ? 0600 : 0644;
    struct stat st {};
    if (::stat(target.constData(), &st) == 0) mode = (st.st_mode & 07777) & (AOwnerOnly ? 0700 : 07777);
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fdatasync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        raise(QStringLiteral("write"), err);
    }
}

} // namespace XmlFile

QString XmlText(const pugi::xml_node& ANode) { return QString::fromUtf8(ANode.child_value()); }

QString XmlName(const pugi::xml_node& ANode) { return QString::fromUtf8(ANode.name()); }

pugi::xml_node AppendTextElement(pugi::xml_node AParent, const char* AName, const QString& AValue)
{
    pugi::xml_node e = AParent.append_child(AName);
    if (!AValue.isEmpty()) e.append_child(pugi::node_pcdata).set_value(AValue.toUtf8().constData());
    return e;
}

pugi::xml_node ResetDocument(pugi::xml_document& ADoc, const char* ARootName)
{
    ADoc.reset();
    return ADoc.append_child(ARootName);
}

} // namespace pelvox
