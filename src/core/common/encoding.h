#pragma once

#include <string>
#include <string_view>

namespace tarvelo::common {

// The instrument, the settings file and every file the program writes use the
// Windows-1252 code page; the core works in UTF-8 throughout. These convert
// exactly at that boundary (glibc iconv).
//
// Windows-1252 leaves the bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined.
// They are mapped to the C1 control characters of the same value (U+0081 and
// so on), as the platform the files come from does, so that any byte sequence
// survives a round trip unchanged.
std::string cp1252ToUtf8(std::string_view bytes);

// Characters that Windows-1252 cannot represent become '?'. Invalid UTF-8
// input bytes become '?' as well.
std::string utf8ToCp1252(std::string_view text);

// Text that claims to be UTF-8 (a file with the UTF-8 byte-order mark) as
// valid UTF-8: each byte that is not part of a well-formed sequence becomes
// U+FFFD, the replacement character.
std::string repairUtf8(std::string_view text);

}  // namespace tarvelo::common
