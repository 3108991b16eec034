#pragma once
// Reads, sets and switches off the proxy settings of the places where browsers keep them: the
// desktop's system proxy (followed by Chromium and most programs), Firefox's prefs.js of the default
// profile, and Opera's operaprefs.ini. Every operation reads the place afresh and writes it back
// at once; nothing is cached here.

#include "browsers/SystemProxy.h"

#include <QString>
#include <cstdint>
#include <memory>

/// The browsers' proxy settings. The system settings go through a desktop backend (GNOME, KDE or none).
class TProxyManager {
public:
    /// Without a backend the desktop's own one is chosen (systemproxy::CreateDesktopBackend).
    explicit TProxyManager(std::unique_ptr<TSystemProxyBackend> SystemBackend = nullptr);
    ~TProxyManager();
    TProxyManager(const TProxyManager &) = delete;
    TProxyManager &operator=(const TProxyManager &) = delete;

    /// True when a running process's executable name contains exeName (case ignored).
    bool ProgramIsRunning(const QString &exeName);
    /// The number of such processes, counted in 8 bits (it wraps after 255).
    uint8_t ProgramRunningAmount(const QString &exeName);

    /// The system proxy: server "host:port" and whether it is on; false when it cannot be read.
    bool GetProxyIE(QString &proxyServer, bool &proxyState);
    bool GetProxyOpera(QString &proxyServer, bool &proxyState);
    bool GetProxyFirefox(QString &proxyServer, bool &proxyState);
    bool EnableProxyIE(const QString &proxyServer);
    bool EnableProxyOpera(const QString &proxyServer);
    bool EnableProxyFirefox(const QString &proxyServer);
    void DisableProxyIE();
    void DisableProxyOpera();
    void DisableProxyFirefox();

    TSystemProxyBackend *SystemBackend() const { return FSystemBackend.get(); }

    /// The Firefox profile in use: the [Install…] section's Default= of profiles.ini or installs.ini,
    /// else the profile marked Default=1, under ~/.mozilla/firefox or $XDG_CONFIG_HOME/mozilla/firefox.
    /// Empty when there is none.
    static QString FirefoxProfileFolder();
    /// prefs.js of that profile, or empty.
    static QString FirefoxPrefsFile();
    /// ~/.opera/operaprefs.ini.
    static QString OperaPrefsFile();

    /// The value of preference Name in prefs.js text: the text between the first "," and the next ")"
    /// after the first occurrence of Name followed by a double quote, trimmed and without quotes.
    static bool ReadPrefValue(const QString &Text, const QString &Name, QString &Value);
    /// Sets preference Name in the text (appending a user_pref line when it is missing); the value is
    /// written bare when it is an integer text, quoted otherwise. False when the line has no "," or
    /// no ")" after the name; the text must then not be written back.
    static bool WritePrefValue(QString &Text, const QString &Name, const QString &Value);
    /// The file's lines, each followed by CR LF, as Firefox's settings are edited; false when missing.
    static bool ReadPrefsText(const QString &Path, QString &Text, bool *IsUtf8 = nullptr);

private:
    std::unique_ptr<TSystemProxyBackend> FSystemBackend;
};
