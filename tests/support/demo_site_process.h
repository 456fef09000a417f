#pragma once
// Runs the bundled demo site (tools/demo-site, see its README.md) for the
// life of an object, on free loopback ports:
//
//     DemoSiteProcess site({"--faults", "--scale", "30"});
//     ASSERT_TRUE(site.started()) << site.error();
//     Config().WebHost = QString::fromStdString(site.webHost());
//     Config().ApiHost = QString::fromStdString(site.apiHost());
//     Config().CaFile = QString::fromStdString(site.caFile());
//
// The site stops when the object is destroyed, and also when the test
// process dies (it watches its standard input, a pipe held by this object).

#include <sys/types.h>

#include <string>
#include <vector>

class DemoSiteProcess {
public:
    // Starts DEMO_SITE_EXE --web-port 0 --api-port 0 --exit-on-stdin-eof
    // --cert-dir <dir> followed by `extraArgs`, and waits (up to 15 s) for its
    // ready line. <dir> is one temporary folder shared by every site this test
    // executable starts (made at first use, removed at exit), unless
    // `extraArgs` holds a --cert-dir of its own, which then wins.
    explicit DemoSiteProcess(const std::vector<std::string>& extraArgs = {});
    ~DemoSiteProcess(); // stop()
    DemoSiteProcess(const DemoSiteProcess&) = delete;
    DemoSiteProcess& operator=(const DemoSiteProcess&) = delete;

    // Whether the site printed its ready line; error() says why not.
    bool started() const { return started_; }
    const std::string& error() const { return error_; }

    const std::string& webHost() const { return webHost_; } // "127.0.0.1:PORT"
    const std::string& apiHost() const { return apiHost_; } // "127.0.0.1:PORT"
    int webPort() const { return webPort_; }
    int apiPort() const { return apiPort_; }
    // "https://" + host + path.
    std::string webUrl(const std::string& path) const { return "https://" + webHost_ + path; }
    std::string apiUrl(const std::string& path) const { return "https://" + apiHost_ + path; }
    const std::string& certDir() const { return certDir_; }
    std::string caFile() const { return certDir_ + "/ca.pem"; } // the site's CA, PEM
    pid_t pid() const { return pid_; }

    // Sends SIGTERM and waits for the exit (SIGKILL after 5 s). Returns the
    // exit code, 128 + signal number when it died by a signal, or -1 when it
    // was not running. Later calls return -1.
    int stop();

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;  // write end of the site's standard input
    int stdoutFd_ = -1; // read end of the site's standard output
    bool started_ = false;
    std::string error_;
    std::string webHost_;
    std::string apiHost_;
    int webPort_ = 0;
    int apiPort_ = 0;
    std::string certDir_;
};

// Runs DEMO_SITE_EXE with `args` to its end (killed after `timeoutMs`) and
// returns its exit code, or -1 when it could not start, was killed or died of
// a signal (through RunChild, which the thread checker can follow).
int RunDemoSiteTool(const std::vector<std::string>& args, int timeoutMs);
