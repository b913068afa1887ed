#include "station/results_log.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "initfiles/wire.h"
#include "platform/file.h"
#include "station/json_text.h"

namespace quillon {

namespace {

// Seconds to the millisecond: what the phases are measured to.
double Rounded(double seconds) {
    return static_cast<double>(static_cast<long long>(seconds * 1000 + 0.5)) / 1000;
}

PhaseTimes PhasesOf(const Json& phases) {
    return {phases.value("wait", 0.0), phases.value("download", 0.0), phases.value("erase", 0.0),
            phases.value("burn", 0.0)};
}

Json PhasesJson(const PhaseTimes& phases) {
    return {{"wait", Rounded(phases.wait)},
            {"download", Rounded(phases.download)},
            {"erase", Rounded(phases.erase)},
            {"burn", Rounded(phases.burn)}};
}

// A whole number field within its range (the fallback where there is none);
// false for any other value, which the field could not hold.
template <typename Whole>
bool ReadWhole(const Json& parsed, const char* key, Whole least, Whole& value) {
    auto found = parsed.find(key);
    if (found == parsed.end()) {
        return true;
    }
    if (found->is_number_unsigned() && std::in_range<Whole>(found->get<std::uint64_t>())) {
        value = static_cast<Whole>(found->get<std::uint64_t>());
    } else if (found->is_number_integer() && std::in_range<Whole>(found->get<std::int64_t>())) {
        value = static_cast<Whole>(found->get<std::int64_t>());
    } else {
        return false;
    }
    return value >= least;
}

}  // namespace

std::string IsoTimeNow() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis.count()));
    return text;
}

std::string CsvField(const std::string& text) {
    // A spreadsheet takes a cell that begins so for a formula and runs it
    // (a slot's name, a box's scan, a message from a forged log); a leading
    // quote keeps it text, as OWASP advises.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    const std::string cell = formula ? "'" + text : text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (char c : cell) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// The columns that came later go last, so that an import made for the
// earlier ones still finds its columns.
const char* const kCsvRecordHeader =
    "start,end,station,slot,device,verdict,caption,message,reason,series,bytes,seconds,exit,"
    "trace,cause,box,operator,lot,attempts\r\n";

std::string CsvRecordRow(const BoxRecord& record) {
    // Whatever the locale: a decimal comma would split the field.
    char seconds[32];
    auto written = std::to_chars(seconds, seconds + sizeof seconds, record.seconds,
                                 std::chars_format::fixed, 3);
    const std::string fields[] = {
        record.start,
        record.end,
        record.station,
        record.slot,
        record.device,
        record.verdict,
        record.caption,
        record.message,
        record.reason,
        record.series,
        std::to_string(record.bytes),
        written.ec == std::errc() ? std::string(seconds, written.ptr) : std::string(),
        std::to_string(record.exit),
        record.trace,
        record.cause,
        record.box,
        record.operatorName,
        record.lot,
        std::to_string(record.attempts)};
    std::string row;
    for (const std::string& field : fields) {
        row += (&field == fields ? "" : ",") + CsvField(field);
    }
    return row + "\r\n";
}

std::string RecordLine(const BoxRecord& record) {
    Json line = {
        {"schema", BoxRecord::kSchema}, {"start", record.start}, {"end", record.end},
        {"station", record.station},    {"slot", record.slot},   {"device", record.device}};
    if (record.adapter) {
        line["adapter"] = {{"vendor_id", record.adapter->vendorId},
                           {"product_id", record.adapter->productId},
                           {"maker", record.adapter->maker},
                           {"serial", record.adapter->serial},
                           {"by_id", record.adapter->byId}};
    }
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"box", record.box},
                                     {"operator", record.operatorName},
                                     {"lot", record.lot}}) {
        if (!value.empty()) {
            line[key] = value;
        }
    }
    line["version"] = record.version;
    line["series"] = record.series;
    line["start_address"] = Hex(record.startAddress, 8);
    line["bytes"] = record.bytes;
    line["phases"] = PhasesJson(record.phases);
    line["attempts"] = record.attempts;
    if (!record.tries.empty()) {
        Json tries = Json::array();
        for (const AttemptRecord& attempt : record.tries) {
            tries.push_back({{"cause", attempt.cause}, {"phases", PhasesJson(attempt.phases)}});
        }
        line["tries"] = tries;
    }
    line["verdict"] = record.verdict;
    if (!record.cause.empty()) {
        line["cause"] = record.cause;
    }
    line["caption"] = record.caption;
    line["message"] = record.message;
    if (!record.reason.empty()) {
        line["reason"] = record.reason;
    }
    line["exit"] = record.exit;
    if (!record.trace.empty()) {
        line["trace"] = record.trace;
    }
    return JsonText(line);
}

