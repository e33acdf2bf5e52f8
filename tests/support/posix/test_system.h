#pragma once
// Child commands and processes for the tests on POSIX.

#include <sys/types.h>

#include <functional>
#include <string>

namespace testing_support {

struct CommandResult {
    int status = -1;     // exit status, or -1 when it did not exit normally
    std::string output;  // stdout and stderr together
};

// Runs a command through /bin/sh.
CommandResult Run(const std::string& command);

// A string quoted for /bin/sh.
std::string Quote(const std::string& text);

// Runs `body` in a forked child whose exit status is what `body` returns.
pid_t StartChild(const std::function<int()>& body);
// The child's exit status, or 128 + the signal that ended it.
int WaitChild(pid_t child);

// In a child: gives up root's rights for the user and group given (no other groups). True
// when the process now runs as that user.
bool BecomeUser(uid_t user, gid_t group);
// Runs `body` in a child as that user (uid and gid 65534, "nobody", unless given) and returns
// its exit status; 99 when the rights could not be given up.
int RunAsUser(const std::function<int()>& body, uid_t user = 65534, gid_t group = 65534);

}  // namespace testing_support
