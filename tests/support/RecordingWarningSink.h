#pragma once
// A warning sink for tests of code that reports through IWarningSink: it counts the warnings and
// keeps the last one. Header-only, so only tests that link the catalogue pull it in.

#include "catalogue/Marlo.Common.ProxyList.h"

#include <QString>

namespace testsupport {

struct RecordingWarningSink : IWarningSink {
    int Calls = 0;
    QString Msg, Url;
    void ShowWarningMessage(const QString &M, const QString &U) override {
        ++Calls;
        Msg = M;
        Url = U;
    }
};

} // namespace testsupport
