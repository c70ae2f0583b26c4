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
        long i = begin;
        while (i <= end) {
            const int column = std::min(pixelColumns - 1,
                                        static_cast<int>((static_cast<double>(i) - xMin) * scale));
            // The column's lowest and highest readable points. A value that
            // could not be read (not a number) keeps its gap: wherever a gap
            // lies between two of the points drawn (or before the first or
            // after the last of the column), one of its points is drawn too.
            long minIndex = -1;
            long maxIndex = -1;
            long firstGap = -1;
            long lastGap = -1;
            long j = i;
            for (; j <= end; ++j) {
                const int c = std::min(pixelColumns - 1,
                                       static_cast<int>((static_cast<double>(j) - xMin) * scale));
                if (c != column)
                    break;
                if (std::isnan(y[j])) {
                    if (firstGap < 0)
                        firstGap = j;
                    lastGap = j;
                    continue;
                }
                if (minIndex < 0 || y[j] < y[minIndex])
                    minIndex = j;
                if (maxIndex < 0 || y[j] > y[maxIndex])
                    maxIndex = j;
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
    for (std::size_t i = 0; i < n; ++i) {
        const double v = y[i];
        if (std::isnan(v))
            continue;
        const double x = static_cast<double>(i);
        if (empty) {
            empty = false;
            xMin = xMax = x;
            yMin = yMax = v;
            continue;
        }
        if (x < xMin)
            xMin = x;
        if (x > xMax)
            xMax = x;
        if (v < yMin)
            yMin = v;
        if (v > yMax)
            yMax = v;
    }
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
