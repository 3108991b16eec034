#include "service/ServiceServer.h"

#include "service/JudgeService.h"
#include "service/ListService.h"
#include "service/ServicePages.h"
#include "service/ServiceStore.h"

#include "platform/HttpServerLib.h"
#include <QDateTime>
#include <QMap>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr const char *kEnginePath = "/engine/index2.php";

double NowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

QString Q(const std::string &s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// logfmt value: bare when it is a plain word, otherwise quoted with \" \\ and \xNN escapes.
QByteArray LogValue(const QString &Text, bool AlwaysQuote = false) {
    QByteArray utf8 = Text.toUtf8();
    if (utf8.size() > 512)
        utf8 = utf8.left(512) + "...";
    bool plain = !AlwaysQuote && !utf8.isEmpty();
    QByteArray quoted = "\"";
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += ch;
            plain = false;
        } else if (c < 32 || c == 127) {
            quoted += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
            plain = false;
        } else {
            quoted += ch;
            plain = plain && c != ' ' && c != '=';
        }
    }
    quoted += '"';
    return plain ? utf8 : quoted;
}

thread_local std::chrono::steady_clock::time_point tRequestStart{};

const char *StatusText(int Status) {
    switch (Status) {
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 500:
        return "Internal Server Error";
    default:
        return "Error";
    }
}

} // namespace

