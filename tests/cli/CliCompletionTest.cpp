// Shell completion of pelmora-cli as a user meets it: an interactive bash or zsh on a terminal
// with the completion file loaded, Tab pressed, the line run. A stand-in function named
// pelmora-cli prints the arguments the shell made of the completed line, so a name cut in two,
// badly quoted or completed as the wrong kind shows as it would reach the program.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Child.h"
#include "tests/support/TempTree.h"

namespace {

using pelmora::test::TempTree;
using Lines = std::vector<std::string>;

const std::string kCompletionDir = PELMORA_SOURCE_DIR "/cli/completion";
const char* const kCommands[] = {"count", "export", "snapshot", "history", "report", "help"};

// Runs the interactive shell `argv` on a terminal in `cwd` with `env` added, types `input` and
// returns every line it printed that holds "ARGS:", from there on. Gives up after a minute (a
// shell left waiting for a closing quote never exits by itself).
Lines typeInto(const Lines& argv, const Lines& env, const std::string& cwd,
               const std::string& input) {
    struct winsize ws {};
    ws.ws_col = 200;
    ws.ws_row = 50;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0) return {"forkpty failed"};
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    std::string text;
    std::size_t written = 0;
    for (int waited = 0; waited < 600;) {
        pollfd p{master, static_cast<short>(POLLIN | (written < input.size() ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 100) == 0) {
            ++waited;
            continue;
        }
        if ((p.revents & POLLOUT) != 0) {
            const ssize_t n = ::write(master, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
        }
        if ((p.revents & (POLLIN | POLLHUP)) != 0) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;  // EIO: the shell has exited
            text.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(master);
    Lines found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("ARGS:");
        if (at == std::string::npos) continue;
        line = line.substr(at + 5);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        found.push_back(line);
    }
    return found;
}

// A folder of the names that break completion written carelessly.
struct OddNames {
    TempTree t;
    OddNames() {
        for (const char* d :
             {"My Docs", "it's", "a\"b", "caf\xe9", "T10:00", "old 1:2", "-odd dir"})
            t.dir(d);
        t.write("x y.pml", "");
    }
};

struct Typed {
    std::string line;  // typed, Tab included
    std::string args;  // what the stand-in printed
};

std::string typedLines(const std::vector<Typed>& cases) {
    std::string input;
    for (const Typed& c : cases) input += c.line + "\n";
    return input + "exit\n";
}

Lines argsOf(const std::vector<Typed>& cases) {
    Lines args;
    for (const Typed& c : cases) args.push_back(c.args);
    return args;
}

const char* const kStandIn =
    "pelmora-cli() { printf 'ARGS:'; printf '<%s>' \"$@\"; printf '\\n'; }\n";

Lines inBash(const OddNames& names, const std::string& input) {
    const std::string rc =
        names.t.write(".rc", "PS1='> '\nbind 'set enable-bracketed-paste off'\nsource '" +
                                 kCompletionDir + "/pelmora-cli.bash'\n" + kStandIn);
    return typeInto({"bash", "--noprofile", "--rcfile", rc, "-i"},
                    {"INPUTRC=/dev/null", "TERM=dumb", "HOME=" + names.t.root()}, names.t.root(),
                    input);
}

// The same cases in both shells; a directory is completed with a "/" after it (zsh takes it
// off again when the line is run).
std::vector<Typed> namesAndValues(const std::string& slash) {
    return {
        {"pelmora-cli count My\t", "<count><My Docs" + slash + ">"},
        {"pelmora-cli count it\t", "<count><it's" + slash + ">"},
        {"pelmora-cli count a\t", "<count><a\"b" + slash + ">"},
        {"pelmora-cli count caf\t", "<count><caf\xe9" + slash + ">"},
        {"pelmora-cli count T10:\t", "<count><T10:00" + slash + ">"},
        {"pelmora-cli count old\\ 1:\t", "<count><old 1:2" + slash + ">"},
        {"pelmora-cli count -- -o\t", "<count><--><-odd dir" + slash + ">"},
        {"pelmora-cli export \"x y\t", "<export><x y.pml>"},
        {"pelmora-cli export --output=x\t", "<export><--output=x y.pml>"},
        {"pelmora-cli export -o x\t", "<export><-o><x y.pml>"},
        {"pelmora-cli count --dis\t", "<count><--disk-usage>"},
        // count's -h is --human-readable: it takes no value, and what follows is a DIR.
        {"pelmora-cli count -h My\t", "<count><-h><My Docs" + slash + ">"},
        {"pelmora-cli count --sort f\t", "<count><--sort><files>"},
        {"pelmora-cli count --ncdu-export x\t", "<count><--ncdu-export><x y.pml>"},
        {"pelmora-cli hi\t", "<history>"},
        {"pelmora-cli help sn\t", "<help><snapshot>"},
    };
}

TEST(CliCompletion, BashKeepsOddNamesWholeAndCompletesEachKind) {
    OddNames names;
    std::vector<Typed> cases = namesAndValues("/");
    const std::vector<Typed> bashOnly = {
        {"pelmora-cli count x\t", "<count><x>"},  // files are no DIRs
        {"pelmora-cli export -qo x\t", "<export><-qo><x y.pml>"},
        {"pelmora-cli count -j M\t", "<count><-j><M>"},        // a number, not a directory
        {"pelmora-cli history --s M\t", "<history><--s><M>"},  // --since by its prefix
        {"pelmora-cli history --since=M\t", "<history><--since=M>"},
    };
    cases.insert(cases.end(), bashOnly.begin(), bashOnly.end());
    EXPECT_EQ(inBash(names, typedLines(cases)), argsOf(cases));
}

TEST(CliCompletion, ZshKeepsOddNamesWholeAndCompletesEachKind) {
    if (::system("command -v zsh >/dev/null") != 0) GTEST_SKIP() << "zsh is not installed";
    OddNames names;
    names.t.write(".zshrc", "PS1='> '\nfpath=('" + kCompletionDir +
                                "' $fpath)\nautoload -Uz compinit && compinit -u -D\n" + kStandIn);
    const std::vector<Typed> cases = namesAndValues("");
    EXPECT_EQ(typeInto({"zsh", "-i"}, {"ZDOTDIR=" + names.t.root(), "TERM=dumb"}, names.t.root(),
                       typedLines(cases)),
              argsOf(cases));
}

// The options a command's --help lists: the leading "-x, --name ARG" of its option lines, and
// whether each takes a value.
std::vector<std::pair<std::string, bool>> helpOptions(const std::string& command) {
    const pelmora::test::CliRun r = pelmora::test::runCli({"help", command}, "/");
    std::vector<std::pair<std::string, bool>> options;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("  -")) continue;
        std::istringstream words(line.substr(0, line.find("  ", 2)));
        std::vector<std::string> names;
        bool value = false;
        for (std::string w; words >> w;) {
            if (w.back() == ',') w.pop_back();
            if (w.starts_with("-"))
                names.push_back(w);
            else
                value = true;
        }
        for (const std::string& n : names) options.emplace_back(n, value);
    }
    return options;
}

