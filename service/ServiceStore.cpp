#include "service/ServiceStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sqlite3.h>

namespace {

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS proxies (
    address      TEXT    NOT NULL,
    port         INTEGER NOT NULL CHECK (port BETWEEN 1 AND 65535),
    country_code TEXT    NOT NULL DEFAULT '',
    country_name TEXT    NOT NULL DEFAULT '',
    anonymity    INTEGER,          -- NULL unknown, 1 transparent, 2 anonymous, 3 elite
    https        INTEGER,          -- NULL unknown, 0 no, 1 yes
    post         INTEGER,          -- NULL unknown, 0 no, 1 yes
    speed        REAL,             -- kB/s
    ping         REAL,             -- seconds
    uptime       REAL,             -- per cent
    uptime_hours REAL,
    last_check   INTEGER,          -- seconds since 1970, UTC
    score        REAL    NOT NULL DEFAULT 0,
    PRIMARY KEY (address, port)
);
CREATE INDEX IF NOT EXISTS proxies_by_rank ON proxies (score DESC, address, port);
CREATE TABLE IF NOT EXISTS settings (
    key   TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

constexpr const char *kColumns = "address, port, country_code, country_name, anonymity, https, post, speed, ping, "
                                 "uptime, uptime_hours, last_check, score";

// Every condition is switched off by its "any" value, so one statement serves every form.
constexpr const char *kQuerySql = R"sql(
SELECT address, port, country_code, country_name, anonymity, https, post, speed, ping,
       uptime, uptime_hours, last_check, score
FROM proxies
WHERE (:cc = '' OR country_code = :cc)
  AND (:https < 0 OR https = :https)
  AND (:post < 0 OR post = :post)
  AND (:speed <= 0 OR speed >= :speed)
  AND (:port <= 0 OR port = :port)
  AND (:ping <= 0 OR ping <= :ping)
  AND (:types = 0 OR (anonymity IS NOT NULL AND ((:types >> anonymity) & 1) = 1))
  AND (:uptime <= 0 OR uptime >= :uptime)
  AND (:hours <= 0 OR uptime_hours >= :hours)
  AND (:since IS NULL OR last_check >= :since)
ORDER BY score DESC, address, port
LIMIT :limit
)sql";

constexpr const char *kPutSql = R"sql(
INSERT OR REPLACE INTO proxies (address, port, country_code, country_name, anonymity, https, post, speed, ping,
                                uptime, uptime_hours, last_check, score)
VALUES (:address, :port, :code, :name, :anonymity, :https, :post, :speed, :ping, :uptime, :hours, :last, :score)
)sql";

constexpr const char *kAddSql = R"sql(
INSERT INTO proxies (address, port, country_code, country_name) VALUES (:address, :port, :code, :name)
ON CONFLICT (address, port) DO UPDATE SET country_code = excluded.country_code, country_name = excluded.country_name
)sql";

} // namespace

/// A prepared statement, finalized when it goes out of scope. Values are bound by parameter name.
class TServiceStore::TStatement {
public:
    TStatement(const TServiceStore &Store, const char *Sql) : TStatement(Store, Store.FDb, Sql) {}
    TStatement(const TServiceStore &Store, sqlite3 *Db, const char *Sql) : FStore(Store), FDb(Db) {
        if (sqlite3_prepare_v2(Db, Sql, -1, &FStmt, nullptr) != SQLITE_OK)
            Store.Fail(QStringLiteral("cannot prepare a statement"), Db);
    }
    ~TStatement() { sqlite3_finalize(FStmt); }
    TStatement(const TStatement &) = delete;
    TStatement &operator=(const TStatement &) = delete;

    int Index(const char *Name) const {
        const int i = sqlite3_bind_parameter_index(FStmt, Name);
        if (i == 0)
            FStore.Fail(QStringLiteral("no parameter %1").arg(QLatin1String(Name)), FDb);
        return i;
    }
    void Bind(const char *Name, const QString &Value) {
        const QByteArray utf8 = Value.toUtf8();
        Check(sqlite3_bind_text(FStmt, Index(Name), utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT));
    }
    void Bind(const char *Name, qint64 Value) { Check(sqlite3_bind_int64(FStmt, Index(Name), Value)); }
    void Bind(const char *Name, int Value) { Bind(Name, static_cast<qint64>(Value)); }
    void Bind(const char *Name, double Value) { Check(sqlite3_bind_double(FStmt, Index(Name), Value)); }
    void BindNull(const char *Name) { Check(sqlite3_bind_null(FStmt, Index(Name))); }
    template <typename T> void Bind(const char *Name, const std::optional<T> &Value) {
        if (Value)
            Bind(Name, *Value);
        else
            BindNull(Name);
    }
    void Bind(const char *Name, const std::optional<bool> &Value) {
        if (Value)
            Bind(Name, *Value ? 1 : 0);
        else
            BindNull(Name);
    }

