#include <QGuiApplication>

#include <gtest/gtest.h>

// Pictures are decoded and drawn, so the book tests run inside a (display-less) application.
int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
