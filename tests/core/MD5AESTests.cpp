#include "core/AES.h"
#include "core/MD5.h"
#include <QBuffer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <random>

using namespace pelvox;

namespace {

QByteArray RandomBytes(std::mt19937& rng, qsizetype n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (char& c : b)
        c = char(rng());
    return b;
}

TMD5Digest OpenSSLMD5(const QByteArray& data)
{
    TMD5Digest d;
    EVP_Digest(data.constData(), size_t(data.size()), d.data(), nullptr, EVP_md5(), nullptr);
    return d;
}

QByteArray OpenSSLAES(const QByteArray& data, const TAESKey& key, bool encrypt)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    QByteArray out(data.size() + 16, '\0');
    int n = 0, m = 0;
    EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                     reinterpret_cast<const unsigned char*>(data.constData()), int(data.size()));
    EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n + m);
    return out;
}

QByteArray ZeroPadded(QByteArray b)
{
    b.append(QByteArray((16 - b.size() % 16) % 16, '\0'));
    return b;
}

} // namespace

TEST(MD5, AgreesWithOpenSSLOnRandomInputs)
{
    std::mt19937 rng(1);
    for (qsizetype n : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 1000, 4095, 4096, 4097, 100000}) {
        const QByteArray data = RandomBytes(rng, n);
        EXPECT_EQ(MD5Buffer(data.constData(), size_t(n)), OpenSSLMD5(data)) << n;
        // Fed in uneven pieces.
        TMD5Context ctx;
        for (qsizetype pos = 0; pos < n;) {
            const qsizetype piece = std::min<qsizetype>(n - pos, qsizetype(rng() % 100));
            ctx.Update(data.constData() + pos, size_t(piece));
            pos += piece;
        }
        EXPECT_EQ(ctx.Final(), OpenSSLMD5(data)) << n;
    }
}

