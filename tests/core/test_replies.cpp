#include <gtest/gtest.h>

#include <string>

#include "device/replies.h"

using namespace tarvelo::device;

TEST(RepliesParseDeviceNumber, SkipsToTheNumberAndStopsAtOtherCharacters) {
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(" 12.5 N"), 12.5);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("12,5"), 12.5);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("-0.003"), -0.003);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("+7"), 7.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1e5"), 1.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("x.5"), 5.0);  // the "." before the first digit is skipped
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.25|4.5|"), 3.25);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("5."), 5.0);
}

TEST(RepliesParseDeviceNumber, InvalidOrEmptyTextsGiveZero) {
    EXPECT_EQ(ParseDeviceNumber(""), 0.0);
    EXPECT_EQ(ParseDeviceNumber("N.C.  "), 0.0);
    EXPECT_EQ(ParseDeviceNumber("N.C. "), 0.0);
    EXPECT_EQ(ParseDeviceNumber("1.2.3"), 0.0);
    EXPECT_EQ(ParseDeviceNumber("1,2.3"), 0.0);
    EXPECT_EQ(ParseDeviceNumber("+-5"), 0.0);
    EXPECT_EQ(ParseDeviceNumber("5-"), 0.0);
    EXPECT_EQ(ParseDeviceNumber("-"), 0.0);
    EXPECT_EQ(ParseDeviceNumber("-,"), 0.0);
    EXPECT_EQ(ParseDeviceNumber(std::string(400, '9')), 0.0);  // out of range
}

TEST(RepliesParseDeviceNumber, ThirteenDigitMillisecondsAreExact) {
    EXPECT_EQ(ParseDeviceNumber("1718000123456"), 1718000123456.0);
    EXPECT_EQ(ParseDeviceNumber("9999999999999|"), 9999999999999.0);
    EXPECT_EQ(ParseDeviceNumber("0.1"), 0.1);  // correctly rounded
}

TEST(RepliesSplitField, TakesFieldsInOrderAndLimitsTheRest) {
    std::string rest = "1.5|abc||x";
    EXPECT_EQ(SplitField(rest), "1.5");
    EXPECT_EQ(rest, "abc||x");
    EXPECT_EQ(SplitField(rest), "abc");
    EXPECT_EQ(SplitField(rest), "");
    EXPECT_EQ(rest, "x");
    // No "|": empty field, rest unchanged.
    EXPECT_EQ(SplitField(rest), "");
    EXPECT_EQ(rest, "x");

    std::string longRest = "a|" + std::string(300, 'b');
    SplitField(longRest);
    EXPECT_EQ(longRest.size(), 255u);
}

TEST(RepliesCommands, TextsAndArguments) {
    EXPECT_EQ(selectChannelCommand(3), "#Z003");
    EXPECT_EQ(batchValuesCommand(0), "#M110");
    EXPECT_EQ(batchUpperPeaksCommand(12), "#M2112");
    EXPECT_EQ(batchLowerPeaksCommand(10240), "#M3110240");
    EXPECT_EQ(batchTimeCommand(7), "#M407");
    EXPECT_EQ(batchUnitCommand(2, 15), "#M5215");
    EXPECT_EQ(batchSerialCommand(4, 0), "#M640");
}

TEST(RepliesCurrentSample, FieldsNotConnectedAndWrongEcho) {
    auto s = parseCurrentSample("#X001.5|-2,25|N.C.  |N.C. |1718000123456|");
    ASSERT_TRUE(s);
    EXPECT_DOUBLE_EQ(s->channel[0], 1.5);
    EXPECT_DOUBLE_EQ(s->channel[1], -2.25);
    EXPECT_EQ(s->channel[2], 0.0);
    EXPECT_EQ(s->channel[3], 0.0);  // one blank only: not the marker, still 0
    EXPECT_EQ(s->timeMs, 1718000123456.0);

    // Missing fields are empty and give 0.
    auto missing = parseCurrentSample("#X001|2|");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->channel[1], 2.0);
    EXPECT_EQ(missing->channel[2], 0.0);
    EXPECT_EQ(missing->timeMs, 0.0);

    EXPECT_FALSE(parseCurrentSample(""));
    EXPECT_FALSE(parseCurrentSample("#X0"));
    EXPECT_FALSE(parseCurrentSample("#ERR1|2|3|4|5|"));
}

TEST(RepliesCurrentSample, FieldsBeyond255CharactersAreEmpty) {
    const std::string reply = "#X00" + std::string(252, '1') + "|2|3|4|5|";
    auto s = parseCurrentSample(reply);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->channel[1], 2.0);
    EXPECT_EQ(s->channel[2], 0.0);  // "3|" lies past character 259
    EXPECT_EQ(s->timeMs, 0.0);
}

