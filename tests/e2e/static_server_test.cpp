// The README's way of serving updates from static files, followed as written: its nginx rule
// (the block after its marker line) in the server block of an nginx started on 127.0.0.1,
// answers signed with the publisher's tool saved per application, and the real program
// (build/bin/update, /silent) checking there for each application.

#include "E2eSupport.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/ReservedPort.h"
#include "update/ExitStatus.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

// The nginx program: on the PATH, else where Debian puts it; empty when there is none.
std::string NginxProgram()
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    std::string dir;
    while (std::getline(path, dir, ':'))
        if (!dir.empty() && access((dir + "/nginx").c_str(), X_OK) == 0)
            return dir + "/nginx";
    return access("/usr/sbin/nginx", X_OK) == 0 ? "/usr/sbin/nginx" : "";
}

// The README's fenced block after the line `marker`; empty when there is none.
std::string ReadmeBlock(const std::string& marker)
{
    const std::string readme = Slurp(SourceDir() / "README.md");
    const auto at = readme.find(marker);
    const auto open = at == std::string::npos ? at : readme.find("```", at);
    const auto start = open == std::string::npos ? open : readme.find('\n', open);
    const auto end = start == std::string::npos ? start : readme.find("\n```", start);
    return end == std::string::npos ? "" : readme.substr(start + 1, end - start);
}

// nginx in the foreground on 127.0.0.1, serving `site` with `rules` in its server block;
// its own log lines go to its standard output, which tells when it listens.
class Nginx {
public:
    Nginx(const std::string& program, const fs::path& dir, const fs::path& site, const std::string& rules)
    {
        fs::create_directories(dir / "temp");
        // A port that another test may take between its release and nginx's bind: then
        // nginx ends at once, and the next port is tried.
        for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
            int candidate = testsupport::ReservedPort().Port();
            std::ofstream(dir / "nginx.conf") << Config(dir, site, rules, candidate);
            process_ = std::make_unique<testsupport::ChildProcess>(std::vector<std::string>{
                program, "-p", dir.string() + "/", "-e", "stderr", "-c", (dir / "nginx.conf").string()});
            for (std::string line = process_->ReadLine(); !line.empty(); line = process_->ReadLine())
                if (line.find("start worker process") != std::string::npos) {
                    port = candidate;
                    break;
                }
            if (port == 0)
                failure += "port " + std::to_string(candidate) + ": exit status " + std::to_string(process_->Wait()) +
                           "\n" + process_->Stdout() + process_->Stderr();
        }
    }
    ~Nginx()
    {
        if (process_)
            process_->Stop();
    }
    int port = 0;        // 0: it did not start
    std::string failure; // what it said when it did not

private:
    static std::string Config(const fs::path& dir, const fs::path& site, const std::string& rules, int port)
    {
        const std::string temp = (dir / "temp").string();
        std::string conf = "daemon off;\nworker_processes 1;\npid " + (dir / "nginx.pid").string() +
                           ";\nerror_log /dev/stdout notice;\n";
        if (geteuid() == 0)
            conf += "user root;\n"; // the workers read the test's private folders
        conf += "events { worker_connections 64; }\nhttp {\n    access_log " + (dir / "access.log").string() + ";\n";
        for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += std::string("    ") + t + "_temp_path " + temp + "/" + t + ";\n";
        return conf + "    server {\n        listen 127.0.0.1:" + std::to_string(port) + ";\n        root " +
               site.string() + ";\n" + rules + "    }\n}\n";
    }
    std::unique_ptr<testsupport::ChildProcess> process_;
};

struct StaticServer : SignedOfferTest {
    StaticServer() : SignedOfferTest(0) {}
    // "update.ini" of `app` checking at `server`, trusting the publisher.
    void Ini(const std::string& app, const std::string& server)
    {
        folder.WriteIni("[Current]\nAppName=" + app + "\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                        "\nHomePage=http://127.0.0.1:1/product\nPublicKey=" + publisher.PublicKey() + "\n");
    }
    // The publisher's signed answer for `app` offering `build` of the installer at `url`.
    std::string Answer(const std::string& app, int build, const std::string& url, const fs::path& installer)
    {
        const auto run =
            testsupport::RunTool("signoffer", {"sign", "--key", publisher.pem.string(), "--app", app, "--build",
                                               std::to_string(build), "--version", "2.0", "--notes", "Notes", "--url",
                                               url, "--expires-days", "1", installer.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }
    int RunProgram()
    {
        const fs::path exe = folder.app / "update";
        fs::copy_file(fs::path(std::getenv("UPDATER_BIN_DIR")) / "update", exe, fs::copy_options::overwrite_existing);
        testsupport::ChildProcess run({exe.string(), "/silent"});
        return run.Wait();
    }
};

} // namespace

TEST_F(StaticServer, TheReadmesNginxRuleAnswersEachApplicationsCheck)
{
    const std::string nginx = NginxProgram();
    if (nginx.empty())
        GTEST_SKIP() << "nginx is not installed (scripts/install-deps.sh installs it)";
    const std::string rules = ReadmeBlock("<!-- example nginx rule -->");
    ASSERT_NE(rules.find("location"), std::string::npos) << "README.md has no nginx rule after its marker";

    const fs::path site = folder.root / "site", answers = site / "update" / "answers";
    fs::create_directories(answers);
    fs::copy_file(SourceDir() / "demo" / "installer.sh", site / "update" / "setup.exe");
    Nginx server(nginx, folder.root / "nginx", site, rules);
    ASSERT_NE(server.port, 0) << server.failure;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port);
    const std::string newer = Answer("My App", 2013, base + "/update/setup.exe", site / "update" / "setup.exe");
    const std::string same = Answer("Other App", 2012, base + "/update/setup.exe", site / "update" / "setup.exe");
    std::ofstream(answers / "my_app.ini", std::ios::binary) << newer;
    std::ofstream(answers / "other_app.ini", std::ios::binary) << same;

    struct Case {
        const char* app;
        ExitStatus want;
        std::string answer; // what the run saves as "webinfo.ini"; empty: nothing
    } cases[] = {
        {"My App", ExitStatus::Installed, newer},
        {"Other App", ExitStatus::Success, same},
        {"Unknown App", ExitStatus::CheckFailed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.app);
        fs::remove(record);
        // The base address in mixed case: the check is sent lowered, at the rule's path.
        Ini(c.app, base + "/Update/");
        EXPECT_EQ(RunProgram(), static_cast<int>(c.want));
        const fs::path webinfo = folder.UpdateFolder(c.app) / "webinfo.ini";
        if (c.answer.empty())
            EXPECT_FALSE(fs::exists(webinfo));
        else
            EXPECT_EQ(Slurp(webinfo), c.answer);
        EXPECT_EQ(fs::exists(record), c.want == ExitStatus::Installed);
    }
    if (HasFailure())
        ADD_FAILURE() << "nginx's access log:\n" << Slurp(folder.root / "nginx" / "access.log");
}
