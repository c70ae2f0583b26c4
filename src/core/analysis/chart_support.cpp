#include "analysis/chart_support.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/numbers.h"

namespace tarvelo::analysis {

std::optional<double> preferredYStep(double range) {
    const double r = std::fabs(range);
    std::optional<double> step;
    // Later rules override earlier ones: the smallest threshold that holds wins.
    if (r < 10)
        step = 0.1;
    if (r < 1)
        step = 0.01;
    if (r < 0.1)
        step = 0.001;
    if (r < 0.01)
        step = 0.0001;
    if (r < 0.001)
        step = 0.00001;
    return step;
}

namespace {

// A step of the 1-2-5 series: mantissa 1, 2 or 5 times ten to `exponent`.
struct NiceStep {
    int mantissa = 1;
    int exponent = 0;

    double value() const {
        // Dividing by an exact power of ten keeps 0.1, 0.01 ... as exact as
        // the literals (10^k is exact up to 10^22).
        return exponent >= 0 ? mantissa * std::pow(10.0, exponent)
                             : mantissa / std::pow(10.0, -exponent);
    }
    NiceStep next() const {
        if (mantissa == 1)
            return {2, exponent};
        if (mantissa == 2)
            return {5, exponent};
        return {1, exponent + 1};
    }
};

// The smallest 1-2-5 step not below `raw` (> 0, finite).
NiceStep niceStepAtLeast(double raw) {
    NiceStep step{1, static_cast<int>(std::floor(std::log10(raw)))};
    while (step.value() < raw * (1 - 1e-12))
        step = step.next();
    return step;
}

}  // namespace

bool yLabelsFit(std::size_t count, double spacing, const YLabelRoom& room) {
    // The toolkit's own test, term for term, so that rounding agrees too.
    const bool whole =
        room.axisHeight / static_cast<double>(count + 1) - 2 * room.padding >= room.textHeight;
    return whole && (count < 2 || spacing >= room.textHeight + 1);
}

void yLabelTicks(double lo, double hi, double step, std::vector<double>& out, std::size_t limit) {
    out.clear();
    if (!(step > 0) || !std::isfinite(lo) || !std::isfinite(hi) || !std::isfinite(step))
        return;
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    for (double i = first; i <= last && out.size() < limit; i += 1)
        out.push_back(i * step);
}

std::size_t yLabelCount(double lo, double hi, double step) {
    if (!(step > 0) || !std::isfinite(lo) || !std::isfinite(hi) || !std::isfinite(step))
        return 0;
    const double first = std::ceil(lo / step - 1e-9);
    const double last = std::floor(hi / step + 1e-9);
    return last >= first ? static_cast<std::size_t>(last - first) + 1 : 0;
}

double yLabelStep(double lo, double hi, std::optional<double> preferred, const YLabelRoom& room,
                  double autoSpacing) {
    const double range = hi - lo;
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(range > 0) || !std::isfinite(range) ||
        !yLabelsFit(1, 0, room))
        return 0.0;
    NiceStep step;
    double scale = 1.0;  // a preferred step that is not a power of ten
    if (preferred && *preferred > 0 && std::isfinite(*preferred)) {
        step.exponent = static_cast<int>(std::lround(std::log10(*preferred)));
        if (std::fabs(step.value() - *preferred) > *preferred * 1e-9) {
            step.exponent = 0;
            scale = *preferred;
        }
    } else {
        const double slots = std::max(2.0, std::floor(room.plotHeight / autoSpacing));
        step = niceStepAtLeast(range / slots);
    }
    // Each round at least doubles the step, and one label fits: a few hundred
    // rounds at most.
    for (int round = 0; round < 4000; ++round) {
        const double value = scale * step.value();
        const std::size_t count = yLabelCount(lo, hi, value);
        if (count == 0 || yLabelsFit(count, value / range * room.plotHeight, room))
            break;
        step = step.next();
    }
    return scale * step.value();
}

std::string formatAxisLabel(double value, std::string_view decimalSep, std::string_view groupSep) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";

    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    if (res.ec != std::errc())
        return {};
    std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));

    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const auto dot = text.find('.');
    std::string_view intPart = text.substr(0, dot);
    std::string_view fraction =
        dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    const bool zero = fraction.empty() && intPart.find_first_not_of('0') == std::string_view::npos;

    std::string out;
    out.reserve(intPart.size() * (1 + groupSep.size()) + fraction.size() + decimalSep.size() + 1);
    if (negative && !zero)
        out += '-';
    for (std::size_t i = 0; i < intPart.size(); ++i) {
        if (i > 0 && (intPart.size() - i) % 3 == 0)
            out += groupSep;
        out += intPart[i];
    }
    if (!fraction.empty()) {
        out += decimalSep;
        out.append(fraction);
    }
    return out;
}

std::string formatLimit(double value, char decimalSep) {
    return common::formatFixed(value, 2, decimalSep);
}

namespace {

void copyAll(const double* y, std::size_t n, std::vector<Point>& out) {
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = {static_cast<double>(i), y[i]};
}

}  // namespace

