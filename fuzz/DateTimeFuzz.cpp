// The date/time formatter: any pattern, any moment, a few locales. Literal text comes out
// unchanged, and the log's own pattern agrees with the fields Qt gives for the moment.
#include "Require.h"
#include "platform/DateTimeFormat.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string Two(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QLocale locales[] = {QLocale::c(), QLocale("en_US"), QLocale("de_DE"),
                                      QLocale("fi_FI"), QLocale("ja_JP")};
    FuzzedDataProvider in(data, size);
    const QLocale& locale = locales[in.ConsumeIntegralInRange<std::size_t>(0, 4)];
    // Up to about 3,000 years either side of 1970, and now and then anything at all.
    const qint64 ms = in.ConsumeBool() ? in.ConsumeIntegral<qint64>()
                                       : in.ConsumeIntegralInRange<qint64>(-1e14, 1e14);
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    const std::string format = in.ConsumeRemainingBytesAsString();

    platform::FormatDateTime(format, moment, locale);

    std::string literal;
    for (char c : format)
        if (std::string_view("dmyhns/:").find(c) == std::string_view::npos) literal += c;
    fuzz::Require(platform::FormatDateTime(literal, moment, locale) == literal,
                  "literal text comes out unchanged");

    const QDate d = moment.date();
    const QTime t = moment.time();
    if (d.year() < 1 || d.year() > 9999) return 0;
    char year[8];
    std::snprintf(year, sizeof year, "%04d", d.year());
    const std::string sep = platform::TimeSeparator(locale);
    const std::string expected =
        Two(d.day()) + " " + locale.monthName(d.month(), QLocale::ShortFormat).toStdString() + " " +
        year + " " + Two(t.hour()) + sep + Two(t.minute()) + sep + Two(t.second());
    fuzz::Require(platform::FormatDateTime("dd mmm yyyy hh:nn:ss", moment, locale) == expected,
                  "the log's time stamp: " + expected);
    return 0;
}
