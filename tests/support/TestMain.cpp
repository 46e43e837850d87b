#include "support/TestHome.h"

#ifdef CORVINEL_GUI_TEST
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Every test process runs in its own home: no test can read or change the user's files.
int main(int argc, char** argv) {
    std::string root = (QDir::tempPath() + QStringLiteral("/corvinel-test-XXXXXX")).toStdString();
    if (!::mkdtemp(root.data()))
        return 1;
    redirectHome(QByteArray::fromStdString(root));

    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    QDir(QString::fromStdString(root)).removeRecursively();
    return status;
}
