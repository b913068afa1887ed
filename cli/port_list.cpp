#include "cli/port_list.h"

#include <sstream>

namespace quillon::cli {

namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 999;

bool ParseNumber(const std::string& text, int& number) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::stoi(text);
    return number >= kLowestPort && number <= kHighestPort;
}

}  // namespace

bool ParsePortList(const std::string& text, std::vector<int>& numbers) {
    std::istringstream items(text);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        std::size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        if (dash == std::string::npos
                ? !ParseNumber(item, first)
                : !ParseNumber(item.substr(0, dash), first) ||
                      !ParseNumber(item.substr(dash + 1), last) || last < first) {
            return false;
        }
        if (dash == std::string::npos) {
            last = first;
        }
        for (int number = first; number <= last; ++number) {
            numbers.push_back(number);
        }
        any = true;
    }
    return any && text.back() != ',';
}

}  // namespace quillon::cli
