#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "acquisition/sample_list.h"
#include "acquisition/sample_row.h"

namespace tarvelo::files {

// Comma-separated values (RFC 4180) of samples, UTF-8: a header row
// "Number,Time," and the list's channel captions, then per row, oldest first,
// numbered from 1: the number, the time in ISO 8601 with milliseconds (empty
// when it cannot be shown) and the four channel values ("%.5f", "." as the
// decimal point, whatever the regional format). Lines end with CR LF.
inline constexpr std::string_view kCsvLineEnd{"\r\n"};

// A field as RFC 4180 writes it: quoted, with quotes doubled, when it holds
// a comma, a quote, CR or LF; unchanged otherwise.
std::string csvField(std::string_view text);

// The lines with their line end, for output written as it goes: the header,
// and the line of the sample numbered `number`.
std::string csvHeaderLine(const acquisition::SampleList& list);
void appendCsvLine(std::string& out, uint64_t number, const acquisition::SampleRow& row);

// The whole text.
std::string csvText(std::span<const acquisition::SampleRow> rows,
                    const acquisition::SampleList& list);

}  // namespace tarvelo::files
