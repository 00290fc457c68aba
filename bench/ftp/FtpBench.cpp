// 100 MB over a local vsftpd in active mode: a download with TFtpClient::GetSync and an
// upload with Put, each side by side with python3's ftplib (retrbinary, storbinary) on the
// same server in the same run; then the CPU an idle logged-in connection costs.
//
//   bench_ftp [megabytes] [rounds]

#include "net/FtpCli.h"
#include "servers/VsftpdServer.h"
#include "support/BenchSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>

namespace {

using benchsupport::Median;
namespace fs = std::filesystem;

struct Sides {
    std::vector<double> ours, theirs;
};

void Configure(TFtpClient& cli, const testservers::VsftpdServer& server, const char* folder) {
    cli.SetHostName(server.Host());
    cli.SetPort(server.PortText());
    cli.SetUserName("anonymous");
    cli.SetPassWord("bench@example.com");
    cli.SetHostDirName(folder);
    cli.SetTimeout(60);
}

bool LogIn(TFtpClient& cli) {
    return cli.ConnectSync() && cli.CwdSync() && cli.TypeBinarySync();
}

// Seconds of the timed part; negative on failure.
double OurDownload(const testservers::VsftpdServer& server, const std::string& local) {
    TFtpClient cli;
    Configure(cli, server, "/pub/apps");
    cli.SetHostFileName("big.bin");
    cli.SetLocalFileName(local);
    if (!LogIn(cli)) return -1;
    QElapsedTimer timer;
    timer.start();
    const bool ok = cli.GetSync();
    const double seconds = timer.nsecsElapsed() / 1e9;
    cli.QuitSync();
    return ok ? seconds : -1;
}

double OurUpload(const testservers::VsftpdServer& server, const std::string& local,
                 const std::string& remote) {
    TFtpClient cli;
    Configure(cli, server, "/upload");
    cli.SetHostFileName(remote);
    cli.SetLocalFileName(local);
    if (!LogIn(cli)) return -1;
    QEventLoop loop;
    int error = -1;
    cli.OnRequestDone = [&](TCustomFtpCli*, TFtpRequest rq, uint16_t e) {
        if (rq != ftpRqPut) return;
        error = e;
        loop.quit();
    };
    QElapsedTimer timer;
    timer.start();
    cli.Put();
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    cli.OnRequestDone = nullptr;
    cli.QuitSync();
    return error == 0 ? seconds : -1;
}

double Ftplib(const testservers::VsftpdServer& server, const char* mode, const char* folder,
              const std::string& remote, const std::string& local) {
    QProcess py;
    py.start("python3",
             {MORVANDLE_FTPLIB_TRANSFER, "--host", QString::fromStdString(server.Host()), "--port",
              QString::number(server.Port()), "--folder", folder, "--mode", mode, "--remote",
              QString::fromStdString(remote), "--local", QString::fromStdString(local)});
    if (!py.waitForFinished(300000) || py.exitCode() != 0) {
        std::fprintf(stderr, "ftplib failed: %s\n", py.readAllStandardError().constData());
        return -1;
    }
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object()["seconds"].toDouble();
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Report(const char* what, const Sides& s) {
    const double a = Median(s.ours), b = Median(s.theirs);
    std::printf("%s median of %zu rounds: TFtpClient %.3f s, ftplib %.3f s, ratio "
                "TFtpClient/ftplib %.2f\n",
                what, s.ours.size(), a, b, a / b);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 5);
    if (!testservers::VsftpdServer::Available()) {
        std::printf("vsftpd is not installed: benchmark skipped\n");
        return 0;
    }
    testservers::VsftpdServer server;
    std::string error;
    if (!server.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    testsupport::TempDir local;
    const std::string source = server.Root() + "/pub/apps/big.bin";
    {
        std::ofstream out(source, std::ios::binary);
        std::mt19937_64 gen(1);
        std::vector<uint64_t> block(1 << 17);
        for (long written = 0; written < megabytes << 20; written += 1 << 20) {
            for (auto& v : block)
                v = gen();
            out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
        }
    }
    const auto size = fs::file_size(source);
    Sides down, up;
    for (int round = 1; round <= rounds; ++round) {
        const std::string ours = local.File("ours.bin"), theirs = local.File("theirs.bin");
        const double a = OurDownload(server, ours);
        const double b = Ftplib(server, "get", "/pub/apps", "big.bin", theirs);
        if (a < 0 || b < 0 || fs::file_size(ours) != size || fs::file_size(theirs) != size) {
            std::fprintf(stderr, "round %d: a download failed\n", round);
            return 1;
        }
        const std::string upOurs = "ours" + std::to_string(round) + ".bin";
        const std::string upTheirs = "theirs" + std::to_string(round) + ".bin";
        const double c = OurUpload(server, source, upOurs);
        const double d = Ftplib(server, "put", "/upload", upTheirs, source);
        const std::string folder = server.Root() + "/upload/";
        if (c < 0 || d < 0 || fs::file_size(folder + upOurs) != size ||
            fs::file_size(folder + upTheirs) != size) {
            std::fprintf(stderr, "round %d: an upload failed\n", round);
            return 1;
        }
        fs::remove(folder + upOurs);
        fs::remove(folder + upTheirs);
        down.ours.push_back(a);
        down.theirs.push_back(b);
        up.ours.push_back(c);
        up.theirs.push_back(d);
        std::printf("round %d: download TFtpClient %.3f s, ftplib %.3f s; upload TFtpClient "
                    "%.3f s, ftplib %.3f s (%ld MB)\n",
                    round, a, b, c, d, megabytes);
        std::fflush(stdout);
    }
    Report("download", down);
    Report("upload", up);

    // A logged-in connection with nothing to do.
    TFtpClient idle;
    Configure(idle, server, "/pub/apps");
    if (!LogIn(idle)) return 1;
    const double cpuBefore = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("idle logged-in connection: %.3f s CPU in 3 s\n", CpuSeconds() - cpuBefore);
    idle.QuitSync();
    return 0;
}
