#include "platform/Text.h"
#include "platform/Exception.h"

namespace pelvox {

QString ExceptionMessage(const std::exception& e)
{
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
    return QString::fromUtf8(e.what());
}

QString TrimLeft(QStringView s)
{
    qsizetype b = 0;
    while (b < s.size() && s[b].unicode() <= 0x20) ++b;
    return s.mid(b).toString();
}

QString TrimRight(QStringView s)
{
    qsizetype e = s.size();
    while (e > 0 && s[e - 1].unicode() <= 0x20) --e;
    return s.left(e).toString();
}

QString Trim(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20) ++b;
    while (e > b && s[e - 1].unicode() <= 0x20) --e;
    return s.mid(b, e - b).toString();
}

QString UpperCase(QStringView s)
{
    QString r(s.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i) r[i] = QChar(UpCaseChar(s[i].unicode()));
    return r;
}

QString LowerCase(QStringView s)
{
    QString r(s.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i) {
        char16_t c = s[i].unicode();
        r[i] = QChar((c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c);
    }
    return r;
}

bool SameText(QStringView a, QStringView b)
{
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (UpCaseChar(a[i].unicode()) != UpCaseChar(b[i].unicode())) return false;
    return true;
}

int CompareText(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        int d = int(UpCaseChar(a[i].unicode())) - int(UpCaseChar(b[i].unicode()));
        if (d != 0) return d;
    }
    return int(a.size() - b.size());
}

bool StartsText(QStringView prefix, QStringView s)
{
    return s.size() >= prefix.size() && SameText(prefix, s.left(prefix.size()));
}

bool EndsText(QStringView suffix, QStringView s)
{
    return s.size() >= suffix.size() && SameText(suffix, s.right(suffix.size()));
}

qsizetype PosText(QStringView needle, QStringView s, qsizetype from)
{
    if (needle.isEmpty()) return -1;
    for (qsizetype i = std::max<qsizetype>(from, 0); i + needle.size() <= s.size(); ++i)
        if (SameText(needle, s.mid(i, needle.size()))) return i;
    return -1;
}

QString ReplaceText(QStringView s, QStringView from, QStringView to)
{
    if (from.isEmpty()) return s.toString();
    QString out;
    qsizetype pos = 0;
    for (;;) {
        qsizetype hit = PosText(from, s, pos);
        if (hit < 0) break;
        out += s.mid(pos, hit - pos);
        out += to;
        pos = hit + from.size();
    }
    out += s.mid(pos);
    return out;
}

size_t FoldedHash(QStringView s)
{
    size_t h = 1469598103934665603ull; // FNV-1a
    for (QChar c : s) {
        h ^= UpCaseChar(c.unicode());
        h *= 1099511628211ull;
    }
    return h;
}

QString CutText(const QString& text, int count)
{
    if (count <= 0) return QString();
    if (text.size() <= count) return text;
    return text.left(count);
}

QString BoolToText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

bool TextToBool(QStringView text) { return SameText(text, u"True"); }

namespace {
template <typename T>
T ParseInt(QStringView s, T def)
{
    if (s.isEmpty()) return def;
    qsizetype i = 0;
    bool neg = false;
    if (s[0] == u'-' || s[0] == u'+') { neg = s[0] == u'-'; ++i; }
    int base = 10;
    if (i < s.size() && s[i] == u'$') { base = 16; ++i; }
    else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) { base = 16; i += 2; }
    if (i >= s.size()) return def;
    using U = std::make_unsigned_t<T>;
    const U limit = neg ? U(std::numeric_limits<T>::max()) + 1 : U(std::numeric_limits<T>::max());
    U v = 0;
    for (; i < s.size(); ++i) {
        char16_t c = s[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
        else return def;
        if (base == 16) {
            if (v > (std::numeric_limits<U>::max() >> 4)) return def;
            v = U(v * 16 + U(d));
        } else {
            if (v > (limit - U(d)) / 10) return def;
            v = U(v * 10 + U(d));
        }
    }
    if (base == 16) return T(neg ? U(0) - v : v);
    return neg ? T(U(0) - v) : T(v);
}
} // namespace

int32_t StrToIntDef(QStringView s, int32_t def) { return ParseInt<int32_t>(s, def); }
int64_t StrToInt64Def(QStringView s, int64_t def) { return ParseInt<int64_t>(s, def); }

} // namespace pelvox
