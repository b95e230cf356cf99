// A real Hamlib rigctld for tests: Hamlib's dummy rig (model 1, keyed through CAT) served on
// 127.0.0.1 at a free port, and Hamlib's rigctl to talk to it as another program would.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace tarpo::test {

class Rigctld {
  public:
    Rigctld() {
        port_ = free_port();
        start();
    }
    ~Rigctld() { kill(); }
    Rigctld(const Rigctld&) = delete;
    Rigctld& operator=(const Rigctld&) = delete;

    bool running() const { return pid_ > 0 && accepting(); }
    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // A new rigctld on the same port, as after a crash: the dummy rig starts unkeyed.
    void restart() {
        kill();
        start();
    }
    void pause(bool stop) {
        if (pid_ > 0) ::kill(pid_, stop ? SIGSTOP : SIGCONT);
    }
    // rigctl's answer to one command ("t", "F 14236000"), white space trimmed.
    std::string rigctl(const std::string& command) const {
        const std::string line = "rigctl -m 2 -r " + address() + " " + command + " 2>/dev/null";
        std::string out;
        if (FILE* p = ::popen(line.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
            ::pclose(p);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        return out;
    }

  private:
    void start() {
        const std::string port = std::to_string(port_);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execlp("rigctld", "rigctld", "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t",
                     port.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The dummy rig keys through CAT only when told so (-P RIG); up to 5 s for it to
        // listen.
        for (int i = 0; i < 100 && !accepting(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    static int free_port() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        ::close(fd);
        return ntohs(a.sin_port);
    }
    bool accepting() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace tarpo::test
