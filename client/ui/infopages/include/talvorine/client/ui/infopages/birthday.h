#pragma once
// The birthday text of a profile and the rules of its month, day and year controls.
//
// The text is "YYYY/MM/DD" with zeros ("1990/05/07"); an unset year is "----", an unset
// month or day "--". Texts padded with blanks (" 5" for May) read the same.

#include <string>
#include <string_view>

namespace talvorine::infopages {

// The first year the year control offers.
inline constexpr int FirstBirthYear = 1900;

struct Birthday {
    int year = 0;   // 0: unset
    int month = 0;  // 0: unset ("--"), else 1..12
    int day = 0;    // 0: unset ("--"), else 1..31
};

// Days of `month` (0 for "--") in `year` (0 for an empty year, which counts as a leap year):
// 30 for April, June, September and November; 29 or 28 for February; 31 for the others and
// for "--".
int DaysInMonth(int month, int year);
bool IsLeapYear(int year);

// Reads "%4s/%2s/%2s": a part that is not a number is unset, and so is a year outside
// FirstBirthYear..`lastYear` and a month or day out of its range. A text that does not have
// three parts gives an unset birthday.
Birthday ParseBirthday(std::string_view text, int lastYear);
std::string FormatBirthday(const Birthday& birthday);

}  // namespace talvorine::infopages
