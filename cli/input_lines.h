#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon::cli {

// Lines typed on standard input (or a barcode scanner that types), read on
// a thread of its own so that nothing waits for them. The reading thread
// may outlive this object: a read that never ends must not hold the program.
class InputLines {
public:
    // wake: called from the reading thread when a line has come.
    explicit InputLines(std::function<void()> wake);
    ~InputLines();
    InputLines(const InputLines&) = delete;
    InputLines& operator=(const InputLines&) = delete;

    // The lines that came since the last call, each without its line end.
    std::vector<std::string> Take();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace quillon::cli
