#pragma once
#include <QDateTime>
#include <QTimeZone>

namespace pelvox {

// Days since 1899-12-30, time of day as the fraction (an OLE Automation date).
using TDateTime = double;

// Wall-clock conversions without any zone: the date-time's fields as they are.
TDateTime DateTimeFromFields(const QDate& date, const QTime& time);
QDateTime DateTimeToFields(TDateTime value); // a QDateTime in Qt::UTC carrying the fields
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0);
TDateTime NowLocal();
TDateTime NowUTC();

} // namespace pelvox
