#pragma once
// Proxy records, the proxy collection with its two list text formats, and the proxy filter.

#include "catalogue/Marlo.Common.MyCollection.h"
#include "catalogue/Marlo.Common.MyExceptions.h"
#include "geoip/CountryDatabase.h"

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <cstddef>
#include <memory>

/// A list text that cannot be read: a proxy entry or line with too few fields.
/// (A port or score that is no number raises EConvertError, with the place named in the message.)
class EProxyListError : public Exception {
public:
    using Exception::Exception;
};

/// Texts that the interface shows for the anonymity types; the language layer installs its own.
class IProxyTypeTexts {
public:
    virtual ~IProxyTypeTexts() = default;
    virtual QString sTransparent() const = 0;
    virtual QString sAnonymous() const = 0;
    virtual QString sElite() const = 0;
};
/// Installs the texts used by TypeAsString (not owned); null restores the English defaults
/// "Transparent", "Anonymous" and "Elite".
void SetProxyTypeTexts(const IProxyTypeTexts *Texts);

/// Receives the message and link of a list service error reply.
class IWarningSink {
public:
    virtual ~IWarningSink() = default;
    virtual void ShowWarningMessage(const QString &Msg, const QString &Url) = 0;
};

/// One proxy: address, country, test results and rating.
class TProxtData : public TMyCollectionItem {
    Q_GADGET
    Q_PROPERTY(QString Country READ Country WRITE SetCountry)
    Q_PROPERTY(QString CountryCode READ CountryCode WRITE SetCountryCode)
    Q_PROPERTY(double Rank READ Rank WRITE SetRank)
    Q_PROPERTY(QString IP READ IP WRITE SetIP)
    Q_PROPERTY(int Port READ Port WRITE SetPort)
    Q_PROPERTY(TTriState Alive READ Alive WRITE SetAlive)
    Q_PROPERTY(TTriState Tranparent READ Tranparent WRITE SetTranparent)
    Q_PROPERTY(TTriState Anonymous READ Anonymous WRITE SetAnonymous)
    Q_PROPERTY(TTriState Elite READ Elite WRITE SetElite)
    Q_PROPERTY(TTriState Botnet READ Botnet WRITE SetBotnet)
    Q_PROPERTY(TTriState HttpGet READ HttpGet WRITE SetHttpGet)
    Q_PROPERTY(TTriState HttpPost READ HttpPost WRITE SetHttpPost)
    Q_PROPERTY(TTriState HttpsGet READ HttpsGet WRITE SetHttpsGet)
    Q_PROPERTY(TTriState HttpsPost READ HttpsPost WRITE SetHttpsPost)
    Q_PROPERTY(double Speed READ Speed WRITE SetSpeed)
    Q_PROPERTY(double Ping READ Ping WRITE SetPing)
    Q_PROPERTY(bool Tested READ Tested WRITE SetTested)
    Q_PROPERTY(QString AsString READ AsString STORED false)
    Q_PROPERTY(QString TypeAsString READ TypeAsString STORED false)
    Q_PROPERTY(QString TypeAsStringEng READ TypeAsStringEng STORED false)
    Q_PROPERTY(QString SpeedAsString READ SpeedAsString STORED false)
    Q_PROPERTY(QString PingAsString READ PingAsString STORED false)
public:
    /// The result of one test.
    enum TTriState : quint8 { tsUnknown = 0, tsTrue = 1, tsFalse = 2 };
    Q_ENUM(TTriState)

    TProxtData();
    const QMetaObject *GadgetMetaObject() const override { return &staticMetaObject; }
    /// Records come from a pool of large slabs (lists of a million records are real: one heap
    /// block and one page fault per record is most of what a big parse would cost).
    static void *operator new(std::size_t Size);
    static void operator delete(void *P, std::size_t Size) noexcept;
    // Placement forms stay as usual (Qt's meta-type code constructs gadgets in place).
    static void *operator new(std::size_t, void *Where) noexcept { return Where; }
    static void operator delete(void *, void *) noexcept {}
    void Assign(const TMyCollectionItem &Source) override;

