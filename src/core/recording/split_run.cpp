#include "recording/split_run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace tarvelo::recording {

namespace {

constexpr std::string_view kPartSuffix = ".part";

// A part's path taken apart: FOLDER/STEM-NNNN.EXT[.part].
struct PartName {
    std::string path;
    std::string run;  // FOLDER/STEM and .EXT: what all parts of the run share
    uint64_t number = 0;
    bool unfinished = false;
};

// The part number at the end of `stem` ("-0001", four digits or more).
std::optional<uint64_t> partNumber(std::string_view stem, std::size_t& at) {
    std::size_t digits = 0;
    while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' &&
           stem[stem.size() - 1 - digits] <= '9')
        ++digits;
    if (digits < 4 || digits > 18 || digits == stem.size() || stem[stem.size() - 1 - digits] != '-')
        return std::nullopt;
    at = stem.size() - digits - 1;
    return std::stoull(std::string(stem.substr(at + 1)));
}

std::optional<PartName> parse(const std::string& path) {
    PartName part;
    part.path = path;
    // "./a/run-0001.csv" and "a/run-0001.csv" are one file.
    std::string name = std::filesystem::path(path).lexically_normal().string();
    if (name.size() > kPartSuffix.size() && name.ends_with(kPartSuffix)) {
        part.unfinished = true;
        name.resize(name.size() - kPartSuffix.size());
    }
    const auto slash = name.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    // FILE-0001.ext, or FILE-0001 for a name without an extension.
    const auto dot = name.find_last_of('.');
    std::size_t at = 0;
    if (dot != std::string::npos && dot > base) {
        if (auto number = partNumber(std::string_view(name).substr(base, dot - base), at)) {
            part.number = *number;
            part.run = name.substr(0, base + at) + '\n' + name.substr(dot);
            return part;
        }
    }
    if (auto number = partNumber(std::string_view(name).substr(base), at)) {
        part.number = *number;
        part.run = name.substr(0, base + at) + '\n';
        return part;
    }
    return std::nullopt;
}

// The path of part `number` of the run `part` belongs to, written as the
// recorder names it.
std::string partPath(const PartName& part, uint64_t number) {
    const auto cut = part.run.find('\n');
    char counter[32];
    std::snprintf(counter, sizeof counter, "-%04llu", static_cast<unsigned long long>(number));
    return part.run.substr(0, cut) + counter + part.run.substr(cut + 1);
}

}  // namespace

RunOrder orderSplitRun(const std::vector<std::string>& paths) {
    RunOrder order;
    if (paths.size() <= 1) {
        order.paths = paths;
        return order;
    }
    std::vector<PartName> parts;
    for (const auto& path : paths) {
        auto part = parse(path);
        if (!part) {
            order.fault = RunFault::NotAPart;
            order.file = path;
            return order;
        }
        if (!parts.empty() && part->run != parts.front().run) {
            order.fault = RunFault::OtherRun;
            order.file = path;
            order.other = parts.front().path;
            return order;
        }
        parts.push_back(std::move(*part));
    }
    std::stable_sort(parts.begin(), parts.end(),
                     [](const PartName& a, const PartName& b) { return a.number < b.number; });
    for (std::size_t k = 1; k < parts.size(); ++k) {
        if (parts[k].number == parts[k - 1].number) {
            order.fault = RunFault::Twice;
            order.file = parts[k - 1].path;
            order.other = parts[k].path;
            return order;
        }
        if (parts[k].number != parts[k - 1].number + 1) {
            order.fault = RunFault::Missing;
            order.file = partPath(parts[k - 1], parts[k - 1].number + 1);
            return order;
        }
    }
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
        if (parts[k].unfinished) {
            order.fault = RunFault::Unfinished;
            order.file = parts[k].path;
            return order;
        }
    }
    for (const auto& part : parts)
        order.paths.push_back(part.path);
    return order;
}

}  // namespace tarvelo::recording
