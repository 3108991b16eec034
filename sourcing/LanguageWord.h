#pragma once
// The English word for an interface language that the web services expect in "lang".

#include <QString>

/// "русский" -> "russian", "український" -> "ukrainian", "française" -> "french", "español" ->
/// "spanish", "deutsch" -> "german"; any other name, "english" included, gives "english". Only the
/// letters A to Z are lowered before the comparison, so "DEUTSCH" is German but "FRANÇAISE" is not.
QString TranslateLangugae(const QString &Language);
