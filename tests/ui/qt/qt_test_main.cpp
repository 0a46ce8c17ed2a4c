// GoogleTest's main with the QApplication that widget tests need. Without a
// display the tests draw offscreen (CTest sets that; so does this, for runs
// by hand and for listing the tests).

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