QByteArray AccessLogLine(const TAccessLogEntry &e) {
    QByteArray line = "time=";
    line += QDateTime::fromMSecsSinceEpoch(e.TimeMs, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
    line += " remote=" + LogValue(e.Remote);
    line += " method=" + LogValue(e.Method);
    line += " target=" + LogValue(e.Target, true);
    line += " status=" + QByteArray::number(e.Status);
    line += " bytes=" + QByteArray::number(e.Bytes);
    line += " ms=" + (e.DurationMs < 0 ? QByteArray("-") : QByteArray::number(e.DurationMs, 'f', 3));
    line += " agent=" + LogValue(e.Agent, true);
    return line;
}

TUpdateInfo ServiceSettings::LoadUpdateInfo(const TServiceStore &Store) {
    TUpdateInfo info;
    if (auto version = Store.Setting(QLatin1String(kUpdateVersion)))
        ParseVersion(*version, info);
    info.Message = Store.Setting(QLatin1String(kUpdateMessage)).value_or(QString());
    info.Link = Store.Setting(QLatin1String(kUpdateLink)).value_or(QString());
    return info;
}

void ServiceSettings::SaveUpdateInfo(TServiceStore &Store, const TUpdateInfo &Info) {
    Store.SetSetting(QLatin1String(kUpdateVersion), VersionText(Info));
    Store.SetSetting(QLatin1String(kUpdateMessage), Info.Message);
    Store.SetSetting(QLatin1String(kUpdateLink), Info.Link);
}

struct TServiceServer::TImpl {
    TServiceStore &Store;
    TServiceOptions Options;
    httplib::Server Server;
    int BoundPort = 0;
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> InRun{false};
    std::mutex LogLock;

    TImpl(TServiceStore &s, TServiceOptions o) : Store(s), Options(std::move(o)) {}

    // The base of the links handed out: the operator's public URL, else the Host the caller used
    // (so a service reached through a tunnel or a LAN name still links to itself).
    QString PublicBase(const httplib::Request &req) const {
        if (!Options.PublicUrl.isEmpty()) {
            QString base = Options.PublicUrl;
            while (base.endsWith(u'/'))
                base.chop(1);
            return base;
        }
        static const QRegularExpression hostPattern(QStringLiteral("^[A-Za-z0-9.\\-]{1,253}(:[0-9]{1,5})?$|"
                                                                   "^\\[[0-9A-Fa-f:.]{2,45}\\](:[0-9]{1,5})?$"));
        const QString host = Q(req.get_header_value("Host"));
        if (hostPattern.match(host).hasMatch())
            return QStringLiteral("http://") + host;
        QString listen = Options.Host.contains(u':') ? u'[' + Options.Host + u']' : Options.Host;
        return QStringLiteral("http://%1:%2").arg(listen).arg(BoundPort);
    }

    void SendListError(const httplib::Request &req, httplib::Response &res, const TListError &error,
                       const QString &language) {
        const QByteArray text =
            ErrorReplyText(ListErrorMessage(error, language), PublicBase(req) + QStringLiteral("/faq.php"));
        const QByteArray packed = ZlibCompress(text);
        res.status = 200; // the program shows the service's message only with a successful reply
        res.set_content(packed.constData(), static_cast<size_t>(packed.size()), "application/octet-stream");
    }

    void ServeList(const httplib::Request &req, httplib::Response &res) {
        QMap<QString, QString> fields;
        const std::string type = req.get_header_value("Content-Type");
        if (req.is_multipart_form_data()) {
            // The first part of each name counts, like the first key of a form.
            for (const auto &[name, part] : req.files) {
                const QString key = Q(name);
                if (!fields.contains(key))
                    fields.insert(key, Q(part.content));
            }
        } else if (type.rfind("application/x-www-form-urlencoded", 0) == 0) {
            for (const auto &[name, value] : req.params) {
                if (name != "proxylist" && !fields.contains(Q(name)))
                    fields.insert(Q(name), Q(value));
            }
        } else {
            SendListError(req, res, TListError{TListError::ekMalformedForm, {}, {}}, QStringLiteral("english"));
            return;
        }
        TListQuery query;
        if (auto error = ParseListForm(fields, query)) {
            SendListError(req, res, *error, query.Language);
            return;
        }
        const auto proxies = Store.Query(query, static_cast<qint64>(NowSeconds()), Options.ListLimit);
        const QByteArray packed = ZlibCompress(FormatServiceList(proxies));
        res.set_content(packed.constData(), static_cast<size_t>(packed.size()), "application/octet-stream");
    }

    void ServeEngineGet(const httplib::Request &req, httplib::Response &res) {
        if (req.has_param("countryportlist")) {
            const QByteArray text = FormatCountryPortList(Store.Countries(), Store.Ports());
            res.set_content(text.constData(), static_cast<size_t>(text.size()), "text/plain; charset=utf-8");
        } else if (req.has_param("version") || req.has_param("lang")) {
            const QByteArray text = UpdateReply(ServiceSettings::LoadUpdateInfo(Store), PublicBase(req) + u'/');
            res.set_content(text.constData(), static_cast<size_t>(text.size()), "text/plain; charset=utf-8");
        } else if (req.has_param("proxylist")) {
            // The list is asked for with a form; a bare GET gets the list service's error reply.
            SendListError(req, res, TListError{TListError::ekMalformedForm, {}, {}}, QStringLiteral("english"));
        } else {
            res.status = 404;
        }
    }

    void ServeJudge(const httplib::Request &req, httplib::Response &res) {
        const double now = NowSeconds();
        if (req.method != "POST") {
            const QByteArray text = JudgeShowIpReply(Q(req.remote_addr), now);
            res.set_content(text.constData(), static_cast<size_t>(text.size()), "text/plain");
            return;
        }
        TJudgeRequest judge;
        judge.PeerAddress = Q(req.remote_addr);
        for (const auto &[name, value] : req.headers) {
            // httplib adds these itself; they are not part of what the proxy sent.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue;
            judge.Headers.emplace_back(Q(name), Q(value));
        }
        judge.UserIp = Q(req.get_param_value("userip"));
        if (req.has_param("proxy"))
            judge.Proxy = Q(req.get_param_value("proxy"));
        judge.Time = Q(req.get_param_value("time"));
        judge.Field1 = Q(req.get_param_value("field1"));
        if (req.has_file("field2"))
            judge.Field2 = Q(req.get_file_value("field2").content);
        else if (req.has_param("field2"))
            judge.Field2 = Q(req.get_param_value("field2"));
        const auto reply = JudgeTestReply(judge, now);
        if (!reply) {
            res.status = 400;
            res.set_content("The judge needs \"time\" as a number of seconds since 1970.\r\n", "text/plain");
            return;
        }
        res.set_content(reply->constData(), static_cast<size_t>(reply->size()), "text/plain");
    }

    void OnError(const httplib::Request &req, httplib::Response &res) {
        // The form could not be read (a broken multipart body, or a body over the limit): the list
        // service still answers in its own format, so the program can show why.
        if (req.path == kEnginePath && req.method == "POST" && req.has_param("proxylist")) {
            SendListError(req, res,
                          TListError{res.status == 413 ? TListError::ekTooLarge : TListError::ekMalformedForm, {}, {}},
                          QStringLiteral("english"));
            return;
        }
        if (res.body.empty()) {
            const std::string text = std::to_string(res.status) + " " + StatusText(res.status) + "\r\n";
            res.set_content(text, "text/plain");
        }
    }

    void Log(const httplib::Request &req, const httplib::Response &res) {
        TAccessLogEntry e;
        e.TimeMs = QDateTime::currentMSecsSinceEpoch();
        e.Remote = Q(req.remote_addr) + u':' + QString::number(req.remote_port);
        e.Method = Q(req.method);
        e.Target = Q(req.target.empty() ? req.path : req.target);
        e.Status = res.status;
        e.Bytes = static_cast<qint64>(res.body.size());
        if (tRequestStart != std::chrono::steady_clock::time_point{}) {
            e.DurationMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tRequestStart).count();
            tRequestStart = {};
        }
        e.Agent = Q(req.get_header_value("User-Agent"));
        const QByteArray line = AccessLogLine(e);
        std::lock_guard lock(LogLock);
        if (Options.AccessLog) {
            Options.AccessLog(line);
        } else {
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }

    void Setup() {
        const int threads = std::max(1, Options.Threads);
        Server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
        Server.set_payload_max_length(Options.MaxBodyBytes);
        Server.set_keep_alive_max_count(100);
        Server.set_keep_alive_timeout(5);
        Server.set_read_timeout(10);
        Server.set_write_timeout(10);
        Server.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
            tRequestStart = std::chrono::steady_clock::now();
            return httplib::Server::HandlerResponse::Unhandled;
        });
        Server.set_logger([this](const httplib::Request &req, const httplib::Response &res) { Log(req, res); });
        Server.set_error_handler([this](const httplib::Request &req, httplib::Response &res) { OnError(req, res); });
        Server.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr ep) {
            QString why = QStringLiteral("unknown error");
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception &e) {
                why = QString::fromUtf8(e.what());
            } catch (...) {
            }
            std::fprintf(stderr, "relayvane-service: request failed: %s\n", why.toUtf8().constData());
            res.status = 500;
            res.set_content("500 Internal Server Error\r\n", "text/plain");
        });

        Server.Get("/", [](const httplib::Request &, httplib::Response &res) {
            const QByteArray html = HomePageHtml();
            res.set_content(html.constData(), static_cast<size_t>(html.size()), "text/html; charset=utf-8");
        });
        // "/faq.php|" too: an error reply's link arrives in the program with the closing bar.
        Server.Get(R"(/faq\.php\|?)", [](const httplib::Request &, httplib::Response &res) {
            const QByteArray html = FaqPageHtml();
            res.set_content(html.constData(), static_cast<size_t>(html.size()), "text/html; charset=utf-8");
        });
        Server.Get(kEnginePath,
                   [this](const httplib::Request &req, httplib::Response &res) { ServeEngineGet(req, res); });
        Server.Post(kEnginePath, [this](const httplib::Request &req, httplib::Response &res) {
            if (req.has_param("proxylist"))
                ServeList(req, res);
            else
                res.status = 404;
        });
        for (const char *path : {"/type.php", "/engine/type.php"}) {
            Server.Get(path, [this](const httplib::Request &req, httplib::Response &res) { ServeJudge(req, res); });
            Server.Post(path, [this](const httplib::Request &req, httplib::Response &res) { ServeJudge(req, res); });
        }
    }
};

