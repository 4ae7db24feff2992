#pragma once
// Splits a language-file value into items, for the component rules that take several
// texts from one value (button caption and hint, list entries, column captions...).
//
// Items are separated by commas and by unquoted blanks or controls (bytes 1..32), so an
// item with a blank in it must be written in double quotes; a doubled double quote inside
// quotes stands for one, and a quote that is never closed takes the rest of the value.
// Two commas in a row give an empty item between them, a leading comma an empty first
// item and a comma that is the value's last character an empty last item. An empty value
// gives no items. A NUL ends the value: nothing after it is read.

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitCommaList(std::string_view value);
