#pragma once
// A GoogleTest main for widget tests: the GL format and the QApplication
// exist before any test, as in the viewer itself.
#include "app/CquillmereApp.h"
#include "render/qt/PSRendererSurfaceQt.h"

#include <QApplication>
#include <gtest/gtest.h>

#define QM_APP_TEST_MAIN()                                                                                   \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        ::testing::InitGoogleTest(&argc, argv);                                                              \
        CquillmereApp::SurfaceFormatDefaultSet();                                                            \
        QApplication application(argc, argv);                                                                \
        PSRendererSurfaceQt::PlatformFormatChoose();                                                         \
        return RUN_ALL_TESTS();                                                                              \
    }
