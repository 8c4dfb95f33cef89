// Benchmark of a batch inspect: trawler-cli inspect over a folder of packages, side by side with
// gzip -t over the same packages without their 8-byte magic.
//   inspect_bench ROUNDS TRAWLER_CLI ZLG_FOLDER GZ_FOLDER [EARLIER_TRAWLER_CLI]
// Runs, in each round and in this order: "trawler-cli inspect ZLG_FOLDER", the same with
// --json, the earlier build's "inspect ZLG_FOLDER" when one is given (to show a change's effect
// in the same run), and "gzip -t -r GZ_FOLDER", their output thrown away, after one untimed
// round. Prints "key value" lines: the median wall and CPU seconds of each, the ratios of the
// medians to gzip's, and each command's peak resident set (the child's own ru_maxrss, the largest
// over the rounds).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
    double wall = 0;
    double cpu = 0;
    long rssKiB = 0;
    bool ok = false;
};

struct Command {
    const char* key;
    std::vector<std::string> argv;
    std::vector<Sample> samples;
};

// Runs argv with standard output and error on /dev/null (inspect --json puts its count on the
// latter) and returns the child's own time and memory (wait4), so nothing of this program counts.
Sample Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    Sample sample;
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return sample;
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
    sample.rssKiB = usage.ru_maxrss;
    sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return sample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: inspect_bench ROUNDS TRAWLER_CLI ZLG_FOLDER GZ_FOLDER "
                     "[EARLIER_TRAWLER_CLI]\n");
        return 2;
    }
    int rounds = std::atoi(argv[1]);
    std::string cli = argv[2];
    std::vector<Command> commands = {
        {"inspect", {cli, "inspect", argv[3]}, {}},
        {"inspect_json", {cli, "inspect", "--json", argv[3]}, {}},
    };
    if (argc == 6) commands.push_back({"inspect_earlier", {argv[5], "inspect", argv[3]}, {}});
    // Last: every ratio is to it.
    commands.push_back({"gzip_t", {"gzip", "-t", "-r", argv[4]}, {}});
    // One round untimed, so that every file is in the page cache for all of them; then
    // alternating, so that whatever else the machine does falls on all of them alike.
    for (int round = -1; round < rounds; ++round) {
        for (Command& command : commands) {
            Sample sample = Run(command.argv);
            if (!sample.ok) {
                std::fprintf(stderr, "failed: %s\n", command.key);
                return 1;
            }
            if (round >= 0) command.samples.push_back(sample);
        }
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Command& command : commands) {
        std::vector<double> w, c;
        long rss = 0;
        for (const Sample& s : command.samples) {
            w.push_back(s.wall);
            c.push_back(s.cpu);
            rss = std::max(rss, s.rssKiB);
        }
        wall.push_back(Median(w));
        cpu.push_back(Median(c));
        std::printf("%s_wall_s %.4f\n", command.key, wall.back());
        std::printf("%s_cpu_s %.4f\n", command.key, cpu.back());
        std::printf("%s_peak_rss_kib %ld\n", command.key, rss);
    }
    for (size_t i = 0; i + 1 < commands.size(); ++i) {
        std::printf("%s_over_gzip_t_wall %.3f\n", commands[i].key, wall[i] / wall.back());
        std::printf("%s_over_gzip_t_cpu %.3f\n", commands[i].key, cpu[i] / cpu.back());
    }
    return 0;
}
