#pragma once
// Small pieces of JSON writing shared by the commands that keep their own key order.

#include <QByteArray>
#include <QString>

/// Appends S as a JSON string: quotes, escapes for control characters and surrogates, UTF-8 otherwise.
void AppendJsonString(QByteArray &Out, const QString &S);
