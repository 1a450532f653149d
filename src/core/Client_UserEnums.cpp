#include "core/Client_UserEnums.h"
#include "platform/Text.h"
#include <array>

namespace pelvox {

namespace {
const std::array<QString, 6>& StatusNames()
{
    static const std::array<QString, 6> names = {QStringLiteral("Offline"), QStringLiteral("Online"),
                                                  QStringLiteral("Leave"),   QStringLiteral("Busy"),
                                                  QStringLiteral("Quiet"),   QStringLiteral("Hide")};
    return names;
}
} // namespace

QString LoginStatusToStr(TLoginStatus AStatus)
{
    return size_t(AStatus) < StatusNames().size() ? StatusNames()[AStatus] : StatusNames()[0];
}

TLoginStatus StrToLoginStatus(const QString& AText)
{
    for (size_t i = 0; i < StatusNames().size(); ++i)
        if (SameText(AText, StatusNames()[i])) return TLoginStatus(i);
    return lsOffline;
}

} // namespace pelvox
