#pragma once
// The proxy store of relayvane-service: one SQLite file, one row per proxy, plus a few operator
// settings. Every statement is prepared with bound values; no text from outside reaches SQL.

#include "platform/SysUtils.h"
#include "service/ListService.h"
#include "service/ServiceProxy.h"

#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

/// A store that cannot be opened, read or written.
class EServiceStoreError : public Exception {
public:
    using Exception::Exception;
};

/// The SQLite store. Safe to use from several threads: writes and small reads share one connection
/// behind a lock; list queries run on read-only connections of their own, side by side.
class TServiceStore {
public:
    /// Opens (creating when needed, folders included) the database file at Path.
    explicit TServiceStore(const QString &Path);
    ~TServiceStore();
    TServiceStore(const TServiceStore &) = delete;
    TServiceStore &operator=(const TServiceStore &) = delete;

    /// $XDG_DATA_HOME/relayvane-service/relayvane-service.db (~/.local/share when unset).
    static QString DefaultPath();
    QString Path() const { return FPath; }

    /// Adds or updates proxies found in free text: address, port and country only; the measured
    /// fields of proxies already stored stay as they are. One transaction.
    void AddAddresses(const std::vector<TServiceProxy> &Proxies);
    /// Adds or replaces whole records (measured fields included, score recomputed). One transaction.
    void PutProxies(const std::vector<TServiceProxy> &Proxies);
    /// The proxies a list request asks for, best score first, at most Limit (0: no limit).
    /// Now is the current time in seconds since 1970, for the "interval" condition.
    std::vector<TServiceProxy> Query(const TListQuery &Query, qint64 Now, int Limit) const;
    /// Every stored proxy, by address and port.
    std::vector<TServiceProxy> All() const;
    int Count() const;
    /// Code and name of every country that has stored proxies, by code.
    std::vector<std::pair<QString, QString>> Countries() const;
    /// Every stored port, ascending.
    std::vector<int> Ports() const;

    std::optional<QString> Setting(const QString &Key) const;
    void SetSetting(const QString &Key, const QString &Value);

private:
    class TStatement;
    class TReader;
    void Exec(const char *Sql);
    /// One transaction of Sql per proxy; Measured: the statement also takes the measured fields.
    void WriteProxies(const char *Sql, const std::vector<TServiceProxy> &Proxies, bool Measured);
    [[noreturn]] void Fail(const QString &What, sqlite3 *Db) const;
    std::vector<TServiceProxy> ReadProxies(TStatement &Statement) const;
    sqlite3 *OpenConnection(int Flags) const;

    QString FPath;
    sqlite3 *FDb = nullptr;
    mutable std::mutex FLock;
    mutable std::mutex FReadersLock;
    mutable std::vector<sqlite3 *> FReaders; // idle read-only connections
};