TEST(MD5, TextsHashTheLowByteOfEachCodeUnit)
{
    EXPECT_EQ(MD5TextToHex("abc", false), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(MD5TextToHex("abc", true), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(MD5TextToHex("", true), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5String(QString(QChar(0x0141))), MD5String("A"));
    EXPECT_EQ(MD5String(QString(QChar(0x9ED8))), OpenSSLMD5(QByteArray(1, char(0xD8))));
    // Longer than the internal conversion buffer.
    QString longText(10000, QChar(0x0161));
    EXPECT_EQ(MD5String(longText), OpenSSLMD5(QByteArray(10000, char(0x61))));
    EXPECT_EQ(PasswordDigest("abc"), "900150983CD24FB0D6963F7D28E17F72");
}

TEST(MD5, FilesAgreeWithOpenSSL)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::mt19937 rng(2);
    for (qsizetype n : {0, 8191, 8192, 8193}) {
        const QByteArray data = RandomBytes(rng, n);
        const QString name = dir.filePath(QString::number(n));
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        f.close();
        EXPECT_EQ(MD5File(name), OpenSSLMD5(data)) << n;
    }
    // 100 MiB, sparse: a few bytes of data at both ends, zeros between.
    const int64_t big = int64_t(100) << 20;
    const QString name = dir.filePath("big");
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("head");
    ASSERT_TRUE(f.resize(big - 4));
    f.seek(big - 4);
    f.write("tail");
    f.close();
    ASSERT_EQ(QFileInfo(name).size(), big);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    const QByteArray zeros(1 << 20, '\0');
    EVP_DigestUpdate(ctx, "head", 4);
    int64_t left = big - 8;
    for (; left > 0; left -= zeros.size())
        EVP_DigestUpdate(ctx, zeros.constData(), size_t(std::min<int64_t>(left, zeros.size())));
    EVP_DigestUpdate(ctx, "tail", 4);
    TMD5Digest expected;
    EVP_DigestFinal_ex(ctx, expected.data(), nullptr);
    EVP_MD_CTX_free(ctx);
    EXPECT_EQ(MD5File(name), expected);

    EXPECT_THROW(MD5File(dir.filePath("missing")), Exception);
}

TEST(Ids, AreLowerCaseDigestsOfNewGUIDs)
{
    EXPECT_TRUE(QRegularExpression("^\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$").match(NewGUIDText()).hasMatch());
    const QRegularExpression hex32("^[0-9a-f]{32}$");
    const QString a = NewMessageId(), b = NewTransferId();
    EXPECT_TRUE(hex32.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(hex32.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, NewMessageId());
}

TEST(AES, Fips197Vector)
{
    const TAESKey key = AESKeyFromBytes(QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"));
    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray cipher = QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    EXPECT_EQ(AESEncryptECB(plain, key), cipher);
    EXPECT_EQ(AESDecryptECB(cipher, key), plain);
}

TEST(AES, AgreesWithOpenSSLOnRandomInputs)
{
    std::mt19937 rng(3);
    for (qsizetype n : {1, 15, 16, 17, 31, 32, 100, 4096, 5000}) {
        const QByteArray key = RandomBytes(rng, 16), data = RandomBytes(rng, n);
        const TAESKey k = AESKeyFromBytes(key);
        const QByteArray cipher = AESEncryptECB(data, k);
        EXPECT_EQ(cipher, OpenSSLAES(ZeroPadded(data), k, true)) << n;
        EXPECT_EQ(AESDecryptECB(cipher, k), ZeroPadded(data)) << n;
        EXPECT_EQ(AESDecryptECB(ZeroPadded(data), k), OpenSSLAES(ZeroPadded(data), k, false)) << n;
    }
}

TEST(AES, KeyTextRules)
{
    const QString text = "Hello, world";
    const QString key40 = "0123456789ABCDEF0123456789ABCDEF01234567";
    EXPECT_EQ(EncryptTextToHex(text, key40), EncryptTextToHex(text, key40.left(16)));
    EXPECT_EQ(EncryptTextToHex(text, "abcde"), EncryptTextToHex(text, QString("abcde") + QString(11, QChar(0))));
    // Low bytes of the characters, not UTF-8 and not hex-decoded.
    EXPECT_EQ(AESKeyFromText(QString(QChar(0x9ED8)) + "1"), AESKeyFromBytes(QByteArray("\xD8" "1")));
    EXPECT_EQ(AESKeyFromText(""), TAESKey{});
}

TEST(AES, TextHexRoundTrips)
{
    struct Case {
        QString text;
        int digits;
    };
    const Case cases[] = {
        {"", 32}, {"1234567", 32}, {"12345678", 64}, {"123456789012345", 64}, {QString::fromUtf16(u"密码\u00ff"), 32},
    };
    for (const Case& c : cases) {
        const QString hex = EncryptTextToHex(c.text, "key text");
        EXPECT_EQ(hex.size(), c.digits) << c.text.toStdString();
        EXPECT_EQ(hex, hex.toUpper());
        EXPECT_EQ(DecryptHexToText(hex, "key text"), c.text);
        EXPECT_EQ(DecryptHexToText(hex.toLower(), "key text"), c.text);
    }
    EXPECT_EQ(DecryptHexToText("", "key"), "");
}

TEST(AES, HexAndSizeErrors)
{
    try {
        DecryptHexToText(QString(30, u'A'), "key");
        FAIL();
    } catch (const EAESError& e) {
        EXPECT_EQ(e.Message(), "Invalid buffer size for decryption");
    }
    EXPECT_THROW(HexTextToBytes("0G"), Exception);
    EXPECT_EQ(HexTextToBytes("0aFf1"), QByteArray("\x0a\xff\x01", 3));
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("old contents");
    HexTextToStream("4142", buffer);
    EXPECT_EQ(buffer.data(), "AB");
    EXPECT_EQ(buffer.pos(), 0);
    EXPECT_EQ(StreamToHexText(buffer), "4142");
}

TEST(AES, StreamsSelectTheirBytes)
{
    std::mt19937 rng(4);
    const TAESKey key = AESKeyFromText("stream key");
    const QByteArray data = RandomBytes(rng, 64);
    auto encrypt = [&](qsizetype pos, int64_t count) {
        QByteArray src = data, dst;
        QBuffer in(&src), out(&dst);
        in.open(QIODevice::ReadOnly);
        out.open(QIODevice::WriteOnly);
        in.seek(pos);
        EncryptStreamECB(in, count, key, out);
        return dst;
    };
    EXPECT_EQ(encrypt(30, 0), AESEncryptECB(data, key));           // count 0: whole source
    EXPECT_EQ(encrypt(10, 100), AESEncryptECB(data.mid(10), key)); // 54 bytes into 64
    EXPECT_EQ(encrypt(10, 100).size(), 64);
    EXPECT_EQ(encrypt(64, 5), QByteArray());

    for (qsizetype n : {4096, 4097}) {
        QByteArray src = RandomBytes(rng, n), dst;
        QBuffer in(&src), out(&dst);
        in.open(QIODevice::ReadOnly);
        out.open(QIODevice::WriteOnly);
        in.seek(7);
        if (n % 16 == 0) {
            DecryptStreamWithKeyText(in, out, "package key");
            EXPECT_EQ(dst, AESDecryptECB(src, AESKeyFromText("package key")));
        } else {
            EXPECT_THROW(DecryptStreamWithKeyText(in, out, "package key"), EAESError);
            EXPECT_TRUE(dst.isEmpty());
        }
    }
}