    /// True while a row is there; false when the statement is done.
    bool Step() {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        FStore.Fail(QStringLiteral("statement failed"), FDb);
    }
    void Reset() {
        sqlite3_reset(FStmt);
        sqlite3_clear_bindings(FStmt);
    }

    bool IsNull(int Column) const { return sqlite3_column_type(FStmt, Column) == SQLITE_NULL; }
    QString Text(int Column) const {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(FStmt, Column));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(FStmt, Column)) : QString();
    }
    qint64 Int(int Column) const { return sqlite3_column_int64(FStmt, Column); }
    double Real(int Column) const { return sqlite3_column_double(FStmt, Column); }
    std::optional<double> OptReal(int Column) const {
        return IsNull(Column) ? std::nullopt : std::optional<double>(Real(Column));
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK)
            FStore.Fail(QStringLiteral("cannot bind a value"), FDb);
    }
    const TServiceStore &FStore;
    sqlite3 *FDb;
    sqlite3_stmt *FStmt = nullptr;
};

/// A read-only connection borrowed from the store's idle ones (or opened), given back afterwards.
class TServiceStore::TReader {
public:
    explicit TReader(const TServiceStore &Store) : FStore(Store) {
        {
            std::lock_guard lock(Store.FReadersLock);
            if (!Store.FReaders.empty()) {
                Db = Store.FReaders.back();
                Store.FReaders.pop_back();
            }
        }
        if (!Db)
            Db = Store.OpenConnection(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    }
    ~TReader() {
        std::lock_guard lock(FStore.FReadersLock);
        FStore.FReaders.push_back(Db);
    }
    TReader(const TReader &) = delete;
    TReader &operator=(const TReader &) = delete;
    sqlite3 *Db = nullptr;

private:
    const TServiceStore &FStore;
};

sqlite3 *TServiceStore::OpenConnection(int Flags) const {
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(FPath).constData(), &db, Flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString why = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
        sqlite3_close(db);
        throw EServiceStoreError(QStringLiteral("Cannot open the store %1: %2").arg(FPath, why));
    }
    // Another process (an import while the service runs) may hold the lock for a moment.
    sqlite3_busy_timeout(db, 5000);
    return db;
}

TServiceStore::TServiceStore(const QString &Path) : FPath(Path) {
    const QFileInfo info(Path);
    if (!QDir().mkpath(info.absolutePath()))
        throw EServiceStoreError(QStringLiteral("Cannot create the folder %1").arg(info.absolutePath()));
    FDb = OpenConnection(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    try {
        // WAL: list queries read on their own connections while an import writes.
        Exec("PRAGMA journal_mode = WAL");
        Exec("PRAGMA synchronous = NORMAL");
        Exec(kSchema);
    } catch (...) {
        sqlite3_close(FDb);
        FDb = nullptr;
        throw;
    }
}

TServiceStore::~TServiceStore() {
    for (sqlite3 *reader : FReaders)
        sqlite3_close(reader);
    sqlite3_close(FDb);
}

QString TServiceStore::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/relayvane-service/relayvane-service.db");
}

void TServiceStore::Fail(const QString &What, sqlite3 *Db) const {
    throw EServiceStoreError(
        QStringLiteral("Store %1: %2: %3").arg(FPath, What, QString::fromUtf8(sqlite3_errmsg(Db))));
}

