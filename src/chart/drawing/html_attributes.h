#pragma once
// The attributes of markup tags and what the FONT tag does with them.
#include <string>
#include <vector>

#include "platform/vcl/graphics.h"

namespace chart {

struct THtmlAttribute {
    std::string Name;
    std::string Value;
};

// The attributes of a tag body: one per "=". A name is the trimmed text
// before its "="; its value runs to the last blank before the next "=" (the
// last one to the end), trimmed, with one pair of surrounding double quotes
// removed, so values may hold blanks ("Courier New").
std::vector<THtmlAttribute> HtmlAttributes(const std::string& Body);

// One pair of surrounding double quotes removed.
std::string HtmlUnquote(const std::string& Value);

// A colour value: "BLACK", "RED", "BLUE", "YELLOW", "WHITE", "GREEN",
// "LIME" (any case), "#RRGGBB", or a colour name or number of the class
// library. Raises EConvertError for anything else (also for "#" with fewer
// than six digits).
vcl::TColor HtmlColor(const std::string& Value);

// A FONT tag ("<FONT NAME=... SIZE=... COLOR=... WEIGHT=...>") applied to
// Font. SIZE "+n" or "-n" is added to the size in points, any other number
// becomes it (sizes held to +-32767 points); WEIGHT is "NORMAL" or a comma
// list of BOLD, ITALIC, UNDERLINE, STRIKE and becomes the whole style.
// Raises Exception "Unknown field in FONT: <name>" or "Unknown field in
// FONT WEIGHT=<word>", and EConvertError for numbers it cannot read.
void ApplyHtmlFont(vcl::TFont& Font, const std::string& Tag);

// Size in points held to what a font can be given.
int HtmlFontSize(long long Points);

}  // namespace chart
