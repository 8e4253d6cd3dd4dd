// What a wait for a silent server costs: the SMTP client connects to a server on 127.0.0.1
// that accepts the connection and never says a word, and waits for its greeting until the
// time-out ends the wait. Prints the wall time, the CPU time and the context switches of the
// process during the wait (getrusage), for each of ROUNDS rounds.
//
//   wait_bench [SECONDS] [ROUNDS]
#include "mail/SmtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Usage
{
    double cpuMs = 0;
    long switches = 0;
};

Usage Now()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3,
            u.ru_nvcsw + u.ru_nivcsw};
}

// A listening socket on a free port of 127.0.0.1; the kernel completes the connection
// without anyone accepting it, and nothing is ever sent.
int SilentServer(quint16 &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return -1;
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::printf("round  wall ms  CPU ms  context switches\n");
    for (int round = 1; round <= rounds; ++round) {
        quint16 port = 0;
        const int server = SilentServer(port);
        if (server < 0)
            return 1;
        SmtpClient smtp;
        smtp.Host = QStringLiteral("127.0.0.1");
        smtp.Port = port;
        smtp.HeloName = "bench";
        smtp.TimeOut = seconds * 1000;
        QElapsedTimer wall;
        const Usage before = Now();
        wall.start();
        try {
            smtp.Connect();
        } catch (const Exception &) {
            // The time-out, as expected.
        }
        const Usage after = Now();
        std::printf("%5d  %7.1f  %6.1f  %16ld\n", round, double(wall.nsecsElapsed()) / 1e6, after.cpuMs - before.cpuMs,
                    after.switches - before.switches);
        ::close(server);
    }
    return 0;
}
