#include "browsers/BrowserSetup.h"

#include "browsers/ProcessInfoLite.h"
#include "browsers/ProxyManager.h"
#include "platform/Registry.h"
#include "platform/ServiceEndpoints.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

const QString kAllBrowsers = QStringLiteral("all browsers");

/// The three places, each with its three remembered values and its proxy operations.
struct TPlaceOps {
    const char *Suffix;
    bool (TProxyManager::*Get)(QString &, bool &);
    bool (TProxyManager::*Enable)(const QString &);
    void (TProxyManager::*Disable)();
    const char *WarningKey;
};

const TPlaceOps kSystem{"IE", &TProxyManager::GetProxyIE, &TProxyManager::EnableProxyIE, &TProxyManager::DisableProxyIE,
                        "sCannotSetupIE"};
const TPlaceOps kFirefox{"FF", &TProxyManager::GetProxyFirefox, &TProxyManager::EnableProxyFirefox,
                         &TProxyManager::DisableProxyFirefox, "sCannotSetupFF"};
const TPlaceOps kOpera{"OP", &TProxyManager::GetProxyOpera, &TProxyManager::EnableProxyOpera,
                       &TProxyManager::DisableProxyOpera, "sCannotSetupOP"};

QString Changed(const TPlaceOps &P) {
    return QStringLiteral("ProxyServerChanged") + QLatin1String(P.Suffix);
}
QString Server(const TPlaceOps &P) {
    return QStringLiteral("DefaultProxyServer") + QLatin1String(P.Suffix);
}
QString State(const TPlaceOps &P) {
    return QStringLiteral("DefaultProxyState") + QLatin1String(P.Suffix);
}

/// A stored integer other than 0 reads as true.
bool ReadFlag(TRegistry &Reg, const QString &Name) {
    return Reg.ValueExists(Name) && Reg.ReadInteger(Name) != 0;
}

bool UsesSystemSettings(const QString &Browser) {
    return Browser == kAllBrowsers || Browser == QLatin1String("google chrome") ||
           Browser == QLatin1String("internet explorer") || Browser == QLatin1String("apple safari");
}
bool UsesFirefox(const QString &Browser) {
    return Browser == kAllBrowsers || Browser == QLatin1String("mozilla firefox");
}
bool UsesOpera(const QString &Browser) {
    return Browser == kAllBrowsers || Browser == QLatin1String("opera browser");
}

/// Waits until the process has gone (or is a zombie nobody reaped yet), at most Ms milliseconds.
void WaitForEnd(uint32_t Pid, int Ms) {
    for (int waited = 0; waited < Ms; waited += 20) {
        const QByteArray stat = "/proc/" + QByteArray::number(Pid) + "/stat";
        QFile f(QString::fromLatin1(stat));
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QByteArray text = f.readAll();
        const qsizetype close = text.lastIndexOf(')');
        if (close < 0 || close + 2 >= text.size() || text.at(close + 2) == 'Z')
            return;
        ::usleep(20000);
    }
}

} // namespace

TBrowserSetup::TBrowserSetup(TProxyManager *Manager, TProcessInfoLite *Processes, QObject *Owner)
    : QObject(Owner), FManager(Manager), FProcesses(Processes) {}

TBrowserSetup::~TBrowserSetup() = default;

void TBrowserSetup::SetBrowser(const QString &Browser) {
    FBrowserSource = [Browser] { return Browser; };
}

QString TBrowserSetup::Browser() const {
    return FBrowserSource ? FBrowserSource() : kAllBrowsers;
}

void TBrowserSetup::SetProcessNames(const QString &Family, const QStringList &Names) {
    if (Family == QLatin1String("firefox"))
        FFirefoxNames = Names;
    else if (Family == QLatin1String("opera"))
        FOperaNames = Names;
}

QStringList TBrowserSetup::BrowserProcessNames(const QString &Browser) const {
    QStringList names;
    if (UsesFirefox(Browser))
        names += FFirefoxNames;
    if (UsesOpera(Browser))
        names += FOperaNames;
    return names;
}

QString TBrowserSetup::DefaultMessage(const QString &Key) {
    static const struct {
        const char *Key, *Text;
    } texts[] = {
        {"sCannotSetupIE", "Program cannot be prepare for Internet Explorer, Google Chrome and Safari!"},
        {"sCannotSetupFF", "Program cannot be prepare for Firefox!"},
        {"sCannotSetupOP", "Program cannot be prepare for Opera!"},
    };
    for (const auto &t : texts)
        if (Key == QLatin1String(t.Key))
            return QString::fromLatin1(t.Text) + QStringLiteral(" For more information please refer to FAQ at ") +
                   HomeUrl();
    return Key;
}

QString TBrowserSetup::Message(const QString &Key) const {
    return FMessageSource ? FMessageSource(Key) : DefaultMessage(Key);
}

std::unique_ptr<TRegistry> TBrowserSetup::OpenStore() const {
    return FRegistryFile.isEmpty() ? std::make_unique<TRegistry>() : std::make_unique<TRegistry>(FRegistryFile);
}

bool TBrowserSetup::HasUnrestoredChanges() const {
    try {
        auto reg = OpenStore();
        if (!reg->OpenKey(TRegistry::ProgramKey(), false))
            return false;
        for (const TPlaceOps *p : {&kSystem, &kFirefox, &kOpera})
            if (ReadFlag(*reg, Changed(*p)))
                return true;
    } catch (const Exception &) {
    }
    return false;
}

uint8_t TBrowserSetup::Fail(const QString &Key) {
    if (FOnWarning)
        FOnWarning(Message(Key), FaqUrl());
    return 2;
}

