#include "station/slot_commands.h"

#include <algorithm>
#include <cstring>

#include "platform/process.h"
#include "station/station.h"

namespace quillon {

namespace {

constexpr std::size_t kLongestIdentity = 128;

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool IsBoxIdentity(const std::string& text) {
    return !text.empty() && text.size() <= kLongestIdentity && Trimmed(text) == text &&
           std::all_of(text.begin(), text.end(), [](char c) {
               auto byte = static_cast<unsigned char>(c);
               return byte >= 0x20 && byte != 0x7F;  // UTF-8 letters pass; controls do not
           });
}

SlotCommands::SlotCommands(const SlotSpec& slot, std::string resetCommand, std::string boxIdCommand,
                           std::chrono::milliseconds timeout)
    : m_slot(slot),
      m_reset(std::move(resetCommand)),
      m_boxId(std::move(boxIdCommand)),
      m_timeout(timeout) {}

std::optional<std::string> SlotCommands::Expand(const std::string& command) const {
    const std::pair<const char*, std::string> fields[] = {{"{device}", m_slot.device},
                                                          {"{slot}", m_slot.name},
                                                          {"{port}", std::to_string(m_slot.port)}};
    std::string expanded;
    for (std::size_t at = 0; at < command.size();) {
        bool replaced = false;
        for (const auto& [name, value] : fields) {
            if (command.compare(at, std::strlen(name), name) == 0) {
                std::optional<std::string> word = QuoteForShell(value);
                if (!word) {
                    return std::nullopt;
                }
                expanded += *word;
                at += std::strlen(name);
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            expanded += command[at++];
        }
    }
    return expanded;
}

std::optional<Failure> SlotCommands::Reset(const std::stop_token& stop,
                                           const LineSink& onLine) const {
    if (m_reset.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> expanded = Expand(m_reset);
    if (!expanded) {
        return Failure{Cause::ResetCommandFailed,
                       "the reset command " + m_reset +
                           " cannot be given the slot's names: the shell has no way to quote "
                           "them"};
    }
    CommandResult result = RunShellCommand(*expanded, m_timeout, stop, onLine);
    if (result.Succeeded()) {
        return std::nullopt;
    }
    return Failure{Cause::ResetCommandFailed,
                   "the reset command " + *expanded + " " + result.Outcome()};
}

std::optional<Failure> SlotCommands::ReadBoxId(const std::stop_token& stop, const LineSink& onLine,
                                               std::string& identity) const {
    std::optional<std::string> expanded = Expand(m_boxId);
    if (!expanded) {
        return Failure{Cause::BoxIdFailed,
                       "the box identity command " + m_boxId +
                           " cannot be given the slot's names: the shell has no way to quote "
                           "them"};
    }
    std::optional<std::string> first;
    CommandResult result =
        RunShellCommand(*expanded, m_timeout, stop, [&](const std::string& line) {
            if (!first) {
                first = Trimmed(line);
            } else {
                onLine(line);
            }
        });
    std::string command = "the box identity command " + *expanded;
    if (!result.Succeeded()) {
        return Failure{Cause::BoxIdFailed, command + " " + result.Outcome()};
    }
    if (!first || first->empty()) {
        return Failure{Cause::BoxIdFailed, command + " printed nothing"};
    }
    if (!IsBoxIdentity(*first)) {
        return Failure{Cause::BoxIdFailed,
                       command +
                           " printed no identity on its first line (1 to 128 printable "
                           "characters)"};
    }
    identity = *first;
    return std::nullopt;
}

}  // namespace quillon