void reduceMinMax(const double* y, std::size_t n, double xMin, double xMax, int pixelColumns,
                  std::vector<Point>& out) {
    out.clear();
    if (n == 0)
        return;
    if (pixelColumns <= 0 || !std::isfinite(xMin) || !std::isfinite(xMax) || !(xMin < xMax) ||
        n <= 2 * static_cast<std::size_t>(pixelColumns)) {
        copyAll(y, n, out);
        return;
    }

    const double last = static_cast<double>(n - 1);
    // Visible indices begin..end (inclusive); may be empty when the range lies
    // beside the data.
    const double lo = std::ceil(std::clamp(xMin, -1.0, last + 1.0));
    const double hi = std::floor(std::clamp(xMax, -1.0, last + 1.0));
    const long begin = static_cast<long>(std::max(lo, 0.0));
    const long end = static_cast<long>(std::min(hi, last));

    out.reserve(static_cast<std::size_t>(pixelColumns) * 2 + 2);
    auto emit = [&](long i) { out.push_back({static_cast<double>(i), y[i]}); };

    // The nearest point left of the range, so the line entering it is drawn.
    const long before = std::min(begin, static_cast<long>(n)) - 1;
    if (before >= 0 && static_cast<double>(before) < xMin)
        emit(before);

    if (begin <= end) {
        const double scale = pixelColumns / (xMax - xMin);
        auto columnOf = [&](long i) {
            return std::min(pixelColumns - 1,
                            static_cast<int>((static_cast<double>(i) - xMin) * scale));
        };
        long i = begin;
        while (i <= end) {
            const int column = columnOf(i);
            // The column's last index: estimated, then settled with the same
            // rounding that placed i, so that each index lands in its column.
            long j = std::clamp(static_cast<long>(std::ceil(xMin + (column + 1) / scale)), i + 1,
                                end + 1);
            while (j <= end && columnOf(j) == column)
                ++j;
            while (j - 1 > i && columnOf(j - 1) != column)
                --j;
            // The column's lowest and highest readable points. A value that
            // could not be read (not a number) keeps its gap: wherever a gap
            // lies between two of the points drawn (or before the first or
            // after the last of the column), one of its points is drawn too.
            long minIndex = -1;
            long maxIndex = -1;
            long firstGap = -1;
            long lastGap = -1;
            for (long k = i; k < j; ++k) {
                if (std::isnan(y[k])) {
                    if (firstGap < 0)
                        firstGap = k;
                    lastGap = k;
                    continue;
                }
                if (minIndex < 0 || y[k] < y[minIndex])
                    minIndex = k;
                if (maxIndex < 0 || y[k] > y[maxIndex])
                    maxIndex = k;
            }
            long middleGap = -1;
            if (firstGap >= 0 && minIndex >= 0) {
                const long lo = std::min(minIndex, maxIndex);
                const long hi = std::max(minIndex, maxIndex);
                if (firstGap < hi && lastGap > lo) {
                    for (long k = lo + 1; k < hi; ++k) {
                        if (std::isnan(y[k])) {
                            middleGap = k;
                            break;
                        }
                    }
                }
            }
            long picked[5] = {minIndex, maxIndex, firstGap, middleGap, lastGap};
            std::sort(std::begin(picked), std::end(picked));
            long previous = -1;
            for (long index : picked) {
                if (index >= 0 && index != previous)
                    emit(index);
                previous = index;
            }
            i = j;
        }
    }

    // The nearest point right of the range, so the line leaving it is drawn.
    const long after = std::max(end, begin - 1) + 1;
    if (after < static_cast<long>(n) && static_cast<double>(after) > xMax)
        emit(after);
}

void Extents::add(const double* y, std::size_t n) {
    // The first and last values that are numbers bound X; a comparison with
    // a value that is not a number is false, so those leave Y as it is.
    std::size_t first = 0;
    while (first < n && std::isnan(y[first]))
        ++first;
    if (first == n)
        return;
    std::size_t last = n - 1;
    while (std::isnan(y[last]))
        --last;
    double lo = y[first];
    double hi = y[first];
    for (std::size_t i = first + 1; i <= last; ++i) {
        const double v = y[i];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
    const double x0 = static_cast<double>(first);
    const double x1 = static_cast<double>(last);
    if (empty) {
        empty = false;
        xMin = x0;
        xMax = x1;
        yMin = lo;
        yMax = hi;
        return;
    }
    xMin = std::min(xMin, x0);
    xMax = std::max(xMax, x1);
    yMin = std::min(yMin, lo);
    yMax = std::max(yMax, hi);
}

Extents seriesExtents(const std::array<std::vector<double>, 4>& values,
                      const std::array<bool, 4>& attached) {
    Extents e;
    for (std::size_t k = 0; k < 4; ++k) {
        if (attached[k])
            e.add(values[k].data(), values[k].size());
    }
    return e;
}

void splitChannels(const std::vector<acquisition::SampleRow>& rows,
                   std::array<std::vector<double>, 4>& values) {
    for (std::size_t k = 0; k < 4; ++k)
        values[k].resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t k = 0; k < 4; ++k)
            values[k][i] = rows[i].channel[k];
    }
}

}  // namespace tarvelo::analysis
