// Start-up: the time from starting the game's program to its first painted
// title screen, next to the same for a bare Qt window with a menu (the
// reference). Both run on the offscreen platform in a 1024x768 window and are
// asked to quit right after their first paint (SLABIX_EXIT_AFTER_FIRST_PAINT=1),
// so the time is process start to first paint plus a clean exit.
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr double kTimeoutSeconds = 20;
constexpr int kReferenceRuns = 5;

// A program next to this one, or where the environment variable says.
std::string ProgramPath(const char* pszEnv, const QString& strRelative)
{
    if (const char* psz = std::getenv(pszEnv); psz && *psz)
        return psz;
    const QString strPath = QDir(QCoreApplication::applicationDirPath()).filePath(strRelative);
    return QFileInfo(strPath).canonicalFilePath().toStdString();
}

// Runs the program to its end; the seconds it took, or a negative value when
// it failed to start, failed, or did not end in time (it is then killed).
// pCpuSeconds receives the user and system time the program used.
double RunOnce(const std::string& strProgram, double* pCpuSeconds = nullptr)
{
    std::vector<std::string> env;
    for (char** pp = environ; *pp; ++pp) {
        const std::string str = *pp;
        if (str.rfind("QT_QPA_PLATFORM=", 0) != 0 && str.rfind("SLABIX_EXIT_AFTER_FIRST_PAINT=", 0) != 0)
            env.push_back(str);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("SLABIX_EXIT_AFTER_FIRST_PAINT=1");
    std::vector<char*> envp;
    for (std::string& str : env)
        envp.push_back(str.data());
    envp.push_back(nullptr);
    std::string strArg0 = strProgram, strOption = "-qwindowgeometry", strSize = "1024x768";
    char* argv[] = {strArg0.data(), strOption.data(), strSize.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int nError = posix_spawn(&pid, strProgram.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (nError != 0)
        return -1;
    for (;;) {
        int nStatus = 0;
        rusage usage{};
        const pid_t r = wait4(pid, &nStatus, WNOHANG, &usage);
        const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (r == pid) {
            if (pCpuSeconds)
                *pCpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
            return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0 ? dSeconds : -1;
        }
        if (r < 0 && errno != EINTR)
            return -1;
        if (dSeconds > kTimeoutSeconds) {
            kill(pid, SIGKILL);
            waitpid(pid, &nStatus, 0);
            return -1;
        }
        const timespec pause{0, 100000};  // 0.1 ms
        nanosleep(&pause, nullptr);
    }
}

// Median wall and CPU seconds of nRuns runs; negative when a run failed.
std::pair<double, double> MedianSeconds(const std::string& strProgram, int nRuns)
{
    std::vector<double> times, cpu;
    for (int i = 0; i < nRuns; ++i) {
        double dCpu = 0;
        const double d = RunOnce(strProgram, &dCpu);
        if (d < 0)
            return {-1, -1};
        times.push_back(d);
        cpu.push_back(dCpu);
    }
    std::nth_element(times.begin(), times.begin() + nRuns / 2, times.end());
    std::nth_element(cpu.begin(), cpu.begin() + nRuns / 2, cpu.end());
    return {times[nRuns / 2], cpu[nRuns / 2]};
}

// Wall time is the measurement; the program's CPU time (cpu_ms) is reported
// beside it, since on a busy machine it varies less.
void Startup(benchmark::State& state, const std::string& strProgram, std::pair<double, double> ref)
{
    if (RunOnce(strProgram) < 0) {  // also warms the file cache
        state.SkipWithError(("did not start, paint and quit by itself: " + strProgram +
                             " (the program must honour SLABIX_EXIT_AFTER_FIRST_PAINT=1)")
                                .c_str());
        return;
    }
    double dTotal = 0, dTotalCpu = 0;
    for (auto _ : state) {
        double dCpu = 0;
        const double d = RunOnce(strProgram, &dCpu);
        if (d < 0) {
            state.SkipWithError("a run failed");
            return;
        }
        state.SetIterationTime(d);
        dTotal += d;
        dTotalCpu += dCpu;
    }
    const double n = double(state.iterations());
    state.counters["cpu_ms"] = 1e3 * dTotalCpu / n;
    if (ref.first > 0) {
        state.counters["ref_us"] = 1e6 * ref.first;
        state.counters["x_ref"] = dTotal / n / ref.first;
        state.counters["ref_cpu_ms"] = 1e3 * ref.second;
        state.counters["x_ref_cpu"] = ref.second > 0 ? dTotalCpu / n / ref.second : 0;
    }
}

void BM_StartupBareWindow(benchmark::State& state)
{
    const std::string strBare = ProgramPath("SLABIX_BARE_WINDOW_BIN", QStringLiteral("slabix_bare_window"));
    Startup(state, strBare, {0, 0});
}
BENCHMARK(BM_StartupBareWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The game to its title screen; the reference is the bare window, measured
// again here.
void BM_StartupToTitleScreen(benchmark::State& state)
{
    const std::string strBare = ProgramPath("SLABIX_BARE_WINDOW_BIN", QStringLiteral("slabix_bare_window"));
    const std::string strGame = ProgramPath("SLABIX_BIN", QStringLiteral("../slabix"));
    const std::pair<double, double> ref = MedianSeconds(strBare, kReferenceRuns);
    if (ref.first < 0) {
        state.SkipWithError("the bare window did not run");
        return;
    }
    Startup(state, strGame, ref);
}
BENCHMARK(BM_StartupToTitleScreen)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