    QString Country() const { return FCountry; }
    void SetCountry(const QString &Value) { FCountry = Value; }
    QString CountryCode() const { return FCountryCode; }
    void SetCountryCode(const QString &Value) { FCountryCode = Value; }
    double Rank() const { return FRank; }
    void SetRank(double Value) { FRank = Value; }
    QString IP() const { return FIP; }
    /// Stores the address; a collection that indexes addresses is told.
    void SetIP(const QString &Value);
    int Port() const { return FPort; }
    void SetPort(int Value);
    TTriState Alive() const { return FAlive; }
    void SetAlive(TTriState Value) { FAlive = Value; }
    TTriState Tranparent() const { return FTranparent; }
    void SetTranparent(TTriState Value) { FTranparent = Value; }
    TTriState Anonymous() const { return FAnonymous; }
    void SetAnonymous(TTriState Value) { FAnonymous = Value; }
    TTriState Elite() const { return FElite; }
    void SetElite(TTriState Value) { FElite = Value; }
    TTriState Botnet() const { return FBotnet; }
    void SetBotnet(TTriState Value) { FBotnet = Value; }
    TTriState HttpGet() const { return FHttpGet; }
    void SetHttpGet(TTriState Value) { FHttpGet = Value; }
    TTriState HttpPost() const { return FHttpPost; }
    void SetHttpPost(TTriState Value) { FHttpPost = Value; }
    TTriState HttpsGet() const { return FHttpsGet; }
    void SetHttpsGet(TTriState Value) { FHttpsGet = Value; }
    TTriState HttpsPost() const { return FHttpsPost; }
    void SetHttpsPost(TTriState Value) { FHttpsPost = Value; }
    double Speed() const { return FSpeed; }
    void SetSpeed(double Value) { FSpeed = Value; }
    double Ping() const { return FPing; }
    void SetPing(double Value) { FPing = Value; }
    bool Tested() const { return FTested; }
    /// False also clears every test result (rank, address and country stay).
    void SetTested(bool Value);
    QObject *GUILink() const { return FGUILink; }
    void SetGUILink(QObject *Value) { FGUILink = Value; }

    /// True when none of the eight results (HttpsPost not counted) is unknown.
    bool DataCompleat() const;
    QString AsString() const;
    QString PingAsString() const;
    QString SpeedAsString() const;
    QString TypeAsString() const;
    QString TypeAsStringEng() const;
    void MakeRank(double MaxSpeedPoints, double MaxPingPoints, double SpeedPerPoint, double PingPerPoint,
                  double MinSpeed, double MinPing);

private:
    friend class TProxyCollection;
    // The record's fields, packed (the published order above is what the file sees).
    int FPort = 0;
    TTriState FAlive = tsUnknown;
    TTriState FElite = tsUnknown;
    TTriState FTranparent = tsUnknown;
    TTriState FAnonymous = tsUnknown;
    double FRank = 0;
    QString FCountry;
    QString FCountryCode;
    QString FIP;
    QObject *FGUILink = nullptr;
    double FSpeed = -1;
    double FPing = -1;
    TTriState FBotnet = tsUnknown;
    TTriState FHttpPost = tsUnknown;
    TTriState FHttpGet = tsUnknown;
    TTriState FHttpsGet = tsUnknown;
    TTriState FHttpsPost = tsUnknown;
    bool FTested = false;
};

using TTriState = TProxtData::TTriState;
inline constexpr TTriState tsUnknown = TProxtData::tsUnknown;
inline constexpr TTriState tsTrue = TProxtData::tsTrue;
inline constexpr TTriState tsFalse = TProxtData::tsFalse;

/// An ordered list of proxy records that can be filled from list text.
class TProxyCollection : public TMyCollection {
    Q_OBJECT
    Q_PROPERTY(bool NoDuplicates READ NoDuplicates WRITE SetNoDuplicates)
public:
    enum TSortType { stCountry, stPort, stRating };
    Q_ENUM(TSortType)

    explicit TProxyCollection(QObject *parent = nullptr);
    ~TProxyCollection() override;

    bool NoDuplicates() const { return FNoDuplicates; }
    /// The address index exists while NoDuplicates is true; switching it on builds it.
    void SetNoDuplicates(bool Value);
    TSortType SortType() const { return FSortType; }

    TProxtData *Items(int Index) const { return static_cast<TProxtData *>(Item(Index)); }
    TProxtData *Add();
    TProxtData *Add(const QString &Country, const QString &Code, double Rank, const QString &IP, int Port);
    TProxtData *Insert(int Index);
    void Clear() override;
    void Delete(TMyCollectionItem *Item) override;
    void Assign(const TMyCollection &Source) override;
    using TMyCollection::Sort;
    void Sort(TSortType SortType);
    int CompareItems(const TMyCollectionItem *Item1, const TMyCollectionItem *Item2) const override;
    /// With NoDuplicates: a record with exactly this address text and port exists. Constant time.
    bool ProxyExists(const QString &IP, int Port) const;

