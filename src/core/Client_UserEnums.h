#pragma once
#include "core/Client_Enums.h"
#include <QString>
#include <cstdint>

namespace pelvox {

enum TUserSex : uint8_t { usNone = 0, usMan = 1, usWomen = 2, usSecret = 3 };
enum TJoinMeSetting : uint8_t { jmsAllowAll = 0, jmsNotAllow = 1, jmsNeedConfirm = 2, jmsNeedAnswer = 3 };

// Sex as documents carry it: 1, 2 and 3 are kept, anything else is usNone.
inline TUserSex SexFromWire(int32_t AValue)
{
    return (AValue >= 1 && AValue <= 3) ? TUserSex(AValue) : usNone;
}

// "Offline", "Online", "Leave", "Busy", "Quiet", "Hide".
QString LoginStatusToStr(TLoginStatus AStatus);
// Without regard to case; an unknown text gives lsOffline.
TLoginStatus StrToLoginStatus(const QString& AText);

} // namespace pelvox
