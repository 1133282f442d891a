// Test entry for widget tests (run with QT_QPA_PLATFORM=offscreen).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZENTLOG"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
