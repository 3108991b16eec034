#pragma once
// A random browser identity in the style of the browsers of the time, sent as "User-Agent"
// with every request that the checker makes through a proxy under test.

#include <QString>
#include <QStringList>

/// "Mozilla/M.0 (PLATFORM OS LANG; rv:1.d.d.d)"; safe to call from many threads at once.
QString RandomUserAgent();

/// The three tables the identity is drawn from, in their fixed order (exposed for the tests).
const QStringList &UserAgentPlatforms();
const QStringList &UserAgentSystems();
const QStringList &UserAgentLanguages();
