#include <gtest/gtest.h>

#include <QApplication>
#include <QNetworkProxy>
#include <QStandardPaths>

// The Qt tests' entry: a QApplication before any test runs.
int main(int argc, char** argv)
{
    // Widgets without a display, and settings nowhere near the user's own.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    // Local test servers are reached directly, whatever proxy the environment names.
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