TServiceServer::TServiceServer(TServiceStore &Store, TServiceOptions Options)
    : FImpl(std::make_unique<TImpl>(Store, std::move(Options))) {
    FImpl->Setup();
}

TServiceServer::~TServiceServer() {
    Stop();
}

int TServiceServer::Bind() {
    const std::string host = FImpl->Options.Host.toStdString();
    int port = FImpl->Options.Port;
    const int bound = httplibsetup::BindWithBacklog(FImpl->Server, host, port);
    if (bound <= 0)
        throw Exception(port == 0 ? QStringLiteral("Cannot listen on %1").arg(FImpl->Options.Host)
                                  : QStringLiteral("Cannot listen on %1:%2").arg(FImpl->Options.Host).arg(port));
    port = bound;
    FImpl->BoundPort = port;
    return port;
}

bool TServiceServer::Run() {
    FImpl->InRun = true;
    bool ok = true;
    if (!FImpl->StopRequested)
        ok = FImpl->Server.listen_after_bind();
    FImpl->InRun = false;
    return ok || FImpl->StopRequested;
}

void TServiceServer::Stop() {
    FImpl->StopRequested = true;
    // Run may be between its check and the start of listening: wait (briefly) until the server
    // runs, since stopping a server that has not started yet does nothing.
    for (int i = 0; i < 200 && FImpl->InRun && !FImpl->Server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    FImpl->Server.stop();
}

bool TServiceServer::IsRunning() const {
    return FImpl->Server.is_running();
}
