#pragma once
// The two readers behind MailDate::parse, apart so that they can be held
// against each other: the common RFC 5322 form read by hand, and the full
// set of ICU patterns. Both take the text as MailDate::parse has prepared it.
#include <optional>
#include <string>
#include <string_view>

#include "Mime/MailDate.h"

namespace bx::maildate {

// "[Ddd, ]d MMM yyyy HH:mm:ss +hhmm" exactly (single blanks, English names as
// written, a year from 1900 to 2199): the value the ICU patterns give for it.
// Nothing for any other text, including a weekday that does not fit the date,
// which the patterns then judge.
std::optional<MailDate::TimePoint> readCommonForm(std::string_view text);

// The patterns of MailDate::patterns(), tried in order.
std::optional<MailDate::TimePoint> readWithICU(const std::string& text);

}  // namespace bx::maildate
