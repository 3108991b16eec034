// relayvane-cli relay: runs the relay proxy in the foreground until SIGINT or SIGTERM.

#include "cli/CliCommand.h"
#include "relay/ProxyServer.h"

#include <QTextStream>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>

namespace {

const char *const RelayUsage =
    "usage: relayvane-cli relay [OPTIONS]\n\n"
    "Runs the relay proxy in the foreground until Ctrl+C (SIGINT) or SIGTERM, then ends every\n"
    "connection and exits. Requests for hosts that contain one of the gateway host fragments go\n"
    "through the gateway; with a local proxy they go through it (tunnelled to the gateway when\n"
    "one applies); everything else goes straight to the web server.\n\n"
    "Options:\n"
    "  --port N                      listen on 127.0.0.1:N (default 3128)\n"
    "  --listen ADDR:PORT            listen address and port; loopback addresses only\n"
    "  --gateway HOST:PORT           the gateway proxy\n"
    "  --gateway-auth USER:PASS      credentials for the gateway\n"
    "  --local HOST:PORT             the local (upstream) proxy\n"
    "  --local-proxy [USER:PASS@]HOST:PORT\n"
    "                                the local proxy, with its credentials\n"
    "  --local-auth USER:PASS        credentials for the local proxy\n"
    "  --hosts LIST, --gateway-hosts LIST\n"
    "                                comma-separated host fragments that go via the gateway\n"
    "                                (default \".\" when a gateway is given: every name with a dot)\n"
    "  --debug                       print the relay's debug texts on stderr\n"
    "  -h, --help                    show this help\n";

bool IsLoopback(const QString &Address) {
    in_addr a{};
    if (::inet_pton(AF_INET, Address.toLatin1().constData(), &a) == 1)
        return (ntohl(a.s_addr) >> 24) == 127;
    return false;
}

int RunRelay(const QStringList &Args) {
    if (CliWantsHelp(Args)) {
        QTextStream(stdout) << RelayUsage;
        return 0;
    }
    QString listenAddress = QStringLiteral("127.0.0.1");
    int port = 3128;
    QString gateway, gatewayAuth, local, localAuth;
    QStringList hosts;
    bool hostsGiven = false;
    bool debug = false;

    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &opt = Args[i];
        if (opt == QLatin1String("--debug")) {
            debug = true;
            continue;
        }
        static const QStringList withValue = {"--port",       "--listen", "--gateway",      "--gateway-auth",
                                              "--local",      "--local-proxy", "--local-auth", "--hosts",
                                              "--gateway-hosts"};
        if (!withValue.contains(opt))
            return CliFail(QStringLiteral("relay: unknown option '%1'; see 'relayvane-cli relay --help'").arg(opt));
        if (i + 1 >= Args.size())
            return CliFail(QStringLiteral("relay: %1 needs a value").arg(opt));
        const QString value = Args[++i];
        if (opt == QLatin1String("--port") || opt == QLatin1String("--listen")) {
            QString portText = value;
            if (opt == QLatin1String("--listen")) {
                const qsizetype colon = value.lastIndexOf(u':');
                if (colon < 0)
                    return CliFail(QStringLiteral("relay: --listen wants ADDR:PORT, not '%1'").arg(value));
                listenAddress = value.left(colon);
                portText = value.mid(colon + 1);
                if (!IsLoopback(listenAddress))
                    return CliFail(QStringLiteral("relay: the relay listens on loopback addresses only, not '%1'")
                                       .arg(listenAddress));
            }
            int32_t p = 0;
            if (!TryStrToInt(portText, p) || p < 1 || p > 65535)
                return CliFail(QStringLiteral("relay: '%1' is not a port number (1 to 65535)").arg(portText));
            port = p;
        } else if (opt == QLatin1String("--gateway")) {
            gateway = value;
        } else if (opt == QLatin1String("--gateway-auth")) {
            gatewayAuth = value;
        } else if (opt == QLatin1String("--local")) {
            local = value;
        } else if (opt == QLatin1String("--local-proxy")) {
            // user:pass@host:port; the password may itself hold "@", the host never does.
            const qsizetype at = value.lastIndexOf(u'@');
            local = at < 0 ? value : value.mid(at + 1);
            if (at >= 0)
                localAuth = value.left(at);
        } else if (opt == QLatin1String("--local-auth")) {
            localAuth = value;
        } else {
            hosts = value.split(u',', Qt::SkipEmptyParts);
            hostsGiven = true;
        }
    }

    TProxyServer server;
    auto checkHostPort = [](const QString &what, const QString &value) {
        if (value.isEmpty())
            return true;
        const qsizetype colon = value.indexOf(u':');
        int32_t p = 0;
        if (colon <= 0 || !TryStrToInt(QStringView(value).mid(colon + 1), p) || p < 1 || p > 65535) {
            CliFail(QStringLiteral("relay: %1 wants HOST:PORT, not '%2'").arg(what, value));
            return false;
        }
        return true;
    };
    if (!checkHostPort(QStringLiteral("--gateway"), gateway) || !checkHostPort(QStringLiteral("--local"), local))
        return 1;
    server.SetGatewayProxy(gateway);
    server.SetGatewayProxyUserPass(gatewayAuth);
    server.SetLocalProxy(local);
    server.SetLocalProxyUserPass(localAuth);
    if (!hostsGiven && !gateway.isEmpty())
        hosts = QStringList{QStringLiteral(".")};
    server.SetGatewayHosts(hosts);
    if (debug) {
        // Connection threads report at once; one lock keeps each text in one piece.
        auto lock = std::make_shared<std::mutex>();
        server.SetOnDebugData([lock](const QString &Data) {
            const QByteArray bytes = Data.toLocal8Bit();
            std::lock_guard<std::mutex> guard(*lock);
            std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        });
        server.OnException = [lock](TTcpServerContext *, const std::exception &e) {
            std::lock_guard<std::mutex> guard(*lock);
            std::fprintf(stderr, "CONNECTION ENDED: %s\n", e.what());
            std::fflush(stderr);
        };
    }
    server.Bindings().append(TSocketBinding{listenAddress, port});

    // The signals are taken by sigwait below; blocked before the threads start, they stay
    // blocked in every connection thread, which inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    server.SetActive(true);
    QTextStream(stderr) << "relayvane-cli relay: listening on " << listenAddress << ':' << server.Bindings()[0].Port
                        << Qt::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.SetActive(false);
    QTextStream(stderr) << "relayvane-cli relay: stopped" << Qt::endl;
    return 0;
}

TCliRegistrar registrar{{"relay", "run the relay proxy on 127.0.0.1:3128 in the foreground", RunRelay}};

} // namespace
