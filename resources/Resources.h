#pragma once
// Names of the embedded data resources (the country database and the flag pictures).

#include <QString>
#include <QStringView>

/// The resource path of a country's flag picture, ":/FLAG_" + code; the no-country picture
/// ":/FLAG_NN" when the code is empty or has no picture.
QString FlagResourcePath(QStringView code);