void TServiceStore::Exec(const char *Sql) {
    char *error = nullptr;
    if (sqlite3_exec(FDb, Sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const QString why = QString::fromUtf8(error ? error : "unknown error");
        sqlite3_free(error);
        throw EServiceStoreError(QStringLiteral("Store %1: %2").arg(FPath, why));
    }
}

void TServiceStore::AddAddresses(const std::vector<TServiceProxy> &Proxies) {
    WriteProxies(kAddSql, Proxies, false);
}

void TServiceStore::PutProxies(const std::vector<TServiceProxy> &Proxies) {
    WriteProxies(kPutSql, Proxies, true);
}

void TServiceStore::WriteProxies(const char *Sql, const std::vector<TServiceProxy> &Proxies, bool Measured) {
    std::lock_guard lock(FLock);
    Exec("BEGIN IMMEDIATE");
    try {
        TStatement s(*this, Sql);
        for (const TServiceProxy &p : Proxies) {
            s.Bind(":address", p.Address);
            s.Bind(":port", p.Port);
            s.Bind(":code", p.CountryCode);
            s.Bind(":name", p.CountryName);
            if (Measured) {
                if (p.Anonymity == TAnonymity::Unknown)
                    s.BindNull(":anonymity");
                else
                    s.Bind(":anonymity", static_cast<int>(p.Anonymity));
                s.Bind(":https", p.Https);
                s.Bind(":post", p.Post);
                s.Bind(":speed", p.Speed);
                s.Bind(":ping", p.Ping);
                s.Bind(":uptime", p.Uptime);
                s.Bind(":hours", p.UptimeHours);
                s.Bind(":last", p.LastCheck);
                s.Bind(":score", ComputeScore(p));
            }
            s.Step();
            s.Reset();
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<TServiceProxy> TServiceStore::ReadProxies(TStatement &s) const {
    std::vector<TServiceProxy> out;
    while (s.Step()) {
        TServiceProxy p;
        p.Address = s.Text(0);
        p.Port = static_cast<int>(s.Int(1));
        p.CountryCode = s.Text(2);
        p.CountryName = s.Text(3);
        const qint64 anonymity = s.IsNull(4) ? 0 : s.Int(4);
        p.Anonymity = (anonymity >= 1 && anonymity <= 3) ? static_cast<TAnonymity>(anonymity) : TAnonymity::Unknown;
        if (!s.IsNull(5))
            p.Https = s.Int(5) != 0;
        if (!s.IsNull(6))
            p.Post = s.Int(6) != 0;
        p.Speed = s.OptReal(7);
        p.Ping = s.OptReal(8);
        p.Uptime = s.OptReal(9);
        p.UptimeHours = s.OptReal(10);
        if (!s.IsNull(11))
            p.LastCheck = s.Int(11);
        p.Score = s.Real(12);
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<TServiceProxy> TServiceStore::Query(const TListQuery &Query, qint64 Now, int Limit) const {
    TReader reader(*this);
    TStatement s(*this, reader.Db, kQuerySql);
    s.Bind(":cc", Query.CountryCode);
    s.Bind(":https", Query.Https);
    s.Bind(":post", Query.Post);
    s.Bind(":speed", Query.MinSpeed);
    s.Bind(":port", Query.Port);
    s.Bind(":ping", Query.MaxPing);
    s.Bind(":types", Query.TypeMask);
    s.Bind(":uptime", Query.MinUptime);
    s.Bind(":hours", Query.MinUptimeHours);
    if (Query.IntervalMinutes > 0)
        s.Bind(":since", Now - static_cast<qint64>(Query.IntervalMinutes) * 60);
    else
        s.BindNull(":since");
    s.Bind(":limit", Limit > 0 ? static_cast<qint64>(Limit) : qint64(-1));
    return ReadProxies(s);
}

std::vector<TServiceProxy> TServiceStore::All() const {
    std::lock_guard lock(FLock);
    const QByteArray sql = QByteArray("SELECT ") + kColumns + " FROM proxies ORDER BY address, port";
    TStatement s(*this, sql.constData());
    return ReadProxies(s);
}

int TServiceStore::Count() const {
    std::lock_guard lock(FLock);
    TStatement s(*this, "SELECT count(*) FROM proxies");
    return s.Step() ? static_cast<int>(s.Int(0)) : 0;
}

std::vector<std::pair<QString, QString>> TServiceStore::Countries() const {
    std::lock_guard lock(FLock);
    TStatement s(*this, "SELECT country_code, max(country_name) FROM proxies WHERE country_code <> '' "
                        "GROUP BY country_code ORDER BY country_code");
    std::vector<std::pair<QString, QString>> out;
    while (s.Step())
        out.emplace_back(s.Text(0), s.Text(1));
    return out;
}

std::vector<int> TServiceStore::Ports() const {
    std::lock_guard lock(FLock);
    TStatement s(*this, "SELECT DISTINCT port FROM proxies ORDER BY port");
    std::vector<int> out;
    while (s.Step())
        out.push_back(static_cast<int>(s.Int(0)));
    return out;
}

std::optional<QString> TServiceStore::Setting(const QString &Key) const {
    std::lock_guard lock(FLock);
    TStatement s(*this, "SELECT value FROM settings WHERE key = :key");
    s.Bind(":key", Key);
    if (!s.Step())
        return std::nullopt;
    return s.Text(0);
}

void TServiceStore::SetSetting(const QString &Key, const QString &Value) {
    std::lock_guard lock(FLock);
    TStatement s(*this, "INSERT OR REPLACE INTO settings (key, value) VALUES (:key, :value)");
    s.Bind(":key", Key);
    s.Bind(":value", Value);
    s.Step();
}
