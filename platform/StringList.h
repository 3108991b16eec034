#pragma once
// Our stand-in for the platform's string list object: an owned list of text lines that a component
// publishes as a property. The lines are published as the property "Strings", so the component
// stream writes a list property X as the record "X.Strings" exactly as existing config.cfg files do.

#include <QObject>
#include <QStringList>

/// An ordered list of text lines owned by a component, with the name=value helpers of the platform.
class TStringList : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList Strings READ Strings WRITE SetStrings)
public:
    explicit TStringList(QObject *parent = nullptr) : QObject(parent) {}

    const QStringList &Strings() const { return FStrings; }
    void SetStrings(const QStringList &Value) { FStrings = Value; }
    /// Copies the lines of Source; this object stays the owner of its own list.
    void Assign(const TStringList &Source) { FStrings = Source.FStrings; }

    int Count() const { return static_cast<int>(FStrings.size()); }
    const QString &operator[](int Index) const { return FStrings.at(Index); }
    int Add(const QString &Line);
    void Insert(int Index, const QString &Line) { FStrings.insert(Index, Line); }
    void Delete(int Index) { FStrings.removeAt(Index); }
    void Clear() { FStrings.clear(); }
    /// Exact, case-sensitive line search; -1 when absent.
    int IndexOf(const QString &Line) const { return static_cast<int>(FStrings.indexOf(Line)); }

    /// The part before the first "=" of line Index (the whole line when it has none).
    QString Names(int Index) const;
    /// The part after the first "=" of line Index (empty when it has none).
    QString ValueFromIndex(int Index) const;
    /// Position of the first line whose name equals Name without regard to case; -1 when absent.
    int IndexOfName(const QString &Name) const;
    /// The value of the first line named Name; empty when there is none.
    QString Values(const QString &Name) const;
    /// Sets the value of the line named Name, appending "Name=Value" when there is none; an empty
    /// Value removes the line, as the platform's string list does.
    void SetValues(const QString &Name, const QString &Value);

private:
    QStringList FStrings;
};
