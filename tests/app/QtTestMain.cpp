// One QApplication for the whole binary, offscreen unless a platform was chosen (test discovery
// runs this binary at build time, where there is no display).
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "app/QtMainQueue.h"
#include "platform/Dispatch.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    orvan::Dispatch::setMain(std::make_shared<orvan::QtMainQueue>());
    return RUN_ALL_TESTS();
}
