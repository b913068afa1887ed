#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/temp_dir.h"

namespace quillon::testing {

struct CliRun {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the built quillon-cli through the shell, as a user would, keeping
// its output in a scratch folder.
class CliRunner {
public:
    CliRun Run(const std::string& arguments) const {
        std::string command = std::string("'") + QUILLON_CLI + "' " + arguments + " </dev/null >'" +
                              (m_scratch / "out") + "' 2>'" + (m_scratch / "err") + "'";
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, m_scratch.Read("out"),
                m_scratch.Read("err")};
    }

    static std::string Quote(const std::string& text) { return "'" + text + "'"; }

    // The last line of an output, without its line end.
    static std::string LastLine(const std::string& text) {
        std::string trimmed = text;
        while (!trimmed.empty() && trimmed.back() == '\n') {
            trimmed.pop_back();
        }
        std::size_t start = trimmed.rfind('\n');
        return start == std::string::npos ? trimmed : trimmed.substr(start + 1);
    }

private:
    TempDir m_scratch;
};

}  // namespace quillon::testing
