// Helpers for bench/run, which measures whole programs:
//   line TRACE BAUD             line utilisation of the download in a flash trace, and the
//                               tool's turnaround from each reply to the next file (ms)
//   measure OUT -- CMD ARGS...  runs CMD; writes "wall user sys status maxrss_kib" to OUT
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/trace_figure.h"

namespace {

using Clock = std::chrono::steady_clock;

int Usage() {
    std::fprintf(stderr,
                 "usage: quillon-bench-tools line TRACE BAUD\n"
                 "       quillon-bench-tools measure OUT -- CMD [ARGS...]\n");
    return 2;
}

int Line(const char* path, int baud) {
    std::ifstream trace(path);
    if (!trace || baud <= 0) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    std::string error;
    auto span = quillon::bench::FindDownload(trace, &error);
    if (!span) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return 1;
    }
    std::printf("%.4f %llu %.6f %.6f %d %.4f %.4f\n", span->Utilisation(baud),
                static_cast<unsigned long long>(span->bytes), span->Seconds(),
                span->LineSeconds(baud), span->replies, span->TurnaroundQuantile(0.5) * 1000,
                span->TurnaroundQuantile(0.99) * 1000);
    return 0;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// The child's own CPU time, from wait4: the box and any other process are not in it.
int Measure(const char* out, char** command) {
    auto start = Clock::now();
    pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(command[0], command);
        std::perror(command[0]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return 1;
    }
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::FILE* file = std::fopen(out, "w");
    if (file == nullptr) {
        std::perror(out);
        return 1;
    }
    std::fprintf(file, "%.6f %.6f %.6f %d %ld\n", wall, Seconds(usage.ru_utime),
                 Seconds(usage.ru_stime), code, usage.ru_maxrss);
    std::fclose(file);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "line") == 0) {
        return Line(argv[2], std::atoi(argv[3]));
    }
    if (argc >= 5 && std::strcmp(argv[1], "measure") == 0 && std::strcmp(argv[3], "--") == 0) {
        return Measure(argv[2], argv + 4);
    }
    return Usage();
}