uint8_t TBrowserSetup::SetupBrowser(bool IExplorerOnly) {
    const QString browser = Browser();
    QStringList closed;
    if (!IExplorerOnly)
        CloseRunningBrowsers(BrowserProcessNames(browser), closed);

    // One place: remember what it had (unless a setup is already remembered), then point it at the
    // relay. A store that cannot be read or written counts as a failure of that place: changing
    // settings we could not remember would lose the user's own.
    const auto setUp = [&](const TPlaceOps &place, bool guardSystem) -> bool {
        try {
            auto reg = OpenStore();
            reg->OpenKey(TRegistry::ProgramKey(), true);
            const bool remembered = ReadFlag(*reg, Changed(place));
            if (guardSystem && remembered)
                return true; // runs each time proxying is turned on: never remember the relay itself
            QString server;
            bool state = false;
            (FManager->*place.Get)(server, state);
            if (!(FManager->*place.Enable)(FRelayAddress))
                return false;
            // A second setup without a restore in between would otherwise remember the relay's own
            // address and "restore" it at exit: keep what the first one remembered.
            if (!remembered) {
                reg->WriteInteger(Changed(place), 1);
                reg->WriteString(Server(place), server);
                reg->WriteInteger(State(place), state ? 1 : 0);
            }
            return true;
        } catch (const Exception &) {
            return false;
        }
    };

    try {
        OpenStore()->OpenKey(TRegistry::ProgramKey(), true);
    } catch (const Exception &) {
        // reported by the place that needs the store
    }
    if (UsesSystemSettings(browser) && !setUp(kSystem, true))
        return Fail(QLatin1String(kSystem.WarningKey));
    if (!IExplorerOnly) {
        if (UsesFirefox(browser) && !setUp(kFirefox, false))
            return Fail(QLatin1String(kFirefox.WarningKey));
        if (UsesOpera(browser) && !setUp(kOpera, false))
            return Fail(QLatin1String(kOpera.WarningKey));
        StartPrograms(closed);
    }
    return 1;
}

bool TBrowserSetup::RestoreBrowser(bool IExplorerOnly) {
    QStringList closed;
    if (!IExplorerOnly)
        CloseRunningBrowsers(BrowserProcessNames(Browser()), closed);
    const auto restore = [this](const TPlaceOps &Place) {
        try {
            auto reg = OpenStore();
            if (!reg->OpenKey(TRegistry::ProgramKey(), false))
                return;
            if (!reg->ValueExists(Changed(Place)) || !reg->ValueExists(Server(Place)) ||
                !reg->ValueExists(State(Place)))
                return;
            if (reg->ReadInteger(Changed(Place)) == 0)
                return;
            const QString server = reg->ReadString(Server(Place));
            const bool state = reg->ReadInteger(State(Place)) != 0;
            (FManager->*Place.Enable)(server);
            if (!state)
                (FManager->*Place.Disable)();
            reg->WriteInteger(Changed(Place), 0);
            reg->WriteString(Server(Place), QString());
            reg->WriteInteger(State(Place), 0);
        } catch (const Exception &) {
            // One place's trouble (a value of the wrong type, an unreadable store) must not stop the others.
        }
    };
    restore(kSystem);
    if (!IExplorerOnly) {
        restore(kFirefox);
        restore(kOpera);
        StartPrograms(closed);
    }
    return true;
}

void TBrowserSetup::CloseRunningBrowsers(const QStringList &Names, QStringList &ClosedPaths) {
    if (Names.isEmpty() || !FProcesses)
        return;
    TProcessCollection *list = nullptr;
    try {
        FProcesses->UpdateList(); // read now: the list is not kept fresh in between
        list = FProcesses->RunningProcesses();
    } catch (const Exception &) {
        return;
    }
    const uint32_t me = static_cast<uint32_t>(::getuid());
    for (const QString &name : Names) {
        try {
            // The browser's main process of this user: its children (Firefox's content processes run
            // the same executable) end with it, and other users' browsers are not ours to end.
            TProcessItemLite *found = nullptr;
            for (const auto &item : *list) {
                if (!processinfo::SameNameIgnoringAsciiCase(item->ExeFile(), name) || item->Uid() != me)
                    continue;
                const TProcessItemLite *parent = list->FindByID(item->ParentProcessID());
                if (parent && processinfo::SameNameIgnoringAsciiCase(parent->ExeFile(), item->ExeFile()))
                    continue;
                found = item.get();
                break;
            }
            if (!found || found->Is64Bits())
                continue;
            const QString path = found->FullPath();
            // Politely first, so the browser saves its session; then for good.
            bool ended = found->CloseProcess();
            if (!ended && found->TerminateProcess()) {
                WaitForEnd(found->ProcessID(), 1000);
                ended = true;
            }
            if (ended)
                ClosedPaths << path;
        } catch (const Exception &) {
            // this name is skipped
        }
    }
}

void TBrowserSetup::StartPrograms(const QStringList &Paths) {
    for (const QString &path : Paths)
        RunProgram(path);
}

bool TBrowserSetup::RunProgram(const QString &Path) {
    const QByteArray exe = QFile::encodeName(Path);
    if (exe.isEmpty())
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Our descriptors stay ours; the standard channels lead nowhere.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // A session of its own: no signal of ours (a Ctrl+C in our terminal) reaches it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    char *argv[] = {const_cast<char *>(exe.constData()), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, exe.constData(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;
    // We do not wait for the program, but someone must collect its exit status, or it would stay a
    // zombie for the rest of our run.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}
