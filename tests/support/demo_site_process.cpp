#include "support/demo_site_process.h"

#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

namespace {

// One certificate folder for every site a test executable starts, so that
// the certificates are made once per executable.
class SharedCertDir {
public:
    const std::string& path() {
        std::call_once(once_, [this] {
            char name[] = "/tmp/demo-site-certs-XXXXXX";
            if (::mkdtemp(name) != nullptr)
                path_ = name;
        });
        return path_;
    }
    ~SharedCertDir() {
        if (!path_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(path_, ec);
        }
    }

private:
    std::once_flag once_;
    std::string path_;
};

SharedCertDir& SharedCerts() {
    static SharedCertDir dir;
    return dir;
}

using Clock = std::chrono::steady_clock;

// Waits until `pid` has ended or `deadline` has passed; `pid` once it has
// ended (its status in `status`), 0 when it still runs.
pid_t WaitForExit(pid_t pid, Clock::time_point deadline, int& status) {
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done;
}

// "127.0.0.1:PORT" -> PORT, or 0.
int PortOf(const std::string& host) {
    const std::size_t colon = host.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(host.c_str() + colon + 1);
}

} // namespace

DemoSiteProcess::DemoSiteProcess(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {DEMO_SITE_EXE, "--web-port", "0",
                                     "--api-port",  "0",          "--exit-on-stdin-eof"};
    for (std::size_t i = 0; i + 1 < extraArgs.size(); ++i) {
        if (extraArgs[i] == "--cert-dir")
            certDir_ = extraArgs[i + 1];
    }
    if (certDir_.empty()) {
        certDir_ = SharedCerts().path();
        if (certDir_.empty()) {
            error_ = "cannot make a temporary certificate folder";
            return;
        }
        args.push_back("--cert-dir");
        args.push_back(certDir_);
    }
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    pid_ = SpawnChild(args, in[0], out[1], error_);
    ::close(in[0]);
    ::close(out[1]);
    stdinFd_ = in[1];
    stdoutFd_ = out[0];
    if (pid_ < 0)
        return;

    // The ready line: "web=127.0.0.1:PORT api=127.0.0.1:PORT".
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            error_ = "no ready line from demo-site within 15 s";
            return;
        }
        pollfd fd{stdoutFd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n <= 0) {
            const int code = stop();
            error_ = "demo-site ended before it was ready (exit code " + std::to_string(code) +
                     "); its messages are on standard error";
            return;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    line.resize(line.find('\n'));
    const std::size_t web = line.find("web=");
    const std::size_t api = line.find(" api=");
    if (web != 0 || api == std::string::npos) {
        error_ = "unexpected ready line: " + line;
        return;
    }
    webHost_ = line.substr(4, api - 4);
    apiHost_ = line.substr(api + 5);
    webPort_ = PortOf(webHost_);
    apiPort_ = PortOf(apiHost_);
    started_ = webPort_ > 0 && apiPort_ > 0;
    if (!started_)
        error_ = "unexpected ready line: " + line;
}

DemoSiteProcess::~DemoSiteProcess() {
    stop();
}

int DemoSiteProcess::stop() {
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);
        stdinFd_ = -1;
    }
    int code = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        pid_t done = WaitForExit(pid_, Clock::now() + std::chrono::seconds(5), status);
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &status, 0);
        }
        if (done == pid_)
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
    started_ = false;
    return code;
}

int RunDemoSiteTool(const std::vector<std::string>& args, int timeoutMs) {
    std::vector<std::string> all = {DEMO_SITE_EXE};
    all.insert(all.end(), args.begin(), args.end());
    return RunChild(std::move(all), timeoutMs).exitCode;
}