std::optional<BoxRecord> ParseRecordLine(const std::string& line) {
    Json parsed = Json::parse(line, nullptr, false);
    if (!parsed.is_object() || parsed.value("schema", 0) != BoxRecord::kSchema) {
        return std::nullopt;
    }
    try {
        BoxRecord record;
        record.start = parsed.at("start").get<std::string>();
        record.end = parsed.value("end", "");
        record.station = parsed.value("station", "");
        record.slot = parsed.value("slot", "");
        record.device = parsed.value("device", "");
        record.box = parsed.value("box", "");
        record.operatorName = parsed.value("operator", "");
        record.lot = parsed.value("lot", "");
        record.series = parsed.value("series", "");
        if (!ReadWhole(parsed, "bytes", std::uint64_t{0}, record.bytes) ||
            !ReadWhole(parsed, "attempts", 1, record.attempts) ||
            !ReadWhole(parsed, "exit", 0, record.exit)) {
            return std::nullopt;
        }
        record.verdict = parsed.at("verdict").get<std::string>();
        record.cause = parsed.value("cause", "");
        if (auto tries = parsed.find("tries"); tries != parsed.end() && tries->is_array()) {
            for (const Json& attempt : *tries) {
                record.tries.push_back({attempt.value("cause", ""),
                                        PhasesOf(attempt.value("phases", Json::object()))});
            }
        }
        record.caption = parsed.value("caption", "");
        record.message = parsed.value("message", "");
        record.reason = parsed.value("reason", "");
        record.trace = parsed.value("trace", "");
        record.phases = PhasesOf(parsed.at("phases"));
        return record;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

ResultsLog::ResultsLog() = default;
ResultsLog::~ResultsLog() = default;

bool ResultsLog::Open(const std::string& path) {
    auto file = std::make_unique<File>();
    if (!file->Open(path, File::Mode::Append)) {
        m_openError = file->OpenFault().words;
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_file = std::move(file);
    m_path = path;
    return true;
}

bool ResultsLog::IsOpen() const {
    return m_file != nullptr;
}

std::string ResultsLog::Append(const BoxRecord& record) {
    std::lock_guard lock(m_mutex);
    if (!m_file) {
        return {};
    }
    m_held.push_back(RecordLine(record));
    return WriteHeld();
}

std::size_t ResultsLog::Held() const {
    std::lock_guard lock(m_mutex);
    return m_held.size();
}

// In order: a line held back goes before any that came after it.
std::string ResultsLog::WriteHeld() {
    std::size_t written = 0;
    std::string told;
    for (; written < m_held.size(); ++written) {
        const std::string& line = m_held[written];
        if (int error = m_file->AppendWhole(line.data(), line.size()); error != 0) {
            if (!m_told) {
                told = "warning: cannot write to the log " + m_path + ": " + std::strerror(error) +
                       "; its records are held and tried again with the next";
            }
            m_told = true;
            break;
        }
    }
    m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(written));
    return told;
}

std::vector<std::string> ResultsLog::Close() {
    std::lock_guard lock(m_mutex);
    if (m_file) {
        WriteHeld();
        m_file.reset();
    }
    return std::exchange(m_held, {});
}

}  // namespace quillon
