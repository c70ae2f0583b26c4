#include "acquisition/batch_readout.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <optional>
#include <vector>

#include "acquisition/sample_list.h"
#include "common/atomic_file.h"
#include "common/encoding.h"
#include "device/mtrans.h"
#include "device/replies.h"

namespace tarvelo::acquisition {

const char* const kBatchFileHeader =
    "Nr.\tDate/Time\tCh1\tCh2\tCh3\tCh4\tBatch\tiBatch\tUpper Peak 1\tUpper Peak 2\t"
    "Upper Peak 3\tUpper Peak 4\tLower Peak 1\tLower Peak 2\tLower Peak 3\tLower Peak 4\t"
    "Unit 1\tUnit 2\tUnit 3\tUnit 4\tSerial 1\tSerial 2\tSerial 3\tSerial 4";

namespace {

// The link of one readout. Once a connection cannot be opened, the
// instrument is taken as gone: the readout stops there rather than trying
// every further query (each would fail too, or wait for the platform's
// connect time-out) and making up rows or lines from nothing. An instrument
// that accepts connections but does not answer is taken as gone after
// kSilentQueriesLost queries in a row without a single byte of reply.
struct Readout {
    device::DeviceLink& link;
    BatchUi& ui;
    bool lost = false;
    bool silent = false;  // lost through kSilentQueriesLost silent queries
    bool cancelled = false;
    int silentInARow = 0;
    bool stopped() const { return lost || cancelled; }
};

// One query on a connection of its own. nullopt when the connection could
// not be opened (or an earlier one of the readout could not), or when the
// instrument sent nothing back: the query then does nothing and shows
// nothing (the link has put its status text up).
std::optional<std::string> query(Readout& readout, const std::string& command) {
    if (readout.stopped())
        return std::nullopt;
    if (readout.ui.cancelRequested()) {
        readout.cancelled = true;
        return std::nullopt;
    }
    if (readout.link.ConnectServer() != 0) {
        readout.lost = true;
        return std::nullopt;
    }
    std::string reply = readout.link.SendReceive(command);
    const bool silent = readout.link.lastReplySilent();
    readout.link.DisconnectServer();
    if (silent) {
        if (++readout.silentInARow >= kSilentQueriesLost)
            readout.lost = readout.silent = true;
        return std::nullopt;
    }
    readout.silentInARow = 0;
    return reply;
}

// "#M01": N, or nullopt after the connection failed or the message was shown.
std::optional<int32_t> readCount(Readout& link, BatchUi& ui) {
    const auto reply = query(link, device::kCmdBatchCount);
    if (!reply)
        return std::nullopt;
    const auto count = device::parseBatchCount(*reply);
    if (!count)
        ui.error(device::kErrM01);
    return count;
}

// The four texts of "#M11", "#M21" or "#M31" (decimal comma); nullopt when
// the query did nothing or failed (its message is then shown).
std::optional<std::array<std::string, 4>> fourFields(Readout& link, const std::string& command,
                                                     const char* message, BatchUi& ui) {
    const auto reply = query(link, command);
    if (!reply)
        return std::nullopt;
    auto fields = device::parseFourFields(*reply, command.substr(0, 4));
    if (!fields)
        ui.error(message);
    return fields;
}

std::optional<device::BatchTime> batchTime(Readout& link, int32_t record, BatchUi& ui) {
    const auto reply = query(link, device::batchTimeCommand(record));
    if (!reply)
        return std::nullopt;
    auto time = device::parseBatchTime(*reply);
    if (!time)
        ui.error(device::kErrM40);
    return time;
}

std::string recordLine(Readout& link, int32_t record, BatchUi& ui) {
    // A failed time query leaves time, batch and iBatch empty, so no text of
    // another record can end up in this line.
    std::string timeText, batch, batchIndex;
    if (const auto time = batchTime(link, record, ui)) {
        timeText = FormatSampleTime(time->timeMs);
        batch = time->batch;
        batchIndex = time->batchIndex;
    }

    std::string line = std::to_string(static_cast<int64_t>(record) + 1);
    line += '\t';
    line += timeText;

    // A failed value, peak, unit or serial query leaves its fields empty, so
    // every later field stays in the column its header names.
    auto appendFields = [&](const std::optional<std::array<std::string, 4>>& fields) {
        for (int k = 0; k < 4; ++k) {
            line += '\t';
            if (fields)
                line += (*fields)[k];
        }
    };
    appendFields(fourFields(link, device::batchValuesCommand(record), device::kErrM11, ui));
    line += '\t';
    line += batch;
    line += '\t';
    line += batchIndex;
    appendFields(fourFields(link, device::batchUpperPeaksCommand(record), device::kErrM21, ui));
    appendFields(fourFields(link, device::batchLowerPeaksCommand(record), device::kErrM31, ui));

    if (!batch.empty()) {
        auto appendSensorText = [&](const std::string& command, const char* prefix, int sensor,
                                    const char* message) {
            line += '\t';
            const auto reply = query(link, command);
            if (!reply)
                return;
            const auto text = device::parseSensorText(*reply, prefix, sensor);
            if (!text) {
                ui.error(message);
                return;
            }
            line += *text;
        };
        for (int sensor = 1; sensor <= 4; ++sensor)
            appendSensorText(device::batchUnitCommand(sensor, record), "#M5", sensor,
                             device::kErrM5);
        for (int sensor = 1; sensor <= 4; ++sensor)
            appendSensorText(device::batchSerialCommand(sensor, record), "#M6", sensor,
                             device::kErrM6);
    }
    return line;
}

BatchEnd endOf(const Readout& readout) {
    if (readout.cancelled)
        return BatchEnd::Cancelled;
    return readout.lost ? BatchEnd::Lost : BatchEnd::Complete;
}

}  // namespace

bool batchToMemory(device::DeviceLink& deviceLink, MeasurementMemory& memory, BatchUi& ui,
                   BatchSummary* summary) {
    BatchSummary local;
    BatchSummary& result = summary ? *summary : local;
    result = BatchSummary{};
    Readout link{deviceLink, ui};
    const auto count = readCount(link, ui);
    if (!count) {
        if (link.cancelled)
            result.end = BatchEnd::Cancelled;
        return false;
    }
    result.records = std::max<int64_t>(0, static_cast<int64_t>(*count) + 1);
    ui.progressStart(static_cast<int>(std::min<int64_t>(result.records, INT_MAX)));

    bool appended = false;
    std::vector<SampleRow> pending;
    auto flush = [&] {
        for (const SampleRow& row : pending) {
            memory.AppendSample(row);
            ui.rowAppended(row);
            appended = true;
            ++result.read;
            ui.progress(static_cast<int>(std::min<int64_t>(result.read, INT_MAX)));
        }
        pending.clear();
    };
    // Records 0..N; int64 so that a count of INT32_MAX cannot overflow.
    for (int64_t i = 0; i <= *count; ++i) {
        const auto record = static_cast<int32_t>(i);
        // A fresh row: a failed query leaves its fields not-a-number (shown
        // empty, left out of the statistics and the graph) instead of a
        // measured-looking zero or whatever an earlier row held.
        SampleRow row{};
        constexpr double kUnread = std::numeric_limits<double>::quiet_NaN();
        std::fill(std::begin(row.channel), std::end(row.channel), kUnread);
        row.timeMs = kUnread;
        if (const auto values =
                fourFields(link, device::batchValuesCommand(record), device::kErrM11, ui)) {
            for (int channel = 0; channel < 4; ++channel)
                row.channel[channel] = device::ParseDeviceNumber((*values)[channel]);
        }
        if (const auto time = batchTime(link, record, ui))
            row.timeMs = time->timeMs;
        // A record that could not be read whole is not stored.
        if (link.stopped())
            break;
        row.deviceFlag = 0;
        // A record whose last query got no answer waits until a later one is
        // answered: should the instrument turn out to be gone, it is not
        // stored with fields that merely timed out.
        pending.push_back(row);
        if (link.silentInARow == 0)
            flush();
    }
    if (!link.stopped())
        flush();
    result.end = endOf(link);
    result.silent = link.silent;
    ui.progressFinish();
    return appended;
}

BatchFileResult batchToFile(device::DeviceLink& deviceLink, const std::string& path, BatchUi& ui,
                            std::string* error, BatchSummary* summary, EarlyEnd earlyEnd) {
    BatchSummary local;
    BatchSummary& result = summary ? *summary : local;
    result = BatchSummary{};
    Readout link{deviceLink, ui};
    const auto reply = query(link, device::kCmdBatchCount);
    if (!reply) {
        if (link.cancelled) {
            result.end = BatchEnd::Cancelled;
            return BatchFileResult::Cancelled;
        }
        return BatchFileResult::NoConnection;
    }
    const auto count = device::parseBatchCount(*reply);
    if (!count) {
        ui.error(device::kErrM01);
        return BatchFileResult::CountError;
    }

    const int64_t records = std::max<int64_t>(0, static_cast<int64_t>(*count) + 1);
    result.records = records;
    ui.progressStart(static_cast<int>(std::min<int64_t>(records, INT_MAX)));

    std::string text = kBatchFileHeader;
    text += "\r\n";
    // The header and the records read whole. A record whose last queries got
    // no answer counts as read once a later record ends with an answer (or
    // the readout completes): should the instrument turn out to be gone, its
    // line is not kept.
    std::size_t kept = text.size();
    for (int64_t i = 0; i < records; ++i) {
        const std::string line = recordLine(link, static_cast<int32_t>(i), ui);
        if (link.stopped()) {
            result.end = endOf(link);
            result.silent = link.silent;
            if (earlyEnd == EarlyEnd::WriteRecordsRead) {
                // The records read whole go to the file; the one begun is
                // left out.
                text.resize(kept);
                deviceLink.DisconnectServer();
                const bool written =
                    common::writeFileAtomically(path, common::utf8ToCp1252(text), error);
                ui.progressFinish();
                return written ? BatchFileResult::PartWritten : BatchFileResult::WriteFailed;
            }
            // An incomplete readout does not replace the file.
            ui.progressFinish();
            return link.cancelled ? BatchFileResult::Cancelled : BatchFileResult::NoConnection;
        }
        text += line;
        text += "\r\n";
        if (link.silentInARow == 0) {
            kept = text.size();
            result.read = i + 1;
        }
        ui.progress(static_cast<int>(std::min<int64_t>(i + 1, INT_MAX)));
    }
    result.read = records;
    result.end = BatchEnd::Complete;
    deviceLink.DisconnectServer();

    const bool written = common::writeFileAtomically(path, common::utf8ToCp1252(text), error);
    const int reason = errno;
    ui.progressFinish();
    errno = reason;
    return written ? BatchFileResult::Written : BatchFileResult::WriteFailed;
}

}  // namespace tarvelo::acquisition
