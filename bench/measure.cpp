// Runs a command and writes its exit, CPU time and peak memory to a file:
//   quellpack_measure RESULT PROGRAM [ARGS...]
// RESULT receives "status cpu_seconds wall_seconds peak_rss_bytes"; status
// is the exit code, or minus the signal that killed the program.
//
// Linux keeps the resident size a process had before exec in its peak, so
// the command must be forked from a small process like this one, not from
// the benchmark script itself. CPU time is kept to the microsecond.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quellpack_measure RESULT PROGRAM [ARGS...]\n");
        return 2;
    }
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 2;
    }
    const double wall = now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 2;
    }
    std::fprintf(out, "%d %.6f %.6f %ld\n", code, seconds(usage.ru_utime) + seconds(usage.ru_stime), wall,
                 static_cast<long>(usage.ru_maxrss) * 1024);
    return std::fclose(out) == 0 ? 0 : 2;
}
