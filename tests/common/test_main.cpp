// Test main shared by every test executable: widgets run on the offscreen
// platform, mpv uses its null audio output, and LC_NUMERIC is "C" as libmpv
// demands.
#include <QApplication>
#include <clocale>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VELMOR_AUDIO_OUTPUT"))
        qputenv("VELMOR_AUDIO_OUTPUT", "null");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}
