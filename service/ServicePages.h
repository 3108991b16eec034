#pragma once
// The product's site as relayvane-service serves it: the home page and the FAQ page.

#include <QByteArray>

/// The home page "/" (UTF-8 HTML).
QByteArray HomePageHtml();
/// The FAQ page "/faq.php" (UTF-8 HTML): answers what the program's warnings link to.
QByteArray FaqPageHtml();
