#include "geoip/CountryDatabase.h"

#include "platform/SysUtils.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QResource>
#include <QSaveFile>
#include <algorithm>

namespace {

constexpr qsizetype kRangeRecordSize = 9;
constexpr qsizetype kShortStringMax = 255;

// The bytes of an embedded resource (a build without the resources linked in fails here). An
// uncompressed one is used where it lies in the program (no copy of the few megabytes of address
// blocks); the resource outlives every use.
QByteArray ReadResource(const QString &name) {
    const QResource r(QStringLiteral(":/") + name);
    if (!r.isValid())
        throw EInOutError(QStringLiteral("Resource %1 not found").arg(name));
    if (r.compressionAlgorithm() == QResource::NoCompression)
        return QByteArray::fromRawData(reinterpret_cast<const char *>(r.data()), r.size());
    return r.uncompressedData();
}

// Splits a "first;second;rest" line of the import files into at most three fields (the last keeps
// any further ';'); returns how many fields the line has.
int SplitCsvLine(QStringView Line, QStringView (&Fields)[3]) {
    int n = 0;
    for (; n < 2; ++n) {
        const qsizetype at = Line.indexOf(u';');
        if (at < 0)
            break;
        Fields[n] = Line.left(at);
        Line = Line.mid(at + 1);
    }
    Fields[n] = Line;
    return n + 1;
}

// Reads a text file and splits it into lines ending in LF or CR LF; the text after the last line
// end is one more line only when it is not empty, so "a\n" is one line and "a\n\n" two.
QStringList ReadLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, f.errorString()));
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const qsizetype next = end < 0 ? bytes.size() : end + 1;
        if (end < 0)
            end = bytes.size();
        qsizetype len = end - start;
        if (len > 0 && bytes[end - 1] == '\r')
            --len;
        // The files are single-byte text: every byte is one character.
        lines.append(QString::fromLatin1(bytes.constData() + start, len));
        start = next;
    }
    return lines;
}

void AppendShortString(QByteArray &out, const QString &s) {
    const QByteArray bytes = s.left(kShortStringMax).toLatin1();
    out.append(static_cast<char>(static_cast<uint8_t>(bytes.size())));
    out.append(bytes);
}

void AppendUInt32(QByteArray &out, uint32_t v) {
    const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
    out.append(b, 4);
}

// Writes the whole content or nothing: the old file stays as it was when anything fails.
void WriteFileWhole(const QString &path, const QByteArray &bytes) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw EInOutError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, f.errorString()));
    if (f.write(bytes) != bytes.size() || !f.commit())
        throw EInOutError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, f.errorString()));
}

// One part of a dotted address: the standard integer conversion, then its low 8 bits.
uint32_t OctetOf(QStringView part) {
    int32_t v = 0;
    if (!TryStrToInt(part, v))
        StrToInt(part); // raises the conversion error with its standard message
    return static_cast<uint32_t>(v) & 0xFF;
}

constexpr uint32_t kBucketCount = 1u << 16;

} // namespace

// ---------------------------------------------------------------------------------------------
// TCountryDatabase

void TCountryDatabase::LoadDatabase(const QString &dirName) {
    Q_UNUSED(dirName); // the data is part of the program, never read from a folder
    const QByteArray ips = ReadResource(QStringLiteral("WHOIS_IPS"));
    const QByteArray countries = ReadResource(QStringLiteral("WHOIS_COUNTRY"));

    netRanges.clear();
    netRanges.reserve(static_cast<size_t>((ips.size() + kRangeRecordSize - 1) / kRangeRecordSize));
    const auto *p = reinterpret_cast<const uint8_t *>(ips.constData());
    const qsizetype size = ips.size();
    // A short last record keeps zeros in the bytes that are missing, as a partial read would.
    for (qsizetype pos = 0; pos < size; pos += kRangeRecordSize) {
        uint8_t tail[kRangeRecordSize] = {};
        const uint8_t *rec = p + pos;
        if (size - pos < kRangeRecordSize) {
            std::copy(p + pos, p + size, tail);
            rec = tail;
        }
        TNetRange r;
        r.rStart = uint32_t(rec[0]) | uint32_t(rec[1]) << 8 | uint32_t(rec[2]) << 16 | uint32_t(rec[3]) << 24;
        r.rEnd = uint32_t(rec[4]) | uint32_t(rec[5]) << 8 | uint32_t(rec[6]) << 16 | uint32_t(rec[7]) << 24;
        r.cIndex = rec[8];
        netRanges.push_back(r);
    }

    countryInfos.clear();
    const auto *c = reinterpret_cast<const uint8_t *>(countries.constData());
    const qsizetype csize = countries.size();
    qsizetype pos = 0;
    auto readByte = [&]() -> uint8_t { return pos < csize ? c[pos++] : 0; };
    auto readString = [&]() -> QString {
        const qsizetype len = std::min<qsizetype>(readByte(), csize - pos);
        const QString s = QString::fromLatin1(reinterpret_cast<const char *>(c) + pos, len);
        pos += len;
        return s;
    };
    while (pos < csize) {
        TCountryInfo info;
        info.cIndex = readByte();
        info.code = readString();
        info.name = readString();
        countryInfos.push_back(std::move(info));
    }
    BuildIndex();
}