    /// Free list text: every address and port pair. On an error the collection is left as it was
    /// and the error is raised (EProxyListError, EConvertError).
    void ParseStream(QIODevice &Stream, const TProxtData *ActiveProxy);
    void ParseText(QByteArrayView Bytes, const TProxtData *ActiveProxy);
    /// The list service's reply (already inflated). An error reply goes to the warning sink.
    /// On an error the collection is left as it was and the error is raised.
    void ParseStreamVIP(QIODevice &Stream, const TProxtData *ActiveProxy);
    void ParseTextVIP(QByteArrayView Bytes, const TProxtData *ActiveProxy);

    /// Where error replies of the list service go (not owned); none: they are dropped.
    void SetWarningSink(IWarningSink *Sink) { FWarningSink = Sink; }
    /// The country database used by ParseStream: on first use it is created and loaded by its
    /// thread while events keep being processed. Null when the application began to quit before
    /// the load ended (a database still being written is never handed out).
    TCountryDatabase *CountryDatabase();
    /// Gives the collection a database that is already filled (tests, tools); any loader of the
    /// earlier one is waited for first.
    void SetCountryDatabase(std::unique_ptr<TCountryDatabase> Database);
    /// What the loader thread made by CountryDatabase() runs (default: LoadDatabase); tests use a
    /// slow one to see the wait end when the application quits.
    void SetCountryDatabaseLoader(TCountryDatabaseThread::TLoader Loader) { FLoader = std::move(Loader); }

protected:
    std::unique_ptr<TMyCollectionItem> NewItem() const override;
    void ItemAdded(TMyCollectionItem *Item) override;
    void ItemRemoving(TMyCollectionItem *Item) override;
    void ItemsCleared() override;
    void ItemChanging(TMyCollectionItem *Item) override;
    void ItemChanged(TMyCollectionItem *Item) override;

private:
    struct TParse;
    void Commit(TParse &Parse);
    bool FNoDuplicates = false;
    TSortType FSortType = stCountry;
    IWarningSink *FWarningSink = nullptr;
    std::unique_ptr<TCountryDatabase> CountryDB;
    std::unique_ptr<TCountryDatabaseThread> CountryDBThread;
    TCountryDatabaseThread::TLoader FLoader;
    struct TIndex;
    std::unique_ptr<TIndex> FIndex; // address+port -> count, kept in step with the records
};

/// Proxy criteria: country, port, anonymity type, botnet, POST, HTTPS POST, ping and speed.
class TProxyFilter : public TKvCollectionFilter {
    Q_OBJECT
    Q_PROPERTY(QString Country READ Country WRITE SetCountry)
    Q_PROPERTY(QString Port READ Port WRITE SetPort)
    Q_PROPERTY(QString ProxyType READ ProxyType WRITE SetProxyType)
    Q_PROPERTY(TProxtData::TTriState BotNetProxy READ BotNetProxy WRITE SetBotNetProxy)
    Q_PROPERTY(TProxtData::TTriState HttpsPost READ HttpsPost WRITE SetHttpsPost)
    Q_PROPERTY(TProxtData::TTriState HttpPost READ HttpPost WRITE SetHttpPost)
    Q_PROPERTY(double MaxPing READ MaxPing WRITE SetMaxPing)
    Q_PROPERTY(double MiniSpeed READ MiniSpeed WRITE SetMiniSpeed)
public:
    explicit TProxyFilter(QObject *parent = nullptr);
    void Assign(const QObject *Source) override;
    bool FilterOK(const TMyCollectionItem *Item) const override;

    QString Country() const { return FCountry; }
    void SetCountry(const QString &Value) { FCountry = Value; }
    QString Port() const { return FPort; }
    void SetPort(const QString &Value) { FPort = Value; }
    QString ProxyType() const { return FProxyType; }
    void SetProxyType(const QString &Value) { FProxyType = Value; }
    TTriState BotNetProxy() const { return FBotNetProxy; }
    void SetBotNetProxy(TTriState Value) { FBotNetProxy = Value; }
    TTriState HttpsPost() const { return FHttpsPost; }
    void SetHttpsPost(TTriState Value) { FHttpsPost = Value; }
    TTriState HttpPost() const { return FHttpPost; }
    void SetHttpPost(TTriState Value) { FHttpPost = Value; }
    double MaxPing() const { return FMaxPing; }
    void SetMaxPing(double Value) { FMaxPing = Value; }
    double MiniSpeed() const { return FMiniSpeed; }
    void SetMiniSpeed(double Value) { FMiniSpeed = Value; }

private:
    TTriState FHttpPost = tsUnknown;
    double FMiniSpeed = 0;
    double FMaxPing = 0;
    QString FProxyType = QStringLiteral("any");
    QString FPort = QStringLiteral("any");
    QString FCountry = QStringLiteral("any");
    TTriState FHttpsPost = tsUnknown;
    TTriState FBotNetProxy = tsUnknown;
};
