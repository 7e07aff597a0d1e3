// Test main of the window tests on a real X server: a private Xvfb is
// started before the QApplication, which then uses the xcb platform on it.
// Listing the tests (ctest's discovery) needs no display.
#include "tests/hardening/XServer.h"

#include <QApplication>
#include <clocale>
#include <cstring>
#include <gtest/gtest.h>

namespace {
bool g_onXServer = false;
} // namespace

bool onXServer()
{
    return g_onXServer;
}

int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    ::testing::InitGoogleTest(&argc, argv);
    XServer server; // outlives the application
    g_onXServer = !listing && server.start();
    if (!g_onXServer)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("VELMOR_AUDIO_OUTPUT"))
        qputenv("VELMOR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return RUN_ALL_TESTS();
}