TEST(RepliesSelectAndUnit, EchoChecks) {
    EXPECT_TRUE(selectChannelAccepted("#Z003", 3));
    EXPECT_FALSE(selectChannelAccepted("#Z003 ", 3));
    EXPECT_FALSE(selectChannelAccepted("#Z00", 3));
    EXPECT_FALSE(selectChannelAccepted("#Z001", 3));

    EXPECT_EQ(parseUnit("#Z75"), std::string());
    EXPECT_EQ(parseUnit("#Z75N"), "N");
    EXPECT_EQ(parseUnit("#Z75" + std::string(30, 'u')), std::string(20, 'u'));
    EXPECT_FALSE(parseUnit("#Z7"));
    EXPECT_FALSE(parseUnit("#ERRmm"));
}

TEST(RepliesSelectAndUnit, WindowsUnitsArriveAsUtf8) {
    EXPECT_EQ(parseUnit("#Z75\xB0"
                        "C"),
              "\xC2\xB0"
              "C");
    EXPECT_EQ(parseUnit("#Z75\xB5m"), "\xC2\xB5m");
    // The 20 characters are counted in the instrument's bytes.
    const std::string units = std::string(19, 'a') +
                              "\xB0"
                              "xyz";
    EXPECT_EQ(parseUnit("#Z75" + units), std::string(19, 'a') + "\xC2\xB0");
}

TEST(RepliesBatchCount, IntegerOrZero) {
    EXPECT_EQ(parseBatchCount("#M010"), 0);
    EXPECT_EQ(parseBatchCount("#M0110240"), 10240);
    EXPECT_EQ(parseBatchCount("#M01abc"), 0);
    EXPECT_EQ(parseBatchCount("#M01"), 0);
    EXPECT_EQ(parseBatchCount("#M0112x"), 0);
    EXPECT_EQ(parseBatchCount("#M0199999999999"), 0);
    // Blanks around the count are not part of the number; inside it they are.
    EXPECT_EQ(parseBatchCount("#M01 2"), 2);
    EXPECT_EQ(parseBatchCount("#M01  +7 \t"), 7);
    EXPECT_EQ(parseBatchCount("#M01\t-1 "), -1);
    EXPECT_EQ(parseBatchCount("#M01 1 2"), 0);
    EXPECT_EQ(parseBatchCount("#M01   "), 0);
    EXPECT_FALSE(parseBatchCount("#M02 5"));
    EXPECT_FALSE(parseBatchCount(""));
}

TEST(RepliesBatchFields, DecimalCommaAndEcho) {
    auto dot = parseFourFields("#M111.5|2.25|-3|4.125|", "#M11");
    auto comma = parseFourFields("#M111,5|2,25|-3|4,125|", "#M11");
    ASSERT_TRUE(dot && comma);
    EXPECT_EQ(*dot, *comma);
    EXPECT_EQ((*dot)[1], "2,25");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ParseDeviceNumber((*dot)[i]), ParseDeviceNumber((*comma)[i]));

    auto peaks = parseFourFields("#M219.5|", "#M21");
    ASSERT_TRUE(peaks);
    EXPECT_EQ((*peaks)[0], "9,5");
    EXPECT_EQ((*peaks)[3], "");
    EXPECT_FALSE(parseFourFields("#M211|2|3|4|", "#M31"));
    EXPECT_FALSE(parseFourFields("", "#M11"));
}

TEST(RepliesBatchFields, TimeNameAndIndex) {
    auto t = parseBatchTime(
        "#M401718000123456|Charge \xC4"
        "1|7|");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->timeMs, 1718000123456.0);
    EXPECT_EQ(t->batch,
              "Charge \xC3\x84"
              "1");
    EXPECT_EQ(t->batchIndex, "7");

    auto empty = parseBatchTime("#M40123||3|");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->batch, "");
    EXPECT_EQ(empty->batchIndex, "3");
    EXPECT_FALSE(parseBatchTime("#M41123|a|b|"));
}

TEST(RepliesBatchFields, SensorUnitAndSerialTexts) {
    EXPECT_EQ(parseSensorText("#M52\xB5m|x", "#M5", 2), "\xC2\xB5m|x");
    EXPECT_EQ(parseSensorText("#M64SN-1004", "#M6", 4), "SN-1004");
    EXPECT_EQ(parseSensorText("#M51", "#M5", 1), "");
    EXPECT_EQ(parseSensorText("#M61" + std::string(300, 's'), "#M6", 1)->size(), 255u);
    EXPECT_FALSE(parseSensorText("#M52N", "#M5", 1));
    EXPECT_FALSE(parseSensorText("#M51N", "#M6", 1));
}
