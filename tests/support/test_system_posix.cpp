#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/support/test_files.h"

namespace testing_support {

std::string MakeTemporaryDirectory() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/pintool-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

CommandResult Run(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        result.output.append(chunk, got);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

pid_t StartChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    return child;
}

int WaitChild(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool BecomeUser(uid_t user, gid_t group) {
    if (geteuid() == 0 && (setgroups(1, &group) != 0 || setgid(group) != 0 || setuid(user) != 0)) {
        return false;
    }
    return geteuid() == user;
}

int RunAsUser(const std::function<int()>& body, uid_t user, gid_t group) {
    return WaitChild(StartChild([&] { return BecomeUser(user, group) ? body() : 99; }));
}

void SetReadOnly(const std::string& path, bool readOnly) {
    chmod(path.c_str(), readOnly ? 0444 : 0644);
}

}  // namespace testing_support
