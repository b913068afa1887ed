#include "station/slot_labels.h"

#include <algorithm>

#include "station/station.h"

namespace quillon {

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\' || c == '-' || c == '_' || c == '.' || c == ' ' || c == ':';
}

std::string LastPart(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How many leading characters every path shares, ended at a separator.
std::size_t SharedHead(const std::vector<std::string>& paths) {
    std::size_t shared = paths.front().size();
    for (const std::string& path : paths) {
        auto differ = std::mismatch(paths.front().begin(), paths.front().begin() + shared,
                                    path.begin(), path.end());
        shared = static_cast<std::size_t>(differ.first - paths.front().begin());
    }
    while (shared > 0 && !IsSeparator(paths.front()[shared - 1])) {
        --shared;
    }
    return shared;
}

// How many trailing characters every path shares past its head, begun at a
// separator.
std::size_t SharedTail(const std::vector<std::string>& paths, std::size_t head) {
    std::size_t shared = std::string::npos;
    for (const std::string& path : paths) {
        std::size_t room = path.size() - head;
        auto differ = std::mismatch(paths.front().rbegin(), paths.front().rend(), path.rbegin(),
                                    path.rbegin() + static_cast<std::ptrdiff_t>(room));
        shared = std::min(shared, static_cast<std::size_t>(differ.first - paths.front().rbegin()));
    }
    const std::string& first = paths.front();
    while (shared > 0 && !IsSeparator(first[first.size() - shared])) {
        --shared;
    }
    return shared;
}

}  // namespace

std::vector<std::string> DistinctParts(const std::vector<std::string>& paths) {
    std::vector<std::string> parts;
    if (paths.size() < 2) {
        for (const std::string& path : paths) {
            parts.push_back(LastPart(path));
        }
        return parts;
    }
    std::size_t head = SharedHead(paths);
    std::size_t tail = SharedTail(paths, head);
    for (const std::string& path : paths) {
        std::string part = path.substr(head, path.size() - head - tail);
        while (!part.empty() && IsSeparator(part.back())) {
            part.pop_back();
        }
        parts.push_back(part.empty() ? LastPart(path) : part);
    }
    return parts;
}

void FillSlotLabels(std::vector<SlotSpec>& slots) {
    std::vector<std::string> devices;
    for (const SlotSpec& slot : slots) {
        devices.push_back(slot.device);
    }
    std::vector<std::string> parts = DistinctParts(devices);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        SlotSpec& slot = slots[i];
        if (!slot.label.empty()) {
            continue;
        }
        bool named = !slot.name.empty() && slot.name != slot.device;
        slot.label = named ? slot.name : parts[i];
    }
}

}  // namespace quillon
