#include "platform/DateTime.h"
#include <cmath>

namespace pelvox {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
} // namespace

TDateTime DateTimeFromFields(const QDate& date, const QTime& time)
{
    const double days = double(kEpoch.daysTo(date));
    const double ms = time.isValid() ? double(time.msecsSinceStartOfDay()) : 0.0;
    // Before the epoch the fraction still counts forward from midnight.
    return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

QDateTime DateTimeToFields(TDateTime value)
{
    if (!std::isfinite(value)) value = 0;
    double days = std::trunc(value);
    double frac = std::fabs(value - days);
    qint64 ms = qint64(std::llround(frac * kMsPerDay));
    if (ms >= qint64(kMsPerDay)) {
        ms -= qint64(kMsPerDay);
        days += value >= 0 ? 1 : -1;
    }
    const QDate date = kEpoch.addDays(qint64(days));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    return DateTimeFromFields(QDate(year, month, day), QTime(hour, minute, second, msec));
}

TDateTime NowLocal()
{
    const QDateTime now = QDateTime::currentDateTime();
    return DateTimeFromFields(now.date(), now.time());
}

TDateTime NowUTC()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return DateTimeFromFields(now.date(), now.time());
}

} // namespace pelvox
