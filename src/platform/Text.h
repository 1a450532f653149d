#pragma once
#include <QString>
#include <QStringView>

// Text rules of the original run-time library. Never use QString::trimmed or
// Qt::CaseInsensitive where these rules apply: they differ outside ASCII.
namespace pelvox {

// Removes code units <= 0x20 at both ends.
QString Trim(QStringView s);
QString TrimLeft(QStringView s);
QString TrimRight(QStringView s);

// Case folding of a-z onto A-Z only; every other code unit stays.
inline char16_t UpCaseChar(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }
QString UpperCase(QStringView s);
QString LowerCase(QStringView s);
bool SameText(QStringView a, QStringView b);
// <0, 0, >0 like the original CompareText (folded code units, then length).
int CompareText(QStringView a, QStringView b);
bool StartsText(QStringView prefix, QStringView s);
bool EndsText(QStringView suffix, QStringView s);
// Position of the first occurrence of needle in s without regard to case, or -1.
qsizetype PosText(QStringView needle, QStringView s, qsizetype from = 0);
// Replaces every occurrence of from (without regard to case) by to.
QString ReplaceText(QStringView s, QStringView from, QStringView to);
// Hash of the a-z folded text, for fast case-insensitive lookups.
size_t FoldedHash(QStringView s);

// The first count UTF-16 code units of text (empty for count <= 0).
QString CutText(const QString& text, int count);

// "True"/"False"; TextToBool is true exactly for "True" without regard to case.
QString BoolToText(bool value);
bool TextToBool(QStringView text);

// Decimal parsing like StrToIntDef: optional sign, digits, surrounding blanks
// not allowed; hexadecimal with "$" or "0x". Returns def on any failure.
int32_t StrToIntDef(QStringView s, int32_t def);
int64_t StrToInt64Def(QStringView s, int64_t def);

} // namespace pelvox
