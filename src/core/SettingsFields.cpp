#include "core/SettingsFields.h"

namespace pelvox {

std::optional<int32_t> TextToIntOpt(QStringView AText)
{
    // Two different fallbacks tell "not a number" apart from any number.
    const int32_t a = StrToIntDef(AText, 0);
    if (a != 0) return a;
    if (StrToIntDef(AText, 1) == 0) return 0;
    return std::nullopt;
}

void ReadBoolText(const QString& AText, bool& AValue)
{
    const QString t = Trim(AText);
    if (SameText(t, u"True")) AValue = true;
    else if (SameText(t, u"False")) AValue = false;
    else if (const auto n = TextToIntOpt(t)) AValue = *n != 0;
}

QString ReadPathText(const QString& AText) { return ToLocalSeparators(DecodeAppRootPath(Trim(AText))); }

TIntRule KeepOrDefault(int32_t ALow, int32_t AHigh)
{
    return [=](std::optional<int32_t> n, int32_t current, int32_t def) {
        if (!n) return current;
        return *n >= ALow && *n <= AHigh ? *n : def;
    };
}

TIntRule MapNumber(int32_t ANotNumber, std::function<int32_t(int32_t)> AMap)
{
    return [=](std::optional<int32_t> n, int32_t, int32_t) { return AMap(n.value_or(ANotNumber)); };
}

} // namespace pelvox
