// Test entry point: an application object (offscreen unless told otherwise),
// so that widgets, timers and the window-thread hand-off work in every test.
#include <QApplication>

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
