#include "tests/support/Child.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/TempTree.h"

namespace pelmora::test {

namespace {

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

int highestOpenDescriptor() {
    int highest = 2;
    DIR* d = ::opendir("/proc/self/fd");
    if (d == nullptr) return 1023;
    const int own = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd != own && fd > highest) highest = fd;
    }
    ::closedir(d);
    return highest;
}

}  // namespace

std::string inChild(const std::function<std::string()>& body) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string result;
        try {
            result = body();
        } catch (const std::exception& e) {
            result = std::string("exception: ") + e.what();
        } catch (...) {
            result = "unknown exception";
        }
        // A marker first, so that an empty result is told from a child that died silently.
        const std::string message = "+" + result;
        const char* p = message.data();
        std::size_t left = message.size();
        while (left > 0) {
            const ssize_t n = ::write(pipeFds[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    const std::string message = drain(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return "child killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child exited with status " + std::to_string(WEXITSTATUS(status));
    if (message.empty() || message[0] != '+') return "child reported nothing";
    return message.substr(1);
}

bool dropToNobody() {
    if (::setgroups(0, nullptr) != 0) return false;
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return false;
    return ::geteuid() == 65534 && ::setuid(0) != 0;
}

bool leaveSpareDescriptors(int spare) {
    // The limit caps descriptor numbers, and a new descriptor takes the lowest free number:
    // every gap below the highest open descriptor is plugged first.
    const int highest = highestOpenDescriptor();
    for (;;) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        if (fd > highest) {
            ::close(fd);
            break;
        }
    }
    const rlim_t limit = static_cast<rlim_t>(highest + 1 + spare);
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_NOFILE, &rl) != 0) return false;
    rl.rlim_cur = limit;
    return ::setrlimit(RLIMIT_NOFILE, &rl) == 0;
}

std::string cliPath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    const std::string self(buf, static_cast<std::size_t>(n > 0 ? n : 0));
    return self.substr(0, self.rfind('/')) + "/../bin/pelmora-cli";
}

std::string plainCliPath() {
    const std::string cli = cliPath();
    const std::string plain = cli + "-plain";
    return ::access(plain.c_str(), X_OK) == 0 ? plain : cli;
}

CliRun runCli(const std::vector<std::string>& args, const std::string& cwd,
              const std::function<bool()>& beforeExec) {
    return runProgram(cliPath(), args, cwd, beforeExec);
}

CliRun runProgram(const std::string& exe, const std::vector<std::string>& args,
                  const std::string& cwd, const std::function<bool()>& beforeExec) {
    int out[2];
    int err[2];
    if (::pipe(out) != 0) return {};
    if (::pipe(err) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        ::close(err[0]);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        if (beforeExec && !beforeExec()) ::_exit(125);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    CliRun r;
    // Both pipes at once, so that a child with much to say on either never blocks.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, -1) >= 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                texts[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace pelmora::test
