#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tarvelo::device {

// The command catalogue and the reading of replies. Replies are the raw
// Windows-1252 texts the exchange returns; texts handed on (units, serial
// numbers, batch names) are converted to UTF-8 here.

// SplitField: the field is rest up to the first "|" (empty when there is
// none); rest becomes at most 255 characters after the "|" (unchanged when
// there is none).
std::string SplitField(std::string& rest);

// Skips to the first sign or digit, collects signs, digits, "." and ",",
// and reads that as a decimal number ("." counts as ","); 0 when empty or
// not a valid number of that form.
double ParseDeviceNumber(std::string_view text);

struct DeviceDateTime {
    int year, month, day, hour, minute, second;
};
// Seconds since 1970-01-01 00:00:00 to a calendar date and time, no time zone.
DeviceDateTime DeviceSecondsToDateTime(uint32_t seconds);
// As a day count since 1899-12-30 with the time of day as a fraction.
double DeviceSecondsToDays(uint32_t seconds);

// Error message texts (caption "Error", stop icon), the same in every language.
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kErrX00 = "MVal";
inline constexpr const char* kErrM01 = "Get Number of Data Sets";
inline constexpr const char* kErrM11 = "Get Val Ch 1";
inline constexpr const char* kErrM40 = "Get Val Ch Time";
inline constexpr const char* kErrM21 = "Get Upper Peak ";
inline constexpr const char* kErrM31 = "Get Lower Peak ";
inline constexpr const char* kErrM5 = "Get Unit for Sensor 1";
inline constexpr const char* kErrM6 = "Get Serial Number Sensor 1";
inline constexpr const char* kSendError = "Send error";

// Command texts.
inline constexpr const char* kCmdCurrentSample = "#X00";
inline constexpr const char* kCmdStreamStart = "#L01";
inline constexpr const char* kCmdStreamStop = "#L02";
inline constexpr const char* kCmdUnit = "#Z75";
inline constexpr const char* kCmdBatchCount = "#M01";
std::string selectChannelCommand(int channel);           // "#Z001".."#Z004"
std::string batchValuesCommand(int32_t record);          // "#M11" + n
std::string batchUpperPeaksCommand(int32_t record);      // "#M21" + n
std::string batchLowerPeaksCommand(int32_t record);      // "#M31" + n
std::string batchTimeCommand(int32_t record);            // "#M40" + n
std::string batchUnitCommand(int sensor, int32_t record);    // "#M5" + s + n
std::string batchSerialCommand(int sensor, int32_t record);  // "#M6" + s + n

// "#X00": nullopt on a wrong echo; "N.C.  " fields give 0.
struct CurrentSample {
    std::array<double, 4> channel;
    double timeMs;
};
std::optional<CurrentSample> parseCurrentSample(std::string_view reply);

// "#Z00"+c: the reply must equal the command text exactly.
bool selectChannelAccepted(std::string_view reply, int channel);
// "#Z75": characters 5..24 (UTF-8), possibly empty; nullopt on a wrong echo.
std::optional<std::string> parseUnit(std::string_view reply);
// "#M01": characters 5..259 as a decimal integer, blanks around it skipped
// (0 when not one); nullopt on a wrong echo.
std::optional<int32_t> parseBatchCount(std::string_view reply);

// "#M11", "#M21", "#M31": "." replaced by "," in the whole reply, then four
// fields (texts with the decimal comma). nullopt on a wrong echo.
std::optional<std::array<std::string, 4>> parseFourFields(std::string_view reply,
                                                          std::string_view prefix);
// "#M40": time text field (ms), batch name, batch index (UTF-8).
struct BatchTime {
    double timeMs;
    std::string batch;
    std::string batchIndex;
};
std::optional<BatchTime> parseBatchTime(std::string_view reply);
// "#M5"+s / "#M6"+s: the text from the 5th character on (at most 255), UTF-8.
std::optional<std::string> parseSensorText(std::string_view reply, std::string_view prefix,
                                           int sensor);

}  // namespace tarvelo::device
