// measure OUTFILE PROGRAM ARGS...: runs PROGRAM and writes "wall_s cpu_s maxrss_kib" to OUTFILE.
// A process's peak memory includes whatever its parent held when it was forked, so the benchmark
// starts both sides through this small launcher rather than from its own large process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    FILE *out = std::fopen(argv[1], "w");
    if (!out)
        return 2;
    std::fprintf(out, "%.6f %.6f %ld\n", wall, cpu, usage.ru_maxrss);
    std::fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