void TCountryDatabase::DatabaseFromCSV(const QString &dirName) {
    // The table must describe countryInfos whatever happens below, also when a line fails.
    struct Reindex {
        TCountryDatabase *db;
        ~Reindex() { db->BuildIndex(); }
    } reindex{this};

    const QStringList ipLines = ReadLines(dirName + QStringLiteral("/ip.csv"));
    netRanges.clear();
    netRanges.reserve(static_cast<size_t>(ipLines.size()));
    for (const QString &line : ipLines) {
        // The element goes in first and keeps whatever was converted before a failing field.
        TNetRange &r = netRanges.emplace_back();
        QStringView f[3];
        const int n = SplitCsvLine(line, f);
        if (n < 2)
            continue;
        r.rStart = static_cast<uint32_t>(StrToInt64(f[0]));
        if (n < 3)
            continue;
        r.rEnd = static_cast<uint32_t>(StrToInt64(f[1]));
        r.cIndex = static_cast<uint8_t>(StrToInt(f[2]));
    }

    const QStringList ccLines = ReadLines(dirName + QStringLiteral("/cc.csv"));
    countryInfos.clear();
    countryInfos.reserve(static_cast<size_t>(ccLines.size()));
    for (const QString &line : ccLines) {
        TCountryInfo &info = countryInfos.emplace_back();
        QStringView f[3];
        const int n = SplitCsvLine(line, f);
        if (n < 2)
            continue;
        info.cIndex = static_cast<uint8_t>(StrToInt(f[0]));
        if (n < 3)
            continue;
        info.code = f[1].left(kShortStringMax).toString();
        info.name = f[2].left(kShortStringMax).toString();
    }
}

void TCountryDatabase::SaveDatabase(const QString &dirName) const {
    QByteArray ips;
    ips.reserve(static_cast<qsizetype>(netRanges.size()) * kRangeRecordSize);
    for (const TNetRange &r : netRanges) {
        AppendUInt32(ips, r.rStart);
        AppendUInt32(ips, r.rEnd);
        ips.append(static_cast<char>(r.cIndex));
    }
    QByteArray countries;
    for (const TCountryInfo &info : countryInfos) {
        countries.append(static_cast<char>(info.cIndex));
        AppendShortString(countries, info.code);
        AppendShortString(countries, info.name);
    }
    WriteFileWhole(dirName + QStringLiteral("/ip.db"), ips);
    WriteFileWhole(dirName + QStringLiteral("/cc.db"), countries);
}

uint32_t TCountryDatabase::IpToKey(QStringView ip) {
    // The first three parts end at a "."; whatever follows the third "." is the fourth part, so
    // "1.2.3" fails on an empty third part and "1.2.3.4.5" on the fourth part "4.5".
    // Parts of one to nine plain digits, the usual form, are read in one pass; any other part is
    // cut out exactly and goes through the integer conversion, which accepts or rejects it.
    const QChar *p = ip.data();
    const QChar *const end = p + ip.size();
    uint32_t key = 0;
    for (int part = 0; part < 4; ++part) {
        const QChar *const start = p;
        uint32_t v = 0;
        while (p < end && p - start < 10) {
            const uint32_t d = uint32_t(p->unicode()) - u'0';
            if (d > 9)
                break;
            v = v * 10 + d;
            ++p;
        }
        const bool last = part == 3;
        const qsizetype digits = p - start;
        if (digits > 0 && digits <= 9 && (last ? p == end : (p < end && *p == u'.'))) {
            key = key << 8 | (v & 0xFF);
            if (!last)
                ++p;
            continue;
        }
        const QStringView rest(start, end);
        QStringView text = rest;
        p = end;
        if (!last) {
            const qsizetype dot = rest.indexOf(u'.');
            text = dot < 0 ? QStringView() : rest.left(dot);
            if (dot >= 0)
                p = start + dot + 1;
        }
        key = key << 8 | OctetOf(text);
    }
    return key;
}

const TNetRange *TCountryDatabase::FindRange(uint32_t key) const {
    const TNetRange *ranges = netRanges.data();
    ptrdiff_t low = 0;
    ptrdiff_t high = static_cast<ptrdiff_t>(netRanges.size()) - 1;
    if (!fBucketStart.empty() && fIndexedRanges == ranges && fIndexedRangeCount == netRanges.size()) {
        // Ascending, disjoint blocks: only those from the first one reaching this key's 64 Ki
        // bucket to the first one reaching the next bucket can hold the key. At most one block
        // holds it, so searching this short stretch finds what the whole bisection would.
        const uint32_t bucket = key >> 16;
        low = fBucketStart[bucket];
        high = std::min<ptrdiff_t>(fBucketStart[bucket + 1], high);
    }
    // Bisection, every comparison unsigned; the bounds are signed so that the high one may move
    // below the first element.
    while (low <= high) {
        const ptrdiff_t probe = low + (high - low) / 2;
        const TNetRange &r = ranges[probe];
        if (r.rStart <= key && key <= r.rEnd)
            return &r;
        if (r.rStart < key)
            low = probe + 1;
        else
            high = probe - 1;
    }
    return nullptr;
}

