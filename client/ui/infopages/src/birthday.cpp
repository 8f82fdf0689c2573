#include "talvorine/client/ui/infopages/birthday.h"

#include <charconv>
#include <cstdio>
#include <vector>

namespace talvorine::infopages {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

int NumberOrZero(std::string_view text, int low, int high) {
    text = Trim(text);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        return 0;
    }
    return value;
}

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int month, int year) {
    switch (month) {
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        case 2:
            return IsLeapYear(year) ? 29 : 28;
        default:
            return 31;
    }
}

Birthday ParseBirthday(std::string_view text, int lastYear) {
    std::vector<std::string_view> parts;
    while (parts.size() < 3) {
        std::size_t slash = text.find('/');
        parts.push_back(text.substr(0, slash));
        if (slash == std::string_view::npos) {
            break;
        }
        text.remove_prefix(slash + 1);
    }
    Birthday birthday;
    if (parts.size() != 3) {
        return birthday;
    }
    birthday.year = NumberOrZero(parts[0], FirstBirthYear, lastYear);
    birthday.month = NumberOrZero(parts[1], 1, 12);
    birthday.day = NumberOrZero(parts[2], 1, 31);
    return birthday;
}

std::string FormatBirthday(const Birthday& birthday) {
    char text[32];
    std::string year = birthday.year > 0 ? std::to_string(birthday.year) : "----";
    std::string month = "--", day = "--";
    if (birthday.month > 0) {
        std::snprintf(text, sizeof(text), "%02d", birthday.month);
        month = text;
    }
    if (birthday.day > 0) {
        std::snprintf(text, sizeof(text), "%02d", birthday.day);
        day = text;
    }
    return year + "/" + month + "/" + day;
}

}  // namespace talvorine::infopages
