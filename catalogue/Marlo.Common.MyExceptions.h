#pragma once
// The program's own exception classes.

#include "platform/SysUtils.h"

class TMyCollection;

/// Base of the errors that end a user's job on purpose.
class EUserException : public Exception {
public:
    using Exception::Exception;
};

/// A check worker was told to stop; empty message.
class EAbortByUser : public EUserException {
public:
    EAbortByUser() : EUserException(QString()) {}
};

/// A check worker found no more work: "Opration finished".
class EJobFinished : public EUserException {
public:
    EJobFinished() : EUserException(QStringLiteral("Opration finished")) {}
};

/// A job was started while one is running: "Job is already running".
class EJobAlreadyActive : public Exception {
public:
    EJobAlreadyActive() : Exception(QStringLiteral("Job is already running")) {}
};

/// Misuse of a collection; keeps the collection concerned (may be null).
class ECollectonException : public Exception {
public:
    ECollectonException(TMyCollection *inCollection, const QString &Msg) : Exception(Msg), FCollection(inCollection) {}
    TMyCollection *Collection() const { return FCollection; }

private:
    TMyCollection *FCollection;
};