TEST(CliCompletion, BashOffersEveryOptionOfTheHelpAndNoOther) {
    for (const char* command : kCommands) {
        SCOPED_TRACE(command);
        const std::vector<std::pair<std::string, bool>> listed = helpOptions(command);
        ASSERT_FALSE(listed.empty());
        std::set<std::string> wanted;
        for (const auto& [name, value] : listed) {
            wanted.insert(name);
            // The program takes what its help lists, with a value where it shows one.
            std::vector<std::string> args{command, name};
            if (value) args.push_back("1");
            args.push_back("--help");
            EXPECT_EQ(pelmora::test::runCli(args, "/").status, 0) << name;
        }
        const std::string script = "source '" + kCompletionDir +
                                   "/pelmora-cli.bash'\n"
                                   "COMP_WORDS=(pelmora-cli \"$1\" -); COMP_CWORD=2\n"
                                   "COMP_LINE=\"pelmora-cli $1 -\"; COMP_POINT=${#COMP_LINE}\n"
                                   "_pelmora_cli pelmora-cli - \"$1\"\n"
                                   "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        const pelmora::test::CliRun offered =
            pelmora::test::runProgram("/bin/bash", {"-c", script, "bash", command}, "/");
        EXPECT_EQ(offered.err, "");
        std::set<std::string> got;
        std::istringstream lines(offered.out);
        for (std::string line; std::getline(lines, line);) got.insert(line);
        EXPECT_EQ(got, wanted);
    }
}

}  // namespace
