#include "DateTimeFormat.h"

#include <cstdio>
#include <string_view>

namespace platform {

namespace {

// The first character of a Qt date/time pattern that stands between two fields: not a
// letter, not a blank and not inside quoted literal text.
QString FirstSeparator(const QString& pattern) {
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !c.isLetter() && !c.isSpace()) return QString(c);
    }
    return {};
}

std::string Padded(int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    return buf;
}

enum class Field { None, Year, MonthName, MonthOrMinute, Day, Hour, Minute, Second };

struct Specifier {
    const char* text;
    Field field;
};

// Longer specifiers first, so that "mmm" wins over "mm".
constexpr Specifier specifiers[] = {
    {"yyyy", Field::Year}, {"mmm", Field::MonthName}, {"mm", Field::MonthOrMinute},
    {"dd", Field::Day},    {"hh", Field::Hour},       {"nn", Field::Minute},
    {"ss", Field::Second},
};

} // namespace

std::string DateSeparator(const QLocale& locale) {
    const QString sep = FirstSeparator(locale.dateFormat(QLocale::ShortFormat));
    return sep.isEmpty() ? "/" : sep.toStdString();
}

std::string TimeSeparator(const QLocale& locale) {
    const QString sep = FirstSeparator(locale.timeFormat(QLocale::LongFormat));
    return sep.isEmpty() ? ":" : sep.toStdString();
}

std::string FormatDateTime(const std::string& format, const QDateTime& moment,
                           const QLocale& locale) {
    const QDate date = moment.date();
    const QTime time = moment.time();
    std::string out;
    Field previous = Field::None;
    std::size_t i = 0;
    while (i < format.size()) {
        Field field = Field::None;
        for (const Specifier& s : specifiers) {
            const std::string_view text(s.text);
            if (format.compare(i, text.size(), text) == 0) {
                field = s.field;
                i += text.size();
                break;
            }
        }
        switch (field) {
        case Field::Year:
            out += Padded(date.year(), 4);
            break;
        case Field::MonthName:
            out += locale.monthName(date.month(), QLocale::ShortFormat).toStdString();
            break;
        case Field::MonthOrMinute:
            // "hh:mm" means minutes; anywhere else mm is the month.
            out += Padded(previous == Field::Hour ? time.minute() : date.month(), 2);
            break;
        case Field::Day:
            out += Padded(date.day(), 2);
            break;
        case Field::Hour:
            out += Padded(time.hour(), 2);
            break;
        case Field::Minute:
            out += Padded(time.minute(), 2);
            break;
        case Field::Second:
            out += Padded(time.second(), 2);
            break;
        case Field::None:
            if (format[i] == '/')
                out += DateSeparator(locale);
            else if (format[i] == ':')
                out += TimeSeparator(locale);
            else
                out += format[i];
            ++i;
            continue; // literal text does not break "hh" ... "mm"
        }
        previous = field;
    }
    return out;
}

} // namespace platform
