#include "DataTestSupport.h"

namespace pelvox::test {

QByteArray MakeGif(int AWidth, int AHeight, const std::vector<std::pair<QColor, int>>& AFrames)
{
    QByteArray out("GIF89a");
    auto u16 = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    u16(AWidth);
    u16(AHeight);
    out.append(char(0x81)); // global table of 4 colours
    out.append('\0');
    out.append('\0');
    for (int i = 0; i < 4; ++i) {
        const QColor c = i < int(AFrames.size()) ? AFrames[size_t(i)].first : QColor(Qt::black);
        out.append(char(c.red()));
        out.append(char(c.green()));
        out.append(char(c.blue()));
    }
    out.append(QByteArray::fromHex("21FF0B4E45545343415045322E300301000000")); // loop forever
    for (size_t f = 0; f < AFrames.size(); ++f) {
        out.append(QByteArray::fromHex("21F904"));
        out.append('\0');
        u16(AFrames[f].second);
        out.append('\0');
        out.append('\0');
        out.append(',');
        u16(0);
        u16(0);
        u16(AWidth);
        u16(AHeight);
        out.append('\0');
        out.append(char(2)); // minimum code size
        // 3-bit codes; a clear code before every two pixels keeps the width fixed.
        QByteArray data;
        uint32_t acc = 0;
        int bits = 0;
        auto put = [&](uint32_t code) {
            acc |= code << bits;
            bits += 3;
            while (bits >= 8) {
                data.append(char(acc & 0xFF));
                acc >>= 8;
                bits -= 8;
            }
        };
        const int pixels = AWidth * AHeight;
        for (int p = 0; p < pixels; ++p) {
            if (p % 2 == 0) put(4);
            put(uint32_t(f % 4));
        }
        put(5);
        if (bits > 0) data.append(char(acc & 0xFF));
        for (int i = 0; i < data.size(); i += 255) {
            const QByteArray block = data.mid(i, 255);
            out.append(char(block.size()));
            out.append(block);
        }
        out.append('\0');
    }
    out.append(';');
    return out;
}

void AddDepartments(TBitDocument& ADoc, const std::vector<DeptRow>& ADepts, const std::vector<UserRow>& AUsers)
{
    TBitNode* deps = ADoc.Root()->AddDirectoryNode(QStringLiteral("departments"));
    int i = 0;
    for (const DeptRow& d : ADepts) {
        TBitNode* e = deps->AddDirectoryNode(QString::number(i++));
        e->AddInt64Node(QStringLiteral("$1"), d.Id);
        e->AddStringNode(QStringLiteral("$2"), d.Name);
        e->AddInt64Node(QStringLiteral("$3"), d.Parent);
    }
    TBitNode* users = ADoc.Root()->AddDirectoryNode(QStringLiteral("departmentusers"));
    i = 0;
    for (const UserRow& u : AUsers) {
        TBitNode* e = users->AddDirectoryNode(QString::number(i++));
        e->AddInt32Node(QStringLiteral("$1"), u.UserId);
        e->AddStringNode(QStringLiteral("$2"), u.UserName);
        e->AddInt16Node(QStringLiteral("$3"), 0);
        e->AddStringNode(QStringLiteral("$4"), QStringLiteral("Nick ") + u.UserName);
        e->AddStringNode(QStringLiteral("$5"), QStringLiteral("Actual ") + u.UserName);
        e->AddInt16Node(QStringLiteral("$6"), 1);
        for (int k = 1; k <= 8; ++k) e->AddStringNode(QStringLiteral("$6.%1").arg(k), QString());
        e->AddInt32Node(QStringLiteral("$7"), int32_t(u.DepartId));
        e->AddStringNode(QStringLiteral("$8"), u.DepartName);
        e->AddStringNode(QStringLiteral("$9"), u.FaceFile);
        e->AddStringNode(QStringLiteral("$10"), QString());
        e->AddInt16Node(QStringLiteral("$11"), int16_t(u.Status));
        e->AddInt32Node(QStringLiteral("$12"), 0);
        e->AddFloat64Node(QStringLiteral("$14"), u.ModifyTime);
    }
}

} // namespace pelvox::test
