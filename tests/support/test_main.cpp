// Test main: an offscreen QApplication (widgets, timers and queued events need one)
// and the silent audio output, unless the environment asks for others.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("CLIPWREN_AUDIO")) qputenv("CLIPWREN_AUDIO", "silent");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
