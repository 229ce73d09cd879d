#pragma once

// Desktop rectangles of the window facility as Qt Test data and in its failure messages.

#include "platform/windows.h"

#include <QMetaType>
#include <QString>
#include <QtTest>

Q_DECLARE_METATYPE(platform::windows::Rect)

namespace QTest {
template <> inline char* toString(const platform::windows::Rect& r) {
    return QTest::toString(
        QStringLiteral("%1,%2 %3x%4").arg(r.x).arg(r.y).arg(r.width).arg(r.height));
}
} // namespace QTest