const TCountryInfo *TCountryDatabase::FindCountryByKey(uint32_t key) const {
    const TNetRange *r = FindRange(key);
    return r ? FindCountryByIndex(r->cIndex) : nullptr;
}

const TCountryInfo *TCountryDatabase::FindCountryByIndex(uint8_t cIndex) const {
    if (fIndexedCount == countryInfos.size()) {
        const int32_t at = fFirstCountry[cIndex];
        if (at < 0)
            return nullptr;
        if (static_cast<size_t>(at) < countryInfos.size() && countryInfos[static_cast<size_t>(at)].cIndex == cIndex)
            return &countryInfos[static_cast<size_t>(at)];
    }
    // The arrays were edited after the table was built: the first match in array order.
    for (const TCountryInfo &info : countryInfos)
        if (info.cIndex == cIndex)
            return &info;
    return nullptr;
}

const TCountryInfo *TCountryDatabase::FindCountryByIp(QStringView ip) const {
    return FindCountryByKey(IpToKey(ip));
}

TCountryInfo TCountryDatabase::GetCountryByIp(QStringView ip) const {
    const TCountryInfo *info = FindCountryByIp(ip);
    return info ? *info : TCountryInfo();
}

void TCountryDatabase::BuildIndex() {
    fFirstCountry.fill(-1);
    // Walk backwards so that the first country of each index wins.
    for (size_t i = countryInfos.size(); i-- > 0;)
        fFirstCountry[countryInfos[i].cIndex] = static_cast<int32_t>(i);
    fIndexedCount = countryInfos.size();

    fBucketStart.clear();
    fIndexedRanges = netRanges.data();
    fIndexedRangeCount = netRanges.size();
    bool ordered = true;
    for (size_t i = 0; i < netRanges.size() && ordered; ++i)
        ordered = netRanges[i].rStart <= netRanges[i].rEnd && (i == 0 || netRanges[i].rStart > netRanges[i - 1].rEnd);
    if (!ordered || netRanges.empty())
        return;
    fBucketStart.resize(kBucketCount + 1);
    size_t i = 0;
    for (uint32_t bucket = 0; bucket < kBucketCount; ++bucket) {
        while (i < netRanges.size() && netRanges[i].rEnd < bucket << 16)
            ++i;
        fBucketStart[bucket] = static_cast<uint32_t>(i);
    }
    fBucketStart[kBucketCount] = static_cast<uint32_t>(netRanges.size());
}

// ---------------------------------------------------------------------------------------------
// TCountryDatabaseThread

TCountryDatabaseThread::TCountryDatabaseThread(TCountryDatabase *countryDatabase, const QString &dirName,
                                               QObject *parent)
    : TCountryDatabaseThread(
          countryDatabase, dirName, [](TCountryDatabase &db, const QString &dir) { db.LoadDatabase(dir); }, parent) {}

TCountryDatabaseThread::TCountryDatabaseThread(TCountryDatabase *countryDatabase, const QString &dirName,
                                               TLoader loader, QObject *parent)
    : QThread(parent), fCountryDatabase(countryDatabase), fDirName(dirName), fLoader(std::move(loader)) {
    // A wait that begins after the application started to quit must not block it.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(
            app, &QCoreApplication::aboutToQuit, this, [this] { fQuitting.store(true); }, Qt::DirectConnection);
    start(QThread::IdlePriority);
}

TCountryDatabaseThread::~TCountryDatabaseThread() {
    // The loader writes into a database that its owner frees right after this object: the load
    // must be over first.
    wait();
}

void TCountryDatabaseThread::run() {
    try {
        fLoader(*fCountryDatabase, fDirName);
    } catch (...) {
        // Nothing half-read is left behind: a failed database is empty and finds no country.
        fCountryDatabase->netRanges.clear();
        fCountryDatabase->countryInfos.clear();
        fCountryDatabase->BuildIndex();
        fFailed.store(true, std::memory_order_release);
    }
    fLoaded.store(true, std::memory_order_release);
}

bool TCountryDatabaseThread::WaitLoaded() {
    if (Loaded())
        return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        // No event loop of ours to keep alive: a plain wait.
        wait();
        return Loaded();
    }
    if (fQuitting.load() || QCoreApplication::closingDown())
        return false;
    // The loop ends when the load is over or when the application quits: QCoreApplication::exit
    // ends every running event loop of the main thread, this one included, and a loop started
    // after it returns at once.
    QEventLoop loop;
    connect(this, &QThread::finished, &loop, &QEventLoop::quit);
    connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    if (!Loaded())
        loop.exec();
    return Loaded();
}
