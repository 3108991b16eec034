#pragma once
// Small runtime helpers shared by every subsystem: the exception base with a message text,
// the conversion errors, and the number conversions that always use "." as decimal separator.

#include <QString>
#include <QStringList>
#include <QStringView>
#include <cstdint>
#include <exception>

/// Base of every error this program raises: an exception that carries a message text.
class Exception : public std::exception {
public:
    explicit Exception(QString msg = QString());
    const QString &Message() const { return FMessage; }
    void SetMessage(const QString &msg);
    const char *what() const noexcept override { return FWhat.constData(); }

private:
    QString FMessage;
    QByteArray FWhat;
};

/// A text that is not a number of the wanted kind.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

/// A file that cannot be opened, read or written.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

/// An assignment between objects of unrelated classes.
class EAssignError : public Exception {
public:
    using Exception::Exception;
};

/// An operating-system call that failed; ErrorCode() is the errno value it left.
class EOSError : public Exception {
public:
    EOSError(int errorCode, const QString &msg) : Exception(msg), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

/// Raises EOSError for errno value `errorCode` with the system's text for it, "context: text".
[[noreturn]] void RaiseLastOSError(int errorCode, const QString &context = QString());

/// Decimal integer conversion: optional leading blanks, an optional sign, then digits only.
/// Raises EConvertError "'TEXT' is not a valid integer value" otherwise, also on overflow.
int32_t StrToInt(QStringView s);
int64_t StrToInt64(QStringView s);
/// Same rules, without raising: false when the text is no integer.
bool TryStrToInt(QStringView s, int32_t &value);
bool TryStrToInt64(QStringView s, int64_t &value);

/// Decimal number with "." as separator and an optional exponent.
/// Raises EConvertError "'TEXT' is not a valid floating point value" otherwise.
double StrToFloat(QStringView s);
bool TryStrToFloat(QStringView s, double &value);

/// General float-to-text form: up to 15 significant digits, "." as separator, no trailing zeros.
QString FloatToStr(double value);

/// Splits text into fields the way delimited text is read: blanks (codes 1 to 32) separate fields
/// like the delimiter does, double quotes enclose a field ("" inside stands for one quote), and a
/// delimiter at the very end adds one empty field.
QStringList SplitDelimited(QStringView text, QChar delimiter);
/// The same, appending to a caller's list (cleared first) so hot loops can reuse its storage.
void SplitDelimitedInto(QStringView text, QChar delimiter, QStringList &fields);

/// Removes leading and trailing characters with codes 0 to 32.
QString TrimControl(QStringView s);

/// The user's configuration folder by the XDG rules: XdgConfigHome (the variable's value) when it
/// is an absolute path, otherwise Home's ".config".
QString XdgConfigHome(const QString &XdgConfigHome, const QString &Home);
