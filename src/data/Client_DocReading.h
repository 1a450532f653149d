#pragma once
#include <QStringView>

namespace pelvox {

// Entries of list nodes in login answers are named "$1", "$2" ... and "$6.1";
// this gives major * 100 + minor ("$6.1" -> 601, "$12" -> 1200), -1 otherwise.
inline int DollarSlot(QStringView AName)
{
    if (AName.size() < 2 || AName[0] != u'$') return -1;
    int major = 0, minor = 0, i = 1;
    for (; i < AName.size() && AName[i].isDigit() && major < 1000; ++i) major = major * 10 + (AName[i].unicode() - u'0');
    if (i == 1) return -1;
    if (i < AName.size()) {
        if (AName[i] != u'.' || i + 1 >= AName.size()) return -1;
        for (++i; i < AName.size() && AName[i].isDigit() && minor < 99; ++i) minor = minor * 10 + (AName[i].unicode() - u'0');
        if (i < AName.size() || minor > 99) return -1;
    }
    return major * 100 + minor;
}

} // namespace pelvox
