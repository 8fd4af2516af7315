#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

namespace test_process {
namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Files for one run's output, removed afterwards.
struct output_files {
    std::string dir;
    output_files() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "attackscope-run-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            dir = pattern;
    }
    ~output_files() {
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
};

} // namespace

process_result run(const std::vector<std::string> &argv, const std::string &dir,
                   const std::vector<std::string> &env) {
    process_result r;
    const output_files files;
    if (files.dir.empty() || argv.empty()) {
        r.err = "cannot start: no scratch folder or no program";
        return r;
    }
    const std::string out_path = files.dir + "/out", err_path = files.dir + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<std::string> copy = argv, env_copy = env;
    std::vector<char *> args, envp;
    for (std::string &a : copy)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (char **e = environ; *e; e++)
        envp.push_back(*e);
    for (std::string &e : env_copy)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        r.err = "cannot start " + argv[0] + ": " + std::strerror(spawned);
        return r;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}

} // namespace test_process
