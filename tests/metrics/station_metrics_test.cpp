#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "station/json_text.h"
#include "station/results_log.h"
#include "station/station.h"
#include "station/station_metrics.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

// The status line and body of GET target from 127.0.0.1:port; empty when
// nothing listens there.
std::string HttpGet(int port, const std::string& target) {
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{10, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        ::send(socket, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (ssize_t got; (got = ::recv(socket, buffer, sizeof buffer, 0)) > 0;) {
            reply.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(socket);
    std::size_t head = reply.find("\r\n\r\n");
    return head == std::string::npos
               ? reply
               : reply.substr(0, reply.find("\r\n")) + "\n" + reply.substr(head + 4);
}

// A port that nothing listens on now.
int FreePort() {
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(socket);
    return ntohs(address.sin_port);
}

bool Installed(const std::string& program) {
    return RunShellCommand("command -v " + program, 10s, std::stop_token(), [](auto&) {})
        .Succeeded();
}

// The sum of the samples of a metric that carry these labels, from
// Prometheus' text format.
double Sum(const std::string& text, const std::string& name,
           const std::map<std::string, std::string>& labels) {
    double sum = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name + "{", 0) != 0) {
            continue;
        }
        bool all = true;
        for (const auto& [label, value] : labels) {
            all = all && line.find(label + "=\"" + value + "\"") != std::string::npos;
        }
        sum += all ? std::stod(line.substr(line.rfind(' ') + 1)) : 0;
    }
    return sum;
}

BoxRecord Box(const std::string& slot, const std::string& verdict, const std::string& cause,
              std::vector<AttemptRecord> tries = {}) {
    BoxRecord record;
    record.slot = slot;
    record.verdict = verdict;
    record.cause = cause;
    record.series = "3fa2c1d0be47a9e1";
    record.phases = {12.5, 3.25, 20, 26};
    record.attempts = static_cast<int>(std::max<std::size_t>(tries.size(), 1));
    record.tries = std::move(tries);
    return record;
}

// Two slots: a good box, a box good at its second try, and a failed one.
class FedExporter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_metrics.Listen({"127.0.0.1", 0}, m_error)) << m_error;
        m_metrics.BoxEnded(Box("left", "ok", ""));
        m_metrics.BoxEnded(Box("left", "ok", "", {{"no_reply", {}}, {"", {}}}));
        m_metrics.BoxEnded(Box("right", "failed", "record_rejected"));
        m_metrics.SlotState(0, SlotActivity::Burning);
        m_metrics.SlotState(1, SlotActivity::AdapterGone);
        m_metrics.SlotState(1, SlotActivity::Held);
        m_metrics.RecordUnwritten();
    }

    StationMetrics m_metrics{"bench-7", {"left", "right"}, "1.0.0"};
    std::string m_error;
};

TEST_F(FedExporter, CountsBoxesAndTriesAndPutsEachSlotInOneState) {
    std::string text = HttpGet(m_metrics.Port(), "/metrics");
    ASSERT_EQ(text.rfind("HTTP/1.1 200", 0), 0u) << text;
    struct Expected {
        const char* name;
        std::map<std::string, std::string> labels;
        double value;
    };
    const Expected expected[] = {
        {"quillon_boxes_total", {{"station", "bench-7"}}, 3},
        {"quillon_boxes_total", {{"slot", "left"}, {"verdict", "ok"}, {"cause", ""}}, 2},
        {"quillon_boxes_total",
         {{"slot", "right"}, {"verdict", "failed"}, {"cause", "record_rejected"}},
         1},
        {"quillon_attempts_total", {{"slot", "left"}}, 3},
        {"quillon_attempts_total",
         {{"slot", "left"}, {"verdict", "failed"}, {"cause", "no_reply"}},
         1},
        {"quillon_attempts_total", {{"slot", "right"}, {"verdict", "failed"}}, 1},
        {"quillon_boxes_first_pass_total", {{"slot", "left"}}, 1},
        {"quillon_slot_failed_in_row", {{"slot", "right"}}, 1},
        {"quillon_slot_failed_in_row", {{"slot", "left"}}, 0},
        {"quillon_slot_state", {{"slot", "left"}, {"state", "burning"}}, 1},
        {"quillon_slot_state", {{"slot", "right"}, {"state", "held"}}, 1},
        {"quillon_phase_seconds_count", {{"slot", "left"}, {"phase", "erase"}}, 2},
        {"quillon_phase_seconds_count", {{"slot", "right"}}, 0},
        {"quillon_build_info", {{"version", "1.0.0"}, {"series", "3fa2c1d0be47a9e1"}}, 1},
    };
    for (const Expected& each : expected) {
        EXPECT_EQ(Sum(text, each.name, each.labels), each.value)
            << each.name << " " << JsonText(Json(each.labels));
    }
    EXPECT_NE(text.find("quillon_records_unwritten_total{station=\"bench-7\"} 1\n"),
              std::string::npos);
    for (const char* slot : {"left", "right"}) {
        EXPECT_EQ(Sum(text, "quillon_slot_state", {{"slot", slot}}), 1) << slot;
    }
}

