#include "acquisition/sample_list.h"

#include "app/uitext.h"
#include "device/mtrans.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

bool UpdateChannelCaptions(device::DeviceLink& link, SampleList& list, MeasurementMemory& memory,
                           const app::UiText& text) {
    list.setPlainCaptions(text);
    bool answered = true;
    for (int channel = 1; channel <= 4; ++channel) {
        const int column = channel + 1;
        if (!device::selectChannelAccepted(link.SendReceive(device::selectChannelCommand(channel)),
                                           channel)) {
            answered = false;
            continue;
        }
        const std::optional<std::string> unit =
            device::parseUnit(link.SendReceive(device::kCmdUnit));
        if (!unit) {
            answered = false;
            continue;
        }
        if (unit->empty()) {
            // No unit: the channel is not connected; the unit last reported stays.
            list.setCaption(column, list.caption(column) + " (N.C.)");
        } else {
            list.setCaption(column, list.caption(column) + " (" + *unit + ")");
            memory.setChannelUnit(channel, *unit);
        }
    }
    return answered;
}

}  // namespace tarvelo::acquisition
