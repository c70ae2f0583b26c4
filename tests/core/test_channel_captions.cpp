#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "acquisition/measurement_memory.h"
#include "acquisition/sample_list.h"
#include "app/settings.h"
#include "app/uitext.h"
#include "device/mtrans.h"
#include "sim/instrument.h"
#include "support.h"

using namespace std::chrono_literals;
using namespace tarvelo;

namespace {

struct Captions : ::testing::Test {
    sim::Instrument instrument;
    app::Settings settings;
    std::atomic<int32_t> timeoutMs{static_cast<int32_t>(test::kNotReached.count())};
    test::RecordingObserver observer;
    acquisition::MeasurementMemory memory;
    acquisition::SampleList list;
    app::UiText text;

    void SetUp() override {
        ASSERT_TRUE(instrument.start());
        settings.setIpServer("127.0.0.1");
        settings.port = instrument.commandPort();
        text.applyLanguage(1);
    }

    void update() {
        device::DeviceLink link(settings, timeoutMs, &observer, {5ms, 300ms});
        ASSERT_EQ(link.ConnectServer(), 0);
        acquisition::UpdateChannelCaptions(link, list, memory, text);
        link.DisconnectServer();
    }
    std::string channel(int n) const { return text[6 + n]; }
};

}  // namespace

TEST_F(Captions, UnitsAndNotConnectedChannels) {
    memory.setChannelUnit(3, "V");  // an earlier unit of the channel that is now not connected
    update();
    EXPECT_EQ(list.caption(1), text[6]);
    EXPECT_EQ(list.caption(2), channel(1) + " (N)");
    EXPECT_EQ(list.caption(3), channel(2) + " (mm)");
    EXPECT_EQ(list.caption(4), channel(3) + " (N.C.)");
    // "°C" arrives as the Windows-1252 bytes B0 43 and is shown as UTF-8.
    EXPECT_EQ(list.caption(5), channel(4) +
                                   " (\xC2\xB0"
                                   "C)");
    EXPECT_EQ(memory.channelUnit(1), "N");
    EXPECT_EQ(memory.channelUnit(2), "mm");
    EXPECT_EQ(memory.channelUnit(3), "V");
    EXPECT_EQ(memory.channelUnit(4),
              "\xC2\xB0"
              "C");
    EXPECT_EQ(instrument.commandLog(),
              (std::vector<std::string>{"#Z001", "#Z75", "#Z002", "#Z75", "#Z003", "#Z75", "#Z004",
                                        "#Z75"}));
    EXPECT_EQ(channel(1), "Channel 1");
}

TEST_F(Captions, WrongEchoesLeaveTheCaption) {
    instrument.overrideReply("#Z003", "#Z003 ");
    update();
    EXPECT_EQ(list.caption(4), channel(3));
    EXPECT_EQ(list.caption(2), channel(1) + " (N)");
    // The unit of channel 3 was not asked for.
    EXPECT_EQ(instrument.commandLog().size(), 7u);

    instrument.clearReplyOverrides();
    instrument.overrideReply("#Z75", "#ERRkg");
    update();  // the captions start plain again
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(list.caption(n + 1), channel(n));
    EXPECT_EQ(memory.channelUnit(2), "mm");  // units from before stay
}