TEST_F(FedExporter, PromtoolFindsNoProblem) {
    if (!Installed("promtool")) {
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
    }
    std::string text = HttpGet(m_metrics.Port(), "/metrics");
    TempDir folder;
    std::string path = folder.Write("metrics.txt", text.substr(text.find('\n') + 1));
    std::string said;
    CommandResult checked =
        RunShellCommand("promtool check metrics < " + path, 30s, std::stop_token(),
                        [&](const std::string& line) { said += line + "\n"; });
    EXPECT_TRUE(checked.Succeeded()) << checked.Outcome() << "\n" << said;
    EXPECT_EQ(said, "");
}

// A station serves metrics only when asked; a port in use is refused with
// a reason, and the exporter's end frees its own.
TEST(StationMetrics, RefusesAPortInUseAndFreesItsOwnAtTheEnd) {
    StationConfig config;
    config.slots = {{"a", "/dev/null", 0, {}, {}}};
    std::string error = "before";
    EXPECT_EQ(ServeStationMetrics(config, error), nullptr);
    EXPECT_EQ(error, "");
    config.metrics = MetricsEndpoint{"127.0.0.1", 0};
    std::unique_ptr<StationMetrics> first = ServeStationMetrics(config, error);
    ASSERT_NE(first, nullptr) << error;
    int port = first->Port();
    config.metrics->port = port;
    EXPECT_EQ(ServeStationMetrics(config, error), nullptr);
    EXPECT_EQ(error, "cannot serve metrics on 127.0.0.1:" + std::to_string(port) +
                         ": the port is in use, or the address is not one of this host's");
    first.reset();
    EXPECT_EQ(HttpGet(port, "/metrics"), "");
    EXPECT_NE(ServeStationMetrics(config, error), nullptr) << error;
}

// Debian's Prometheus server scrapes a fed exporter, with the shipped alert
// rules loaded, and its query API answers the sum of the boxes.
TEST_F(FedExporter, PrometheusServerAnswersTheSumOfBoxes) {
    if (!Installed("prometheus")) {
        GTEST_SKIP() << "the Prometheus server is not installed (Debian package prometheus)";
    }
    TempDir folder;
    int serverPort = FreePort();
    std::string config = folder.Write("prometheus.yml",
                                      "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                                      "rule_files: ['" QUILLON_RULES
                                      "']\n"
                                      "scrape_configs:\n"
                                      "  - job_name: quillon\n"
                                      "    static_configs: [{targets: ['127.0.0.1:" +
                                          std::to_string(m_metrics.Port()) + "']}]\n");
    std::string said;
    std::jthread server([&](std::stop_token stop) {
        RunShellCommand("exec prometheus --config.file=" + config +
                            " --storage.tsdb.path=" + folder / "data" +
                            " --web.listen-address=127.0.0.1:" + std::to_string(serverPort),
                        120s, stop, [&](const std::string& line) { said += line + "\n"; });
    });
    std::string answer;
    for (auto until = std::chrono::steady_clock::now() + 60s;
         std::chrono::steady_clock::now() < until &&
         answer.find("\"value\":[") == std::string::npos;
         std::this_thread::sleep_for(200ms)) {
        answer = HttpGet(serverPort, "/api/v1/query?query=sum(quillon_boxes_total)");
    }
    Json reply = Json::parse(answer.substr(answer.find('\n') + 1), nullptr, false);
    ASSERT_TRUE(reply.contains("data")) << answer;
    ASSERT_EQ(reply["data"]["result"].size(), 1u) << answer;
    EXPECT_EQ(reply["data"]["result"][0]["value"][1], "3") << answer;
    std::string rules = HttpGet(serverPort, "/api/v1/rules");
    EXPECT_NE(rules.find("QuillonSlotFailing"), std::string::npos) << rules;
    server.request_stop();
    server.join();
    EXPECT_EQ(said.find("level=error"), std::string::npos) << said;
}

}  // namespace
}  // namespace quillon
