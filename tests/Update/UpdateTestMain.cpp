#include <gtest/gtest.h>
#include <QCoreApplication>

// The download thread posts to and synchronises with the main thread's event loop.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
